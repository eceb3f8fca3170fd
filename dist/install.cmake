# What "cmake --install" puts under the prefix, and the Debian package that
# CPack builds from the same rules ("cpack -G DEB" in the build directory).
include(GNUInstallDirs)

install(TARGETS ctslab ctslab-lite ctslab-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ctslab.desktop ${CMAKE_CURRENT_LIST_DIR}/ctslab-lite.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ctslab.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_PACKAGE_NAME ctslab)
set(CPACK_PACKAGE_VENDOR "ctslab")
set(CPACK_PACKAGE_CONTACT "ctslab developers <ctslab@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer for stacks of CT slices as a rotatable 3-D projection")
set(CPACK_PACKAGE_DESCRIPTION
    "ctslab and ctslab-lite show stacks of CT slices as one rotatable maximum-intensity projection; ctslab-render writes the same pictures without a window.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries come from the programs themselves; the platform plugin that
# opens the window, and the picture formats beyond PNG and JPEG, are loaded
# at run time and named here.
find_program(CTSLAB_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(CTSLAB_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins")
include(CPack)
