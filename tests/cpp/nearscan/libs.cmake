set(TEST_LIBS nearscan_core)
