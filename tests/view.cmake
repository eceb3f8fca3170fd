ctslab_add_test(viewgeometry tests/tst_viewgeometry.cpp ctcore)
ctslab_add_test(framedrawing tests/tst_framedrawing.cpp ctcore)
ctslab_add_test(projection tests/tst_projection.cpp ctcore)
# The same test against the lite core, where every frame is red.
ctslab_add_test(projection_lite tests/tst_projection.cpp ctcore_lite)
# The scalar kernels, which processors without AVX2 take, against the same
# reference.
get_test_property(tst_projection ENVIRONMENT projection_env)
add_test(NAME tst_projection_scalar COMMAND tst_projection)
set_tests_properties(tst_projection_scalar PROPERTIES
    ENVIRONMENT "${projection_env};CTSLAB_KERNELS=scalar" TIMEOUT 600)
