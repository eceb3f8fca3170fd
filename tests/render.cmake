# ctslab-render's options and driver, and the window against it on the
# sample sets.
ctslab_add_test(renderjob ${CMAKE_CURRENT_LIST_DIR}/tst_renderjob.cpp ctcore)
target_compile_definitions(tst_renderjob PRIVATE CTSLAB_SAMPLE_DATA="${PROJECT_SOURCE_DIR}/data")

