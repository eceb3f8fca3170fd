# Compiles the Japanese catalogue of one variant (full or lite) and embeds it,
# uncompressed, at the resource root as "Mek_ja_JP.qm".
#
# Each variant's .ts is compiled by exactly one lrelease rule; a second rule
# for the same output in this directory would clash, so every further target
# reuses the first one's .qm.
set(CTSLAB_TRANSLATIONS_DIR ${CMAKE_CURRENT_LIST_DIR})

function(ctslab_embed_catalogue target variant)
    if(variant STREQUAL "full")
        set(ts_file ${CTSLAB_TRANSLATIONS_DIR}/Mek_ja_JP.ts)
    elseif(variant STREQUAL "lite")
        set(ts_file ${CTSLAB_TRANSLATIONS_DIR}/lite/Mek_ja_JP.ts)
    else()
        message(FATAL_ERROR "ctslab_embed_catalogue: variant '${variant}' is not full or lite")
    endif()

    set(qm_dir ${CMAKE_BINARY_DIR}/qm/${variant})
    set(qm_file ${qm_dir}/Mek_ja_JP.qm)
    set(catalogue ctslab_catalogue_${variant})

    if(NOT TARGET ${catalogue})
        set_source_files_properties(${ts_file} PROPERTIES OUTPUT_LOCATION ${qm_dir})
        add_custom_target(${catalogue})
        qt_add_lrelease(${catalogue} TS_FILES ${ts_file} NO_GLOBAL_TARGET
                        QM_FILES_OUTPUT_VARIABLE qm_files)
        if(NOT qm_files STREQUAL qm_file)
            message(FATAL_ERROR "ctslab_embed_catalogue: unexpected catalogue ${qm_files}")
        endif()
    endif()

    add_dependencies(${target} ${catalogue})
    qt_add_resources(${target} ${target}_catalogue
        PREFIX "/"
        BASE ${qm_dir}
        FILES ${qm_file}
        OPTIONS --no-compress)
endfunction()
