ctslab_add_test(slicesctrl tests/tst_slicesctrl.cpp ctcore)
ctslab_add_test(slicesctrl_lite tests/tst_slicesctrl.cpp ctcore_lite)
