qt_add_executable(bench_render bench/bench_render.cpp)
target_link_libraries(bench_render PRIVATE ctcore)
