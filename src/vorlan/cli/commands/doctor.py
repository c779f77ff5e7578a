"""``vorlan doctor``: what this machine has for the main job, one line per check with the fix.

Nothing here calls a paid endpoint: ``--online`` asks each configured provider for its model
list, bounded by a short deadline of its own whatever the client library does.
"""
from __future__ import annotations

import importlib
import importlib.metadata as metadata
import importlib.util
import json
import os
import platform
import re
import sys
import tempfile
import threading
import warnings
from dataclasses import asdict, dataclass
from pathlib import Path

from vorlan.cli.providers import _ollama_reachable as ollama_reachable

DEFAULT_EMBEDDING_MODEL = "sentence-transformers/all-MiniLM-L6-v2"
COMPILER_MODULES = ("vorlan_core", "semantic_error", "genloom", "nearscan", "solve", "linemit", "tuplefold")
# Import names of the distributions whose name does not map to their module by '-' -> '_'.
MODULE_OF = {"google-generativeai": "google.generativeai", "google-genai": "google.genai"}
# A tiny pair that exercises the compiler and the solver end to end.
PROBE_MODEL = "dvar float+ x;\ndvar float+ y;\nmaximize x + 2 * y;\nsubject to {\n  x + y <= 4;\n  y <= 3;\n}\n"
PROBE_OPTIMUM = 7.0


@dataclass
class Check:
    name: str
    ok: bool
    detail: str
    fix: str = ""
    required: bool = False  # the main job cannot run while this fails


@dataclass(frozen=True)
class ProviderInfo:
    name: str      # the --provider name
    key_var: str   # environment variable with the key ("" for a local server)
    extra: str     # the extra that brings its client
    modules: tuple[str, ...]  # client modules, any one of which will do


PROVIDERS = (
    ProviderInfo("openai", "OPENAI_API_KEY", "openai", ("openai",)),
    ProviderInfo("google", "GEMINI_API_KEY", "gemini", ("google.genai", "google.generativeai")),
    ProviderInfo("anthropic", "ANTHROPIC_API_KEY", "anthropic", ("anthropic",)),
    ProviderInfo("ollama", "", "ollama", ("ollama",)),
)


def register(sub) -> None:
    d = sub.add_parser("doctor", help="check what this machine has for generating and solving models")
    d.add_argument("--online", action="store_true",
                   help="also ask each configured provider for its model list (no generation is requested)")
    d.add_argument("--timeout", type=float, default=5.0, metavar="SECONDS",
                   help="deadline of each --online request (default: 5)")
    d.add_argument("--json", action="store_true", help="print the checks as one JSON object")
    d.set_defaults(func=cmd_doctor)


def _importable(module: str) -> tuple[bool, str]:
    """Whether a module imports (client libraries' deprecation notes are kept off the output)."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            importlib.import_module(module)
        return True, ""
    except Exception as e:  # a broken install fails in many ways; the text is the diagnosis
        return False, f"{type(e).__name__}: {e}".splitlines()[0]


def _findable(module: str) -> tuple[bool, str]:
    """Whether a module can be found without importing it (torch or ray take seconds to
    import; finding them tells an installed package from a missing or blocked one)."""
    try:
        found = importlib.util.find_spec(module) is not None
    except (ImportError, ValueError) as e:  # a parent that fails, or a module set to None
        return False, f"{type(e).__name__}: {e}".splitlines()[0]
    return found, "" if found else "module not found"


def _version(dist: str) -> str | None:
    try:
        return metadata.version(dist)
    except metadata.PackageNotFoundError:
        return None


def declared_extras() -> dict[str, list[str]]:
    """The package's extras and the distributions each brings, from its installed metadata."""
    extras: dict[str, list[str]] = {}
    for req in metadata.requires("vorlan") or []:
        name = re.match(r"\s*([A-Za-z0-9][A-Za-z0-9._-]*)", req)
        extra = re.search(r"""extra\s*==\s*["']([^"']+)["']""", req)
        if name and extra and name.group(1).lower() != "vorlan":
            extras.setdefault(extra.group(1), []).append(name.group(1))
    return extras


def _check_versions() -> list[Check]:
    try:
        import vorlan

        version = vorlan.__version__
    except Exception:
        version = "?"
    return [Check("python", True, f"Python {platform.python_version()} ({sys.executable}), vorlan {version}")]


def _check_extras() -> list[Check]:
    checks = []
    for extra, dists in sorted(declared_extras().items()):
        parts, missing, broken = [], [], []
        for dist in dists:
            version = _version(dist)
            if version is None:
                missing.append(dist)
                continue
            ok, why = _findable(MODULE_OF.get(dist.lower(), dist.lower().replace("-", "_")))
            parts.append(f"{dist} {version}" + ("" if ok else f" (not importable: {why})"))
            if not ok:
                broken.append(dist)
        detail = ", ".join(parts) + (", " if parts and missing else "") + \
            (("missing: " + ", ".join(missing)) if missing else "")
        fix = f"pip install 'vorlan[{extra}]'" if missing or broken else ""
        checks.append(Check(f"extra {extra}", not (missing or broken), detail, fix))
    return checks


def _check_compiler() -> list[Check]:
    failed = [m for m in COMPILER_MODULES if not _importable(f"vorlan.{m}")[0]]
    if failed:
        return [Check("compiler", False, "modules that do not load: " + ", ".join(failed),
                      "reinstall the package (pip install --force-reinstall vorlan)", required=True)]
    from vorlan.vorlan_core import QelCompiler

    try:
        QelCompiler().compile_model(PROBE_MODEL, "")
    except Exception as e:
        return [Check("compiler", False, f"a probe model does not compile: {e}",
                      "reinstall the package", required=True)]
    return [Check("compiler", True, "modules load and compile a probe model", required=True)]


def _check_solver() -> Check:
    version = _version("highspy")
    if version is None:
        return Check("solver", False, "HiGHS (highspy) is not installed", "pip install 'vorlan[solve]'")
    try:
        from vorlan import solve

        result = solve.solve(PROBE_MODEL, "")
    except Exception as e:
        return Check("solver", False, f"highspy {version} does not solve: {e}", "pip install 'vorlan[solve]'")
    if result.get("status") != "optimal" or abs((result.get("objective") or 0) - PROBE_OPTIMUM) > 1e-6:
        return Check("solver", False, f"highspy {version}: probe gave {result.get('status')}",
                     "pip install --force-reinstall 'vorlan[solve]'")
    return Check("solver", True, f"HiGHS (highspy {version}) solves a probe model")


def _check_embeddings() -> list[Check]:
    from vorlan import nearscan

    revision = nearscan._model_revision(DEFAULT_EMBEDDING_MODEL)
    model = Check("embedding model", bool(revision),
                  f"{DEFAULT_EMBEDDING_MODEL} available offline (revision {revision[:12]})" if revision
                  else f"{DEFAULT_EMBEDDING_MODEL} is not in the local model cache (few-shot examples are skipped)",
                  "" if revision else "pip install 'vorlan[rag]', then run scripts/install_offline_model.py")
    if revision:
        model = _embedding_runtime_check(nearscan, model)
    shipped = Path(nearscan._shipped_embeddings_dir()) / nearscan._shipped_file_name(DEFAULT_EMBEDDING_MODEL)
    info = nearscan._embedding_file_info(shipped) if shipped.is_file() else None
    stored = Check("shipped embeddings", info is not None,
                   f"{shipped}: {len(info['digests'])} descriptions" if info else f"{shipped} is missing or unusable",
                   "" if info else "reinstall the package")
    return [model, stored, _writable_check("embedding cache", nearscan._embedding_cache_dir())]


def _embedding_runtime_check(nearscan, found: Check) -> Check:
    """Loads the default model as ranking would and says which runtime it runs on: the
    light export (a first request within about a second) or the embedding library."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        loaded = nearscan._load_model(DEFAULT_EMBEDDING_MODEL)
    if loaded is None:
        return Check(found.name, False, found.detail + ", but it does not load",
                     "pip install 'vorlan[rag]' (or 'vorlan[rag-light]'), then run scripts/install_offline_model.py")
    if isinstance(loaded, nearscan._LightModel):
        return Check(found.name, True, found.detail + "; runs on onnxruntime")
    return Check(found.name, True, found.detail + "; runs on the embedding library (slower first request)",
                 "pip install 'vorlan[rag-light]' and run scripts/install_offline_model.py for the faster runtime")


def _writable_check(name: str, folder: str) -> Check:
    if not folder:
        return Check(name, False, "no cache folder (HOME is not set)", "set VORLAN_CACHE_DIR to a writable folder")
    try:
        Path(folder).mkdir(parents=True, exist_ok=True)
        with tempfile.NamedTemporaryFile(dir=folder, prefix=".doctor-"):
            pass
        return Check(name, True, f"{folder} is writable")
    except OSError as e:
        return Check(name, False, f"{folder} is not writable ({e.strerror or e})",
                     "set VORLAN_CACHE_DIR to a writable folder, or VORLAN_EMBEDDING_CACHE=off")


def _check_examples() -> Check:
    from vorlan import genloom

    local = Path("qel_models")
    folder = local if local.is_dir() else Path(genloom.__file__).resolve().parent / "qel_models"
    count = sum(1 for _ in folder.rglob("*.txt")) if folder.is_dir() else 0
    where = "./qel_models" if folder is local else f"bundled ({folder})"
    return Check("examples", count > 0, f"{where}: {count} descriptions",
                 "" if count else "reinstall the package, or point --examples at a folder of solved examples")


def _listing_within(provider: str, timeout: float) -> tuple[bool, str]:
    """Ask for the provider's model list on a thread and wait at most a little over the
    deadline, so a server that never answers cannot hold the command."""
    from vorlan import genloom

    outcome: dict[str, object] = {}

    def ask() -> None:
        try:
            outcome["names"] = genloom.list_models(llm_provider=provider)
        except BaseException as e:  # reported as the check's detail
            outcome["error"] = e

    saved = genloom.REQUEST_TIMEOUT
    genloom.REQUEST_TIMEOUT = timeout
    try:
        worker = threading.Thread(target=ask, daemon=True)
        worker.start()
        worker.join(timeout + 1.0)
    finally:
        genloom.REQUEST_TIMEOUT = saved
    if worker.is_alive():
        return False, f"no answer within {timeout:g} s"
    if "error" in outcome:
        return False, str(outcome["error"]).splitlines()[0][:200]
    names = outcome.get("names") or []
    return True, f"answers ({len(names)} models listed)"


def _check_providers(online: bool, timeout: float) -> tuple[list[Check], bool]:
    from vorlan import genloom

    known = {m.value for m in genloom.LLMProvider}
    checks, usable = [], False
    for p in PROVIDERS:
        if p.name not in known:
            continue
        client = next((m for m in p.modules if _importable(m)[0]), None)
        if p.key_var:
            configured = bool(os.environ.get(p.key_var))
            what = f"{p.key_var} is set" if configured else f"{p.key_var} is not set"
            fix = f"export {p.key_var}=<your key>"
        else:
            configured = ollama_reachable()
            what = "a local server answers" if configured else "no local server answers"
            fix = "start it with `ollama serve` and pull a model (`ollama pull llama3.1`)"
        ok = configured and client is not None
        if configured and client is None:
            what += ", but its client is not installed"
            fix = f"pip install 'vorlan[{p.extra}]'"
        if ok and online:
            ok, answer = _listing_within(p.name, timeout)
            what += "; " + answer
            fix = "" if ok else "check the key, the base URL and the network"
        checks.append(Check(f"provider {p.name}", ok, what, "" if ok else fix))
        usable = usable or ok
    return checks, usable


def gather(online: bool = False, timeout: float = 5.0) -> tuple[list[Check], bool]:
    """All checks in display order, and whether the main job (generate, compile, solve) can run."""
    checks = _check_versions() + _check_extras() + _check_compiler()
    compiler_ok = checks[-1].ok
    if compiler_ok:
        checks.append(_check_solver())
        checks += _check_embeddings()
        checks.append(_check_examples())
        provider_checks, usable = _check_providers(online, timeout)
    else:
        provider_checks, usable = [], False
    if not usable:
        provider_checks.append(Check("a provider", False, "no LLM provider is ready", "configure one of the providers above",
                                     required=True))
    checks += provider_checks
    return checks, all(c.ok for c in checks if c.required)


def cmd_doctor(args) -> int:
    from vorlan.nearscan import _printable as printable

    checks, ready = gather(online=args.online, timeout=args.timeout)
    if args.json:
        print(json.dumps({"ready": ready, "checks": [asdict(c) for c in checks]}, indent=2))
    else:
        for c in checks:
            line = f"{'✓' if c.ok else '✗'} {c.name}: {printable(c.detail)}"
            if not c.ok and c.fix:
                line += f" — fix: {c.fix}"
            print(line)
        print("ready: the main job can run" if ready else "not ready: the main job cannot run (see ✗ above)")
    return 0 if ready else 1
