ctslab_add_test(viewgeometry tests/tst_viewgeometry.cpp ctcore)
ctslab_add_test(framedrawing tests/tst_framedrawing.cpp ctcore)
ctslab_add_test(projection tests/tst_projection.cpp ctcore)
# The same test against the lite core, where every frame is red.
ctslab_add_test(projection_lite tests/tst_projection.cpp ctcore_lite)
