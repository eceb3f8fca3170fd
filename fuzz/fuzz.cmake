# libFuzzer targets; the whole build already carries -fsanitize=fuzzer-no-link,
# address,undefined, the targets add the driver. One source is built once per
# slice reader, and once for the whole of Slice::load.
foreach(pair "fuzz_ctimage;readCtImage" "fuzz_table;readTable" "fuzz_dicom;readDicom" "fuzz_load;load"
             "fuzz_frames;readDicom")
    list(GET pair 0 target)
    list(GET pair 1 reader)
    add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/fuzz_reader.cpp)
    target_compile_definitions(${target} PRIVATE FUZZ_READER=${reader})
    target_link_libraries(${target} PRIVATE ctcore)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endforeach()
# The DICOM target also runs the header pass that orders a series.
target_compile_definitions(fuzz_dicom PRIVATE FUZZ_ORDER)
# Multi-frame images and their survey first, then JPEG 2000 and the rest of
# single images.
target_compile_definitions(fuzz_frames PRIVATE FUZZ_ORDER FUZZ_FRAMES)

# The configuration reader with its tokenizer.
add_executable(fuzz_config ${CMAKE_CURRENT_LIST_DIR}/fuzz_config.cpp)
target_link_libraries(fuzz_config PRIVATE ctcore)
target_link_options(fuzz_config PRIVATE -fsanitize=fuzzer)

# The volume readers, one target per reader and suffix: NIfTI as .nii and
# .nii.gz, NRRD and MetaImage in their one-file forms.
foreach(entry "fuzz_nifti;readNiftiFile;.nii" "fuzz_niftigz;readNiftiFile;.nii.gz"
              "fuzz_nrrd;readItkFile;.nrrd" "fuzz_mha;readItkFile;.mha")
    list(GET entry 0 target)
    list(GET entry 1 reader)
    list(GET entry 2 suffix)
    add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/fuzz_volume.cpp)
    target_compile_definitions(${target} PRIVATE FUZZ_VOLUME=${reader} FUZZ_SUFFIX="${suffix}")
    target_link_libraries(${target} PRIVATE ctcore)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endforeach()
