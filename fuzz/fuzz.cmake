# libFuzzer targets for the two text readers and the DICOM reader, one source
# built once per reader; the whole build already carries
# -fsanitize=fuzzer-no-link,address,undefined, the targets add the driver.
foreach(pair "fuzz_ctimage;readCtImage" "fuzz_table;readTable" "fuzz_dicom;readDicom")
    list(GET pair 0 target)
    list(GET pair 1 reader)
    add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/fuzz_reader.cpp)
    target_compile_definitions(${target} PRIVATE FUZZ_READER=${reader})
    target_link_libraries(${target} PRIVATE ctcore)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endforeach()
# The DICOM target also runs the header pass that orders a series.
target_compile_definitions(fuzz_dicom PRIVATE FUZZ_ORDER)
