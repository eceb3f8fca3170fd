# The installed programs, from a fresh prefix inside the build directory.
add_test(NAME installed_render
         COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                 -DPREFIX=${CMAKE_BINARY_DIR}/install-test -DSAMPLES=${PROJECT_SOURCE_DIR}/data
                 -P ${CMAKE_CURRENT_LIST_DIR}/install/installed_render.cmake)
set_tests_properties(installed_render PROPERTIES TIMEOUT 300)
