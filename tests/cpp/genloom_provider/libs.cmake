set(TEST_LIBS genloom_core vorlan_common)
