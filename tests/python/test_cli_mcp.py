"""`vorlan mcp` driven by the mcp package's own client: the server runs as a subprocess on
stdin/stdout, `solve` and `feedback` talk to a scripted OpenAI service on 127.0.0.1."""
import json
import subprocess
import sys

import pytest

mcp = pytest.importorskip("mcp")
anyio = pytest.importorskip("anyio")

from fake_llm_server import FakeOpenAI  # noqa: E402
from test_cli import BAD_DATA, GOOD_DATA, GOOD_MODEL, TREE, base_env  # noqa: E402


@pytest.fixture
def service():
    s = FakeOpenAI()
    yield s
    s.close()


def session(env, calls, *options):
    """Start the server with ``options``, run ``calls(client)`` (a coroutine function) and return its result."""
    params = mcp.StdioServerParameters(command=sys.executable, args=["-m", "vorlan", "mcp", *options], env=env)

    async def main():
        async with mcp.Client(params, read_timeout_seconds=120) as client:
            return await calls(client)

    return anyio.run(main)


def result(r):
    """The structured record of a tool result, or the error text."""
    if r.is_error:
        return "error: " + " ".join(c.text for c in r.content)
    return r.structured_content.get("result", r.structured_content)


def test_tools_over_stdio(service, tmp_path):
    latin1_model, latin1_data = tmp_path / "l.mod", tmp_path / "l.dat"
    latin1_model.write_bytes(("// caf\u00e9\n" + GOOD_MODEL).encode("latin-1"))
    latin1_data.write_bytes(GOOD_DATA.replace('"chairs"', '"chaises \u00e0 caf\u00e9"').encode("latin-1"))
    kept = tmp_path / "kept"
    kept.mkdir()
    (kept / "m.mod").write_text("keep me")
    service.texts = [json.dumps({"model": GOOD_MODEL, "data": BAD_DATA}),
                     json.dumps({"model": GOOD_MODEL, "data": GOOD_DATA}),
                     json.dumps({"aligned": True, "assessment": "It matches."}),
                     json.dumps({"feedback": "Looks right.", "revised_model": "// revised\n" + GOOD_MODEL})]
    progress = []

    async def calls(client):
        tools = {t.name: t for t in (await client.list_tools()).tools}
        out = {"tools": tools}
        call = client.call_tool
        out["check good"] = result(await call("check", {"model": GOOD_MODEL, "data": GOOD_DATA}))
        out["check bad"] = result(await call("check", {"model": GOOD_MODEL, "data": BAD_DATA}))
        out["check neither"] = result(await call("check", {"data": GOOD_DATA}))
        out["run latin1"] = result(await call("run", {"model_file": str(latin1_model), "data_file": str(latin1_data)}))
        out["solve refused"] = result(await call("solve", {
            "description": "d", "model_file": str(kept / "m.mod"), "data_file": str(kept / "m.dat")}))
        out["solve bogus provider"] = result(await call("solve", {"description": "d", "provider": "bogus"}))
        out["solve hot"] = result(await call("solve", {"description": "d", "temperature": 2.5}))
        out["requests before"] = len(service.requests)

        async def on_progress(done, total, message):
            progress.append(message)

        out["solve"] = result(await call("solve", {"description": "A workshop builds tables and chairs.",
                                                   "few_shot": False, "iterations": 3},
                                         progress_callback=on_progress))
        out["feedback same targets"] = result(await call("feedback", {
            "question": "q", "model": GOOD_MODEL, "data": GOOD_DATA, "write_model": str(tmp_path / "r"),
            "write_data": str(tmp_path / "r")}))
        out["feedback"] = result(await call("feedback", {
            "question": "Is capacity right?", "model_file": str(latin1_model), "data_file": str(latin1_data),
            "write_model": str(tmp_path / "rev" / "m.mod")}))
        out["rank"] = result(await call("rank", {"query": "pack items into a bag with a weight limit", "k": 1,
                                                 "examples_dir": TREE}))
        return out

    out = session(base_env(**service.env()), calls, "--root", str(tmp_path), "--allow", TREE)

    assert set(out["tools"]) == {"solve", "check", "run", "rank", "feedback"}
    assert out["tools"]["solve"].input_schema["required"] == ["description"]
    assert "ctx" not in out["tools"]["solve"].input_schema["properties"]
    assert out["check good"] == {"valid": True, "diagnostics": ""}
    assert out["check bad"]["valid"] is False and "Error" in out["check bad"]["diagnostics"]
    assert out["check neither"].endswith("check: give the model either as text (model) or as a path (model_file)")
    assert out["run latin1"]["status"] == "optimal" and out["run latin1"]["objective"] == 960.0
    assert out["run latin1"]["values"][0]["variable"].startswith('make["chaises \u00e0 caf\u00e9"]')
    assert out["solve refused"].endswith(f"refusing to overwrite {kept / 'm.mod'} (fix: choose another output "
                                         "or pass overwrite=true)")
    assert "unknown provider 'bogus'" in out["solve bogus provider"]
    assert "temperature: must be a number from 0 to 2" in out["solve hot"]
    assert out["requests before"] == 0 and (kept / "m.mod").read_text() == "keep me"

    solved = out["solve"]
    assert solved["compiles"] and solved["iterations"] == 2 and solved["assessment"] == "It matches."
    assert solved["model"] == GOOD_MODEL and solved["data"] == GOOD_DATA and solved["model_file"] is None
    assert "Generation complete" in progress

    assert "the revised model and data would go to the same file" in out["feedback same targets"]
    assert out["feedback"]["reply"]["feedback"] == "Looks right."
    assert (tmp_path / "rev" / "m.mod").read_text().startswith("// revised")
    assert "chaises \u00e0 caf\u00e9" in service.prompts()[-1]
    assert "knapsack" in out["rank"][0]["path"]


def test_paths_outside_the_root_are_refused(tmp_path):
    root, examples, outside = tmp_path / "root", tmp_path / "examples", tmp_path / "outside"
    for d in (root, examples, outside):
        d.mkdir()
    (outside / "secret.txt").write_text("a secret problem description")
    (outside / "m.mod").write_text(GOOD_MODEL)
    (root / "m.mod").write_text(GOOD_MODEL)
    (root / "m.dat").write_text(GOOD_DATA)
    (root / "link").symlink_to(outside)
    pair = {"model_file": "m.mod", "data_file": "m.dat"}
    refused = {
        "rank /etc": ("rank", {"query": "q", "examples_dir": "/etc"}),
        "rank via link": ("rank", {"query": "q", "examples_dir": "link"}),
        "check ../": ("check", {"model_file": "../outside/m.mod", "data_file": "m.dat"}),
        "solve absolute": ("solve", {"description": "d", "model_file": str(outside / "n.mod"),
                                     "data_file": str(outside / "n.dat")}),
        "solve via link": ("solve", {"description": "d", "model_file": "link/n.mod", "data_file": "n.dat"}),
        "feedback write ../": ("feedback", {"question": "q", **pair, "write_model": "../outside/r.mod"}),
        "feedback write to allowed": ("feedback", {"question": "q", **pair, "write_model": str(examples / "r.mod")}),
    }

    async def calls(client):
        out = {name: result(await client.call_tool(tool, args)) for name, (tool, args) in refused.items()}
        out["check inside"] = result(await client.call_tool("check", pair))
        out["rank allowed"] = result(await client.call_tool("rank", {"query": "q", "examples_dir": str(examples)}))
        return out

    out = session(base_env(OPENAI_API_KEY="sk-x", OPENAI_BASE_URL="http://127.0.0.1:9/v1"), calls,
                  "--root", str(root), "--allow", str(examples))
    for name in refused:
        assert out[name].startswith("error: ") and f"is outside the server's root {root}" in out[name], name
    assert out["check inside"] == {"valid": True, "diagnostics": ""} and out["rank allowed"] == []
    assert sorted(p.name for p in outside.iterdir()) == ["m.mod", "secret.txt"]


def test_without_the_mcp_package(tmp_path):
    # A stand-in `mcp` that cannot be imported shows the one-line hint instead of a traceback.
    (tmp_path / "mcp").mkdir()
    (tmp_path / "mcp" / "__init__.py").write_text("raise ImportError('no mcp here')\n")
    env = base_env()
    env["PYTHONPATH"] = f"{tmp_path}:{env['PYTHONPATH']}"
    r = subprocess.run([sys.executable, "-m", "vorlan", "mcp"], env=env, capture_output=True, text=True,
                       timeout=60, stdin=subprocess.DEVNULL)
    assert r.returncode == 1
    assert r.stderr == "vorlan: error: the MCP server needs the mcp package (fix: pip install 'vorlan[mcp]')\n"
