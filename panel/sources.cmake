list(APPEND CTSLAB_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/colourscale.h
    ${CMAKE_CURRENT_LIST_DIR}/slicesctrl.h
    ${CMAKE_CURRENT_LIST_DIR}/slicesctrl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windowpresets.h
    ${CMAKE_CURRENT_LIST_DIR}/windowpresets.cpp
)
