"""The commands of ``vorlan``, in the order ``vorlan --help`` lists them.

Each module defines ``register(subparsers)``, which adds its sub-parser and sets ``func`` to
the function that runs it (called with the parsed arguments, returns the exit status). A new
command is one new module here plus one entry in COMMANDS.
"""
from vorlan.cli.commands import bench, check, doctor, feedback, mcp, models, rank, run, solve

COMMANDS = (solve, feedback, models, rank, check, run, bench, mcp, doctor)
