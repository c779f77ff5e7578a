set(TEST_LIBS genloom_core)
