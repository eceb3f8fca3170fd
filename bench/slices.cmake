# Reading rate of a slice set: PNG stacks loaded on the worker thread.
qt_add_executable(bench_load ${CMAKE_CURRENT_LIST_DIR}/bench_load.cpp)
target_link_libraries(bench_load PRIVATE ctcore)
