# ctslab-render: the full program's pictures without a window. Its options
# and its driver live in the full core library, where the tests reach them.
target_sources(ctcore PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/renderoptions.h
    ${CMAKE_CURRENT_LIST_DIR}/renderoptions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/renderjob.h
    ${CMAKE_CURRENT_LIST_DIR}/renderjob.cpp
)
qt_add_executable(ctslab-render ${CMAKE_CURRENT_LIST_DIR}/rendermain.cpp)
target_link_libraries(ctslab-render PRIVATE ctcore)
target_compile_definitions(ctslab-render PRIVATE CTSLAB_VERSION="${PROJECT_VERSION}")
