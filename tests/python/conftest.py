"""Settings every test process shares."""
import os
import shutil
import tempfile

_CACHE = tempfile.mkdtemp(prefix="vorlan-test-cache-")


def pytest_configure(config):
    # Embeddings computed by tests (often with a stand-in model) stay out of the user's cache;
    # subprocesses started by tests inherit the setting.
    os.environ["VORLAN_CACHE_DIR"] = _CACHE


def pytest_unconfigure(config):
    shutil.rmtree(_CACHE, ignore_errors=True)
