list(APPEND CTSLAB_CORE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/cellshape.h
    ${CMAKE_CURRENT_LIST_DIR}/cellshape.cpp
    ${CMAKE_CURRENT_LIST_DIR}/slice.h
    ${CMAKE_CURRENT_LIST_DIR}/slice.cpp
    ${CMAKE_CURRENT_LIST_DIR}/slicetiles.h
    ${CMAKE_CURRENT_LIST_DIR}/slicetiles.cpp
    ${CMAKE_CURRENT_LIST_DIR}/textnumber.h
    ${CMAKE_CURRENT_LIST_DIR}/ctimagereader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tablereader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dicomreader.h
    ${CMAKE_CURRENT_LIST_DIR}/dicomreader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/slicedatas.h
    ${CMAKE_CURRENT_LIST_DIR}/slicedatas.cpp
)
