"""``vorlan mcp``: the tools of vorlan.cli.mcp_tools served over the Model Context Protocol on
standard input and output, for agents and editors that speak it. The ``mcp`` package is an
optional extra, imported only when the command runs."""
from __future__ import annotations

import contextlib
import inspect
import itertools

from vorlan.cli.errors import CliError, describe_error
from vorlan.cli.options import add_connection_options, add_reply_options
from vorlan.cli.progress import Progress
from vorlan.cli.providers import use_examples

TOOLS = ("solve", "check", "run", "rank", "feedback")


def register(sub) -> None:
    p = sub.add_parser("mcp", help="serve solve, check, run, rank and feedback as MCP tools on stdin/stdout")
    p.add_argument("--examples", metavar="DIR", help="example tree for few-shot prompts")
    add_connection_options(p)
    add_reply_options(p)
    p.set_defaults(func=cmd_mcp)


def _progress_for(ctx):
    """Progress callback for one tool call: a timestamped line on standard error (the
    client's log) and an MCP progress notification when the caller asked for them."""
    import anyio.from_thread

    log = Progress(live=False)
    count = itertools.count(1)

    def report(message: str) -> None:
        log(message)
        with contextlib.suppress(Exception):  # progress must never end the call
            anyio.from_thread.run(ctx.report_progress, next(count), None, str(message))

    return report


def _as_tool(fn, context_type, tool_error):
    """``fn`` as an MCP tool: same parameters without ``progress``, plus the request context;
    run in a worker thread by the server; failures become one-line tool errors."""
    signature = inspect.signature(fn)
    takes_progress = "progress" in signature.parameters
    params = [p for p in signature.parameters.values() if p.name != "progress"]
    ctx_param = inspect.Parameter("ctx", inspect.Parameter.KEYWORD_ONLY, annotation=context_type)

    def tool(*args, ctx, **kwargs):
        if takes_progress:
            kwargs["progress"] = _progress_for(ctx)
        try:
            return fn(*args, **kwargs)
        except Exception as e:
            message, fix = describe_error(e)
            raise tool_error(message + (f" (fix: {fix})" if fix else "")) from None

    tool.__name__ = fn.__name__
    tool.__doc__ = fn.__doc__
    tool.__wrapped__ = fn  # type hints resolve in fn's module
    tool.__signature__ = signature.replace(parameters=params + [ctx_param])
    tool.__annotations__ = {k: v for k, v in fn.__annotations__.items() if k != "progress"} | {"ctx": context_type}
    return tool


def build_server():
    """The MCP server with the five tools registered."""
    try:
        from mcp.server.mcpserver import Context, MCPServer
        from mcp.server.mcpserver.exceptions import ToolError
    except ImportError:
        raise CliError("the MCP server needs the mcp package", "pip install 'vorlan[mcp]'") from None
    from vorlan.cli import mcp_tools

    server = MCPServer(name="vorlan", instructions=(
        "Turns optimization problems described in natural language into Vorlan model and data "
        "files (solve), compiles them (check), solves them (run), finds similar solved examples "
        "(rank) and answers questions about a model (feedback)."), log_level="WARNING")
    for name in TOOLS:
        server.add_tool(_as_tool(getattr(mcp_tools, name), Context, ToolError), name=name)
    return server


def cmd_mcp(args) -> int:
    server = build_server()
    use_examples(args.examples)
    server.run("stdio")
    return 0
