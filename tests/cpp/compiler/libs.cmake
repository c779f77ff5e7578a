set(TEST_LIBS vorlan_compiler)
