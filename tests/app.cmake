# Application shell: tokenizer, configuration store, start-up decisions, the
# embedded catalogue (once per variant) and the real programs started as
# processes.
ctslab_add_test(tokenizer ${CMAKE_CURRENT_LIST_DIR}/tst_tokenizer.cpp ctcore)
ctslab_add_test(config ${CMAKE_CURRENT_LIST_DIR}/tst_config.cpp ctcore)

# Each catalogue test also looks for its .qm inside the matching program.
ctslab_add_test(catalogue ${CMAKE_CURRENT_LIST_DIR}/tst_catalogue.cpp ctcore)
ctslab_embed_catalogue(tst_catalogue full)
add_dependencies(tst_catalogue ctslab)
target_compile_definitions(tst_catalogue PRIVATE
    CTSLAB_PROGRAM="$<TARGET_FILE:ctslab>"
    CTSLAB_QM_FILE="${CMAKE_BINARY_DIR}/qm/full/Mek_ja_JP.qm")
ctslab_add_test(catalogue_lite ${CMAKE_CURRENT_LIST_DIR}/tst_catalogue.cpp ctcore_lite)
ctslab_embed_catalogue(tst_catalogue_lite lite)
add_dependencies(tst_catalogue_lite ctslab-lite)
target_compile_definitions(tst_catalogue_lite PRIVATE
    CTSLAB_PROGRAM="$<TARGET_FILE:ctslab-lite>"
    CTSLAB_QM_FILE="${CMAKE_BINARY_DIR}/qm/lite/Mek_ja_JP.qm")

ctslab_add_test(startup ${CMAKE_CURRENT_LIST_DIR}/tst_startup.cpp ctcore)
add_dependencies(tst_startup ctslab ctslab-lite)
target_compile_definitions(tst_startup PRIVATE
    CTSLAB_PROGRAM="$<TARGET_FILE:ctslab>"
    CTSLAB_LITE_PROGRAM="$<TARGET_FILE:ctslab-lite>")
