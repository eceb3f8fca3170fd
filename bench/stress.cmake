# The real window offscreen under a restless user; prints counts and memory.
qt_add_executable(stress_window ${CMAKE_CURRENT_LIST_DIR}/stress_window.cpp)
target_link_libraries(stress_window PRIVATE ctcore)
target_compile_definitions(stress_window PRIVATE
    CTSLAB_FUZZ_CORPUS="${PROJECT_SOURCE_DIR}/fuzz/corpus")
