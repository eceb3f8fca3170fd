list(APPEND CTSLAB_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/viewgeometry.h
    ${CMAKE_CURRENT_LIST_DIR}/viewgeometry.cpp
    ${CMAKE_CURRENT_LIST_DIR}/framedrawing.h
    ${CMAKE_CURRENT_LIST_DIR}/framedrawing.cpp
    ${CMAKE_CURRENT_LIST_DIR}/projection.h
    ${CMAKE_CURRENT_LIST_DIR}/projection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fastvolume.h
    ${CMAKE_CURRENT_LIST_DIR}/fastvolume.cpp
    ${CMAKE_CURRENT_LIST_DIR}/renderpool.h
    ${CMAKE_CURRENT_LIST_DIR}/renderpool.cpp
)
