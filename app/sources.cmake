list(APPEND CTSLAB_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tokenizer.h
    ${CMAKE_CURRENT_LIST_DIR}/tokenizer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/config.h
    ${CMAKE_CURRENT_LIST_DIR}/config.cpp
    ${CMAKE_CURRENT_LIST_DIR}/startup.h
    ${CMAKE_CURRENT_LIST_DIR}/startup.cpp
)
