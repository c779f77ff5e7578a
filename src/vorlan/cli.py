"""The ``vorlan`` command: solve, feedback, models, rank and check from a shell.

Exit status: 0 success, 1 failure (an error, an invalid pair, or a solve whose last pair
still does not compile), 2 wrong usage.
"""
from __future__ import annotations

import argparse
import json
import logging
import os
import socket
import sys
import threading
import time
import traceback
from pathlib import Path

PROG = "vorlan"
DEFAULT_GEMINI_MODEL = "gemini-2.5-flash"
CONFIGURE_HINT = ("set OPENAI_API_KEY (OpenAI) or GEMINI_API_KEY (Gemini), or start a local Ollama "
                  "server with `ollama serve` and pull a model (`ollama pull llama3.1`)")


class CliError(Exception):
    """A failure with a message meant for the user, optionally with the fix."""

    def __init__(self, message: str, fix: str | None = None):
        super().__init__(message)
        self.fix = fix


# --------------------------------------------------------------------------- progress

class Progress:
    """Progress messages on standard error: a live status line with elapsed time on a
    terminal, plain timestamped lines otherwise."""

    def __init__(self, stream=None, live: bool | None = None, quiet: bool = False):
        self.stream = stream or sys.stderr
        self.live = self.stream.isatty() if live is None else live
        self.quiet = quiet
        self.start = time.monotonic()
        self.current = ""
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._ticker = None

    def __enter__(self):
        if self.live and not self.quiet:
            self._ticker = threading.Thread(target=self._tick, daemon=True)
            self._ticker.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        if self._ticker:
            self._ticker.join()
        with self._lock:
            if self.live and self.current and not self.quiet:
                self._paint(final=True)
        return False

    def __call__(self, msg: str) -> None:
        if self.quiet:
            return
        with self._lock:
            if self.live:
                if self.current:
                    self._paint(final=True)  # keep the finished step on screen
                self.current = str(msg)
                self._paint()
            else:
                stamp = time.strftime("%H:%M:%S")
                self.stream.write(f"{stamp} {msg}\n")
                self.stream.flush()

    def _paint(self, final: bool = False) -> None:
        elapsed = time.monotonic() - self.start
        line = f"[{elapsed:6.1f}s] {self.current}"
        width = _terminal_width(self.stream)
        if len(line) > width - 1:
            line = line[: width - 2] + "\u2026"
        self.stream.write("\r\x1b[K" + line + ("\n" if final else ""))
        self.stream.flush()
        if final:
            self.current = ""

    def _tick(self) -> None:
        while not self._stop.wait(0.25):
            with self._lock:
                if self.current:
                    self._paint()


def _terminal_width(stream) -> int:
    try:
        columns = os.get_terminal_size(stream.fileno()).columns
    except (OSError, ValueError, AttributeError):
        return 100
    return columns if columns > 0 else 100


# --------------------------------------------------------------------------- providers

def _ollama_reachable(timeout: float = 0.3) -> bool:
    host = os.environ.get("OLLAMA_HOST", "127.0.0.1:11434")
    host = host.split("://", 1)[-1].rstrip("/")
    name, _, port = host.rpartition(":")
    if not name:
        name, port = host, "11434"
    try:
        with socket.create_connection((name or "127.0.0.1", int(port)), timeout=timeout):
            return True
    except (OSError, ValueError):
        return False


def detect_provider() -> str:
    """The provider the environment configures: OPENAI_API_KEY, then GEMINI_API_KEY, then a
    reachable local Ollama server."""
    if os.environ.get("OPENAI_API_KEY"):
        return "openai"
    if os.environ.get("GEMINI_API_KEY"):
        return "google"
    if _ollama_reachable():
        return "ollama"
    raise CliError("no LLM provider is configured", CONFIGURE_HINT)


def resolve_provider(provider: str | None, model: str | None) -> tuple[str | None, str]:
    """Provider name and model name for a command. An explicit --provider wins; a --model
    alone lets the library infer the provider from its name; otherwise the environment
    decides: OPENAI_API_KEY, then GEMINI_API_KEY, then a reachable local Ollama server."""
    from vorlan import genloom

    if not (provider or model):
        provider = detect_provider()
    kind = genloom._infer_provider(provider, model or "")
    _preflight(kind)
    if model:
        return provider, model
    if kind is genloom.LLMProvider.GOOGLE:
        return provider, DEFAULT_GEMINI_MODEL
    if kind is genloom.LLMProvider.OLLAMA:
        names = genloom.list_ollama_models()
        if not names:
            raise CliError("the Ollama server has no models", "pull one with `ollama pull llama3.1`")
        return provider, names[0]
    return provider, genloom.MODEL_NAME


def _preflight(kind) -> None:
    """Fail before any slow work when the chosen provider cannot be reached at all."""
    from vorlan import genloom

    for member, var in ((genloom.LLMProvider.OPENAI, "OPENAI_API_KEY"), (genloom.LLMProvider.GOOGLE, "GEMINI_API_KEY")):
        if kind is member and not os.environ.get(var):
            raise CliError(f"{var} environment variable not set",
                           f"export {var}=<your key>, or choose another provider with --provider")
    if kind is genloom.LLMProvider.OLLAMA and not _ollama_reachable():
        raise CliError("the local Ollama server is not reachable", "start it with `ollama serve`")


def _use_examples(examples: str | None) -> None:
    """Few-shot gathering looks for "qel_models" in the working directory; point it at the
    chosen example tree instead (default: ./qel_models if present, else the bundled tree)."""
    from vorlan import genloom

    if examples is None:
        if Path("qel_models").is_dir():
            return
        examples = str(Path(genloom.__file__).resolve().parent / "qel_models")
    original = genloom._gather_few_shots

    def gather(problem_description, k=3, models_dir=None, progress=None):
        return original(problem_description, k=k, models_dir=examples, progress=progress)

    genloom._gather_few_shots = gather


# --------------------------------------------------------------------------- commands

def _read_description(args) -> str:
    if args.file is not None:
        if args.description is not None:
            raise CliError("give the description either as an argument or with -f, not both")
        src = args.file
    elif args.description is None:
        raise CliError("no description given", 'pass it as an argument, with -f FILE, or "-" to read standard input')
    elif args.description == "-":
        src = "-"
    else:
        return args.description
    text = sys.stdin.read() if src == "-" else Path(src).read_text()
    if not text.strip():
        raise CliError("the problem description is empty")
    return text


def _output_paths(args) -> tuple[str, str]:
    if args.output:
        if args.model_file or args.data_file:
            raise CliError("use either -o DIR or --model-file/--data-file")
        return str(Path(args.output) / "model.mod"), str(Path(args.output) / "model.dat")
    if not (args.model_file and args.data_file):
        raise CliError("no output given", "pass -o DIR, or both --model-file and --data-file")
    return args.model_file, args.data_file


def cmd_solve(args) -> int:
    from vorlan import genloom

    description = _read_description(args)
    model_file, data_file = _output_paths(args)
    provider, model = resolve_provider(args.provider, args.model)
    if not args.no_few_shot:
        _use_examples(args.examples)
    with Progress(quiet=args.quiet) as progress:
        stats = genloom.generative_solve(
            description, model_file, data_file, model_name=model,
            mode=getattr(genloom.Grammar, args.grammar.upper()), iterations=args.iterations,
            return_statistics=True, alignment_check=False if args.no_alignment else None,
            temperature=args.temperature, llm_provider=provider, progress=progress,
            few_shot=not args.no_few_shot)
    if args.json:
        print(json.dumps(stats, indent=2, ensure_ascii=False))
    else:
        print(f"model: {model_file}\ndata:  {data_file}\niterations: {stats['iterations']}")
        if stats["syntax_errors"]:
            print("the last pair does not compile:")
            for e in stats["syntax_errors"]:
                print("  " + e)
        if stats["assessment"]:
            print("\n" + stats["assessment"])
    if stats["syntax_errors"]:
        return 1
    if args.verify:
        from vorlan import milpgen

        print("\nsolving the generated pair:")
        return milpgen.run_file(model_file, data_file)
    return 0


def cmd_run(args) -> int:
    from vorlan import milpgen

    return milpgen.run_file(args.model, args.data, emit_script=args.emit_script, mps=args.mps, lp=args.lp)


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.abspath(a) == os.path.abspath(b)


def cmd_feedback(args) -> int:
    from vorlan import genloom

    originals = (args.model_path, args.data_path)
    targets = [(args.write_model, "revised_model"), (args.write_data, "revised_data")]
    for path, _ in targets:
        if path and not args.overwrite and any(_same_file(path, o) for o in originals):
            raise CliError(f"refusing to overwrite {path}", "choose another file or pass --overwrite")
    provider, model = resolve_provider(args.provider, args.model)
    with Progress(quiet=args.quiet) as progress:
        reply = genloom.generative_feedback(
            args.question, args.model_path, args.data_path, model_name=model,
            mode=getattr(genloom.Grammar, args.grammar.upper()), temperature=args.temperature,
            llm_provider=provider, progress=progress)
    if args.json:
        print(json.dumps(reply, indent=2, ensure_ascii=False))
    elif isinstance(reply, dict):
        print(reply.get("feedback") if isinstance(reply.get("feedback"), str) else json.dumps(reply, indent=2))
    else:
        print("(the model gave no feedback)")
    for path, key in targets:
        if not path:
            continue
        text = reply.get(key) if isinstance(reply, dict) else None
        if isinstance(text, str) and text:
            Path(path).parent.mkdir(parents=True, exist_ok=True)
            Path(path).write_text(text)
            print(f"{PROG}: wrote {key.replace('_', ' ')} to {path}", file=sys.stderr)
        else:
            print(f"{PROG}: no {key.replace('_', ' ')} proposed; {path} not written", file=sys.stderr)
    return 0


def cmd_models(args) -> int:
    from vorlan import genloom

    for name in genloom.list_models(llm_provider=args.provider or detect_provider()):
        print(name)
    return 0


def cmd_rank(args) -> int:
    from vorlan import nearscan

    results = nearscan.rank_problem_descriptions(args.query, models_dir=args.dir, top_k=args.k)
    if args.json:
        print(json.dumps(results, indent=2, ensure_ascii=False))
        return 0
    if not results:
        print(f"{PROG}: no matching descriptions (is the embedding model installed? "
              "pip install 'vorlan[rag]')", file=sys.stderr)
    for r in results:
        preview = " ".join(str(r.get("preview", "")).split())
        print(f"{r['score']:.3f}  {r['path']}\n       {preview[:100]}")
    return 0


def cmd_check(args) -> int:
    from vorlan import vorlan_core

    model, data = Path(args.model).read_text(), Path(args.data).read_text()
    try:
        vorlan_core.QelCompiler().compile_model(model, data)
    except Exception as e:  # every compile failure is a diagnostic for the user
        name = type(e).__name__
        print(f"{args.model}, {args.data}: {name}: {e}")
        return 1
    print(f"{args.model}, {args.data}: valid")
    return 0


# --------------------------------------------------------------------------- errors

_INSTALL_HINTS = {
    "openai is not installed.": "pip install 'vorlan[openai]'",
    "google.generativeai is not installed.": "pip install 'vorlan[gemini]'",
    "ollama package is not installed.": "pip install 'vorlan[ollama]'",
}


def _chain(e: BaseException):
    seen = set()
    while e is not None and id(e) not in seen:
        seen.add(id(e))
        yield e
        e = e.__cause__ or e.__context__


def describe_error(e: BaseException) -> tuple[str, str | None]:
    """One-line message for an error, and the fix where one is known."""
    if isinstance(e, CliError):
        return str(e), e.fix
    text = str(e)
    first = text.splitlines()[0] if text else type(e).__name__
    if len(text.splitlines()) > 1:
        first += " [\u2026; --debug shows all]"
    if isinstance(e, FileNotFoundError):
        return f"no such file: {e.filename or text}", None
    if "OPENAI_API_KEY environment variable not set." in text:
        return first, "export OPENAI_API_KEY=<your key>, or choose another provider with --provider"
    if "GEMINI_API_KEY environment variable not set." in text:
        return first, "export GEMINI_API_KEY=<your key>, or choose another provider with --provider"
    for prefix, hint in _INSTALL_HINTS.items():
        if text.startswith(prefix):
            return prefix.rstrip("."), hint
    if "connect to ollama" in text.lower():
        return first, "start the Ollama server with `ollama serve`"
    for c in _chain(e):
        name = type(c).__name__
        if isinstance(c, ConnectionError) or name in ("ConnectError", "APIConnectionError"):
            if "ollama" in " ".join(str(x).lower() for x in _chain(e)) or "11434" in text:
                return first, "start the Ollama server with `ollama serve`"
            return first, "check the network connection and the provider's address"
    return first, None


def _build_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog=PROG, description="Natural-language optimization problems to Vorlan models.")
    p.add_argument("--debug", action="store_true", help="show tracebacks and debug logs")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def llm_options(sp):
        sp.add_argument("--provider", help="openai, google or ollama (default: from the environment)")
        sp.add_argument("--model", help="LLM model name (default depends on the provider)")
        sp.add_argument("--temperature", type=float)
        sp.add_argument("--grammar", choices=["none", "bnf", "code"], default="bnf",
                        help="grammar reference put into the prompts (default: bnf)")
        sp.add_argument("--json", action="store_true", help="print the result record as JSON")
        sp.add_argument("-q", "--quiet", action="store_true", help="no progress messages")

    s = sub.add_parser("solve", help="write a model and data pair for a problem description")
    s.add_argument("description", nargs="?", help='the description, or "-" for standard input')
    s.add_argument("-f", "--file", help="read the description from FILE")
    s.add_argument("-o", "--output", metavar="DIR", help="write DIR/model.mod and DIR/model.dat")
    s.add_argument("--model-file")
    s.add_argument("--data-file")
    s.add_argument("--iterations", type=int, default=None, help="repair rounds (default: 5)")
    s.add_argument("--no-alignment", action="store_true", help="skip the check against the description")
    s.add_argument("--no-few-shot", action="store_true", help="no similar solved examples in the prompts")
    s.add_argument("--examples", metavar="DIR", help="example tree for few-shot prompts")
    s.add_argument("--verify", action="store_true", help="solve the generated pair and report the outcome")
    llm_options(s)
    s.set_defaults(func=cmd_solve)

    f = sub.add_parser("feedback", help="ask the LLM about an existing model and data pair")
    f.add_argument("question")
    f.add_argument("model_path", metavar="MODEL", help="model file")
    f.add_argument("data_path", metavar="DATA", help="data file")
    f.add_argument("--write-model", metavar="FILE", help="write the revised model text to FILE")
    f.add_argument("--write-data", metavar="FILE", help="write the revised data text to FILE")
    f.add_argument("--overwrite", action="store_true", help="allow writing over the original files")
    llm_options(f)
    f.set_defaults(func=cmd_feedback)

    m = sub.add_parser("models", help="list the model names a provider offers")
    m.add_argument("--provider")
    m.set_defaults(func=cmd_models)

    r = sub.add_parser("rank", help="stored problem descriptions closest to a query")
    r.add_argument("query")
    r.add_argument("--dir", default=None, help="example tree (default: the bundled one)")
    r.add_argument("-k", type=int, default=3, help="number of results (default: 3)")
    r.add_argument("--json", action="store_true")
    r.set_defaults(func=cmd_rank)

    c = sub.add_parser("check", help="compile a model and data pair and print the diagnostics")
    c.add_argument("model")
    c.add_argument("data")
    c.set_defaults(func=cmd_check)

    u = sub.add_parser("run", help="compile a model and data pair and solve it")
    u.add_argument("model")
    u.add_argument("data", nargs="?")
    u.add_argument("--emit-script", metavar="FILE", help="also write a standalone SciPy milp script")
    u.add_argument("--mps", metavar="FILE", help="also write the instance as a free-format MPS file")
    u.add_argument("--lp", metavar="FILE", help="also write the instance as an LP file")
    u.set_defaults(func=cmd_run)
    return p


def main(argv: list[str] | None = None) -> int:
    args = _build_parser().parse_args(argv)
    if args.debug:
        logging.basicConfig(level=logging.DEBUG, stream=sys.stderr, format="%(name)s: %(message)s")
    else:
        # Keep the embedding libraries' download notes and progress bars off the progress output.
        os.environ.setdefault("HF_HUB_DISABLE_PROGRESS_BARS", "1")
        os.environ.setdefault("TRANSFORMERS_VERBOSITY", "error")
        os.environ.setdefault("HF_HUB_VERBOSITY", "error")
        for name in ("huggingface_hub", "sentence_transformers", "transformers"):
            logging.getLogger(name).setLevel(logging.ERROR)
    try:
        if args.command == "solve" and args.iterations is not None and args.iterations < 1:
            raise CliError("--iterations must be at least 1")
        return args.func(args)
    except KeyboardInterrupt:
        print(f"\n{PROG}: interrupted", file=sys.stderr)
        return 130
    except Exception as e:
        if args.debug:
            traceback.print_exc()
        message, fix = describe_error(e)
        line = f"{PROG}: error: {message}"
        if fix:
            line += f" (fix: {fix})"
        print(line, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
