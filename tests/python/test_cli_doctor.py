"""vorlan --version and vorlan doctor, against local fake services and a blocked client."""
import importlib.metadata
import json
import time

import pytest

import vorlan
from fake_llm_server import FakeOpenAI, StallingServer
from test_llm_cli import run

BLOCK_OPENAI = "import sys; sys.modules['openai'] = None; from vorlan.cli import main; sys.exit(main(sys.argv[1:]))"


def test_version_matches_package_metadata():
    r = run(["--version"])
    assert r.returncode == 0
    assert r.stdout.strip() == f"vorlan {vorlan.__version__}" == f"vorlan {importlib.metadata.version('vorlan')}"


def _doctor(*args, **env):
    r = run(["doctor", "--json", *args], **env)
    report = json.loads(r.stdout)
    return r.returncode, {c["name"]: c for c in report["checks"]}, report["ready"]


@pytest.fixture
def listing_server():
    server = FakeOpenAI(models=["gpt-5", "gpt-5-mini"])
    yield server
    server.close()


def test_doctor_providers(listing_server):
    # A configured server that answers its model list: ready, and no generation was requested.
    status, checks, ready = _doctor("--online", **listing_server.env())
    assert (status, ready) == (0, True)
    assert checks["provider openai"]["ok"] and "2 models" in checks["provider openai"]["detail"]
    assert checks["compiler"]["ok"] and checks["solver"]["ok"]
    assert [m for m, _, _ in listing_server.requests] == ["GET"]

    # No key anywhere: not ready, and the fix names the variable (never a key's value).
    status, checks, ready = _doctor(OPENAI_API_KEY="", GEMINI_API_KEY="", ANTHROPIC_API_KEY="")
    assert (status, ready) == (1, False)
    assert checks["provider openai"]["fix"] == "export OPENAI_API_KEY=<your key>"
    assert not checks["a provider"]["ok"] and checks["a provider"]["required"]


def test_doctor_bounds_a_stalled_server():
    stalled = StallingServer()
    try:
        started = time.monotonic()
        status, checks, _ = _doctor("--online", "--timeout", "1", OPENAI_API_KEY="sk-local-test",
                                    OPENAI_BASE_URL=stalled.url + "/v1")
        elapsed = time.monotonic() - started
    finally:
        stalled.close()
    assert status == 1 and not checks["provider openai"]["ok"]
    assert elapsed < 30  # the listing gets about one second, not the client's own retries


def test_doctor_names_a_client_that_does_not_import(listing_server):
    import subprocess
    import sys

    from test_llm_cli import STAGE

    env = {**listing_server.env(), "PYTHONPATH": STAGE}
    r = subprocess.run([sys.executable, "-c", BLOCK_OPENAI, "doctor"], env=env, capture_output=True, text=True,
                       timeout=120)
    assert r.returncode == 1
    lines = r.stdout.splitlines()
    assert any(line.startswith("✗ extra openai:") and "pip install 'vorlan[openai]'" in line for line in lines)
    assert any(line.startswith("✗ provider openai:") and "client is not installed" in line for line in lines)
    assert lines[-1].startswith("not ready")
