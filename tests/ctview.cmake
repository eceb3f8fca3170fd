ctslab_add_test(ctview tests/tst_ctview.cpp ctcore)
ctslab_add_test(ctview_lite tests/tst_ctview.cpp ctcore_lite)
