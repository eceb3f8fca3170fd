# Slice data: the slice record and its picture reader, the two text readers
# and the slice set on its worker thread.
ctslab_add_test(slice ${CMAKE_CURRENT_LIST_DIR}/tst_slice.cpp ctcore)
ctslab_add_test(ctimagereader ${CMAKE_CURRENT_LIST_DIR}/tst_ctimagereader.cpp ctcore)
ctslab_add_test(tablereader ${CMAKE_CURRENT_LIST_DIR}/tst_tablereader.cpp ctcore)
ctslab_add_test(slicedatas ${CMAKE_CURRENT_LIST_DIR}/tst_slicedatas.cpp ctcore)
# The DICOM reader and the order in which a series loads.
ctslab_add_test(dicomreader ${CMAKE_CURRENT_LIST_DIR}/tst_dicomreader.cpp ctcore)

# Whole loads of the files scanners write: TIFF stacks, a DICOM series, and
# the account of the files a load left out.
ctslab_add_test(scannerfiles ${CMAKE_CURRENT_LIST_DIR}/tst_scannerfiles.cpp ctcore)
# Volume files (NIfTI, NRRD, MetaImage), each file a stack of slices.
ctslab_add_test(volumefiles ${CMAKE_CURRENT_LIST_DIR}/tst_volumefiles.cpp ctcore)
