set(TEST_LIBS vorlan_solve)
