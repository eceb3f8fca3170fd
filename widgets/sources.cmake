list(APPEND CTSLAB_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mousec.h
    ${CMAKE_CURRENT_LIST_DIR}/mousec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/chcoord.h
    ${CMAKE_CURRENT_LIST_DIR}/chcoord.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dispa.h
    ${CMAKE_CURRENT_LIST_DIR}/dispa.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exlabel.h
    ${CMAKE_CURRENT_LIST_DIR}/exlabel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picturesaving.h
    ${CMAKE_CURRENT_LIST_DIR}/picturesaving.cpp
)
