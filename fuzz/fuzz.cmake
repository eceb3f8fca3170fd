# libFuzzer targets for the two text readers; the whole build already carries
# -fsanitize=fuzzer-no-link,address,undefined, the targets add the driver.
foreach(target fuzz_ctimage fuzz_table)
    add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
    target_link_libraries(${target} PRIVATE ctcore)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endforeach()
