import enum
import logging
import subprocess
import sys

import pytest

import vorlan.genloom as g


def test_settings_have_their_values():
    assert (g.MAX_ITERATIONS, g.MAX_OUTPUT_TOKENS, g.LLM_PROVIDER, g.MODEL_NAME) == (5, None, "openai", "gpt-5")
    assert (g.ALIGNMENT_CHECK, g.FEW_SHOT_TOP_K, g.FEW_SHOT_MAX_CHARS) == (True, 3, 2**31 - 1)


def test_enumerations_are_host_enums():
    assert issubclass(g.LLMProvider, enum.Enum) and issubclass(g.Grammar, enum.Enum)
    assert [(m.name, m.value) for m in g.LLMProvider] == [("OPENAI", "openai"), ("GOOGLE", "google"), ("OLLAMA", "ollama"),
                                                          ("ANTHROPIC", "anthropic")]
    assert [(m.name, m.value) for m in g.Grammar] == [("NONE", 1), ("BNF", 2), ("CODE", 3)]
    assert g.LLMProvider("google") is g.LLMProvider.GOOGLE


def test_bound_names_come_from_their_modules():
    import vorlan.nearscan
    import vorlan.semantic_error
    import vorlan.vorlan_core

    assert g.QelCompiler is vorlan.vorlan_core.QelCompiler
    assert g.SemanticError is vorlan.vorlan_core.SemanticError is vorlan.semantic_error.SemanticError
    assert g.rag_rank is vorlan.nearscan.rank_problem_descriptions
    assert g.logger is logging.getLogger("vorlan.genloom")


def test_notify_without_callback_logs_debug_only(caplog):
    with caplog.at_level(logging.DEBUG, logger="vorlan.genloom"):
        g._notify(None, "hello 100% done")
    assert [(r.name, r.levelno, r.getMessage()) for r in caplog.records] == [("vorlan.genloom", logging.DEBUG, "hello 100% done")]


def test_notify_with_callback_does_not_log(caplog):
    seen = []
    with caplog.at_level(logging.DEBUG, logger="vorlan.genloom"):
        g._notify(seen.append, "a")
        g._notify(seen.append, "b")
    assert seen == ["a", "b"] and caplog.records == []


def test_notify_swallows_ordinary_errors_but_not_interrupts(caplog):
    def boom(msg):
        raise ValueError("callback broke")

    with caplog.at_level(logging.DEBUG, logger="vorlan.genloom"):
        assert g._notify(boom, "lost") is None
    assert caplog.records == []

    def interrupt(msg):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        g._notify(interrupt, "x")


def test_notify_uses_the_current_logger(monkeypatch):
    got = []

    class L:
        def debug(self, m):
            got.append(m)

    monkeypatch.setattr(g, "logger", L())
    g._notify(None, "m")
    assert got == ["m"]


HEAVY = ["openai", "google.generativeai", "google.genai", "anthropic", "ollama", "sentence_transformers", "torch"]


def test_loading_genloom_imports_no_client_layer():
    code = "import sys, vorlan.genloom; print([m for m in %r if m in sys.modules])" % HEAVY
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "[]"


def test_loading_genloom_works_when_client_layers_are_missing():
    # A finder that refuses the client layers, as on a machine without them.
    code = (
        "import sys\n"
        "class Block:\n"
        "    def find_spec(self, name, path=None, target=None):\n"
        "        if name.split('.')[0] in ('openai', 'ollama', 'anthropic', 'sentence_transformers', 'torch', 'google'):\n"
        "            raise ImportError('blocked ' + name)\n"
        "sys.meta_path.insert(0, Block())\n"
        "import vorlan.genloom as g\n"
        "print(g.Grammar.BNF.value)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "2"
