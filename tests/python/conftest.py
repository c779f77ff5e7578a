"""Settings every test process shares."""
import os
import shutil
import tempfile

import pytest

_CACHE = tempfile.mkdtemp(prefix="vorlan-test-cache-")


def pytest_configure(config):
    # Embeddings computed by tests (often with a stand-in model) stay out of the user's cache;
    # subprocesses started by tests inherit the setting.
    os.environ["VORLAN_CACHE_DIR"] = _CACHE


def pytest_unconfigure(config):
    shutil.rmtree(_CACHE, ignore_errors=True)


@pytest.fixture(autouse=True)
def _library_gemini_client():
    """Commands run in-process switch genloom.GEMINI_CLIENT to google-genai; each test starts
    from the library's own default."""
    import sys

    genloom = sys.modules.get("vorlan.genloom")
    if genloom is None:
        yield
        return
    before = genloom.GEMINI_CLIENT
    yield
    genloom.GEMINI_CLIENT = before
