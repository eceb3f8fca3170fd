# Installs the build into a fresh prefix and runs the programs from there, as
# someone who installed the package would: ctslab-render on the sample data,
# its failure on a missing file, and ctslab's option list.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file bin/ctslab bin/ctslab-lite bin/ctslab-render
             share/applications/ctslab.desktop share/applications/ctslab-lite.desktop
             share/icons/hicolor/scalable/apps/ctslab.svg)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

set(render "${PREFIX}/bin/ctslab-render")
file(MAKE_DIRECTORY "${PREFIX}/out")
execute_process(COMMAND "${render}" --size 64x48 --elevation 20 --turn 3
                        -o "${PREFIX}/out/turn.png" "${SAMPLES}/torus"
                        --set "${SAMPLES}/text/ring.dat" --window 10%:100%
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "installed ctslab-render failed (${status}): ${err}")
endif()
foreach(frame 0000 0001 0002)
    if(NOT EXISTS "${PREFIX}/out/turn_${frame}.png")
        message(FATAL_ERROR "frame ${frame} not written")
    endif()
endforeach()
message(STATUS "installed ctslab-render wrote ${PREFIX}/out/turn_0000.png .. turn_0002.png")

execute_process(COMMAND "${render}" -o "${PREFIX}/out/none.png" "${SAMPLES}/missing"
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT err MATCHES "no such file or folder")
    message(FATAL_ERROR "a missing file gave status ${status}: ${err}")
endif()

execute_process(COMMAND "${PREFIX}/bin/ctslab" --help
                RESULT_VARIABLE status OUTPUT_VARIABLE help)
if(NOT status EQUAL 0 OR NOT help MATCHES "-e +English")
    message(FATAL_ERROR "installed ctslab --help gave status ${status}: ${help}")
endif()
