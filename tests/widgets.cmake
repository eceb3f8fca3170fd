# Interaction widgets: the mouse relay, the coordinate tracker, the two
# drawing widgets, and both forms built against each variant with its own
# catalogue.
ctslab_add_test(mousec ${CMAKE_CURRENT_LIST_DIR}/tst_mousec.cpp ctcore)
ctslab_add_test(chcoord ${CMAKE_CURRENT_LIST_DIR}/tst_chcoord.cpp ctcore)
ctslab_add_test(dispa ${CMAKE_CURRENT_LIST_DIR}/tst_dispa.cpp ctcore)
ctslab_add_test(exlabel ${CMAKE_CURRENT_LIST_DIR}/tst_exlabel.cpp ctcore)

ctslab_add_test(forms ${CMAKE_CURRENT_LIST_DIR}/tst_forms.cpp ctcore)
ctslab_embed_catalogue(tst_forms full)
ctslab_add_test(forms_lite ${CMAKE_CURRENT_LIST_DIR}/tst_forms.cpp ctcore_lite)
ctslab_embed_catalogue(tst_forms_lite lite)
