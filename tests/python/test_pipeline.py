"""generative_solve / generative_feedback driven by scripted LLM replies and compile outcomes."""
import json
import logging
import os
import stat

import pytest

from vorlan import genloom

OK = None  # compile outcome: the pair is valid


class Script:
    """Scripted replies of _llm_generate_text and outcomes of QelCompiler.compile_model."""

    def __init__(self, monkeypatch, replies, outcomes=()):
        self.replies = list(replies)
        self.outcomes = list(outcomes)
        self.calls = []  # kwargs of every LLM call
        self.compiled = []
        self.prompts = []  # (builder name, args) of every prompt built
        self.gathered = []
        script = self

        class FakeCompiler:
            def compile_model(self, model, data):
                script.compiled.append((model, data))
                outcome = script.outcomes.pop(0) if script.outcomes else OK
                if outcome is not None:
                    raise outcome

        def llm(**kw):
            self.calls.append(kw)
            return self.replies.pop(0)

        def builder(name):
            def build(*args, **kw):
                self.prompts.append((name, args, kw))
                return f"<{name} #{len(self.prompts)}>"
            return build

        def gather(problem, k=3, models_dir=None, progress=None):
            self.gathered.append((problem, k, models_dir, progress))
            return [{"description": "ex", "model": "m", "data": "d"}]

        monkeypatch.setattr(genloom, "_llm_generate_text", llm)
        monkeypatch.setattr(genloom, "QelCompiler", FakeCompiler)
        monkeypatch.setattr(genloom, "_json_loads_relaxed", json.loads)
        monkeypatch.setattr(genloom, "_get_grammar_implementation", lambda mode: f"GRAMMAR[{mode.name}]")
        monkeypatch.setattr(genloom, "_infer_provider", lambda p, m: genloom.LLMProvider.OPENAI)
        monkeypatch.setattr(genloom, "_gather_few_shots", gather)
        for name in ("_build_generation_prompt", "_build_alignment_prompt", "_build_revision_prompt_alignment",
                     "_build_revision_prompt_syntax", "_build_final_assessment_prompt", "_build_feedback_prompt"):
            monkeypatch.setattr(genloom, name, builder(name))

    def built(self):
        return [p[0] for p in self.prompts]


def pair(n):
    return json.dumps({"model": f"model {n}", "data": f"data {n}"})


def verdict(aligned, text="  looks right  "):
    return json.dumps({"aligned": aligned, "assessment": text})


@pytest.fixture
def paths(tmp_path):
    return str(tmp_path / "out.mod"), str(tmp_path / "out.dat")


def solve(paths, **kw):
    kw.setdefault("few_shot", False)
    return genloom.generative_solve("Maximise profit.", *paths, **kw)


class SemErr(Exception):
    pass


@pytest.fixture(autouse=True)
def sem_error(monkeypatch):
    monkeypatch.setattr(genloom, "SemanticError", SemErr)


def rnd(kind, compile_errors=0, aligned=None):
    return {"kind": kind, "compile_errors": compile_errors, "status": None, "objective": None, "aligned": aligned}


def test_first_iteration_success_alignment_off(monkeypatch, paths):
    s = Script(monkeypatch, [pair(1), "  final words \n"])
    stats = solve(paths, alignment_check=False, return_statistics=True)
    assert stats == {"iterations": 1, "assessment": "final words", "syntax_errors": [], "rounds": [rnd("generation")]}
    assert s.built() == ["_build_generation_prompt", "_build_final_assessment_prompt"]
    assert len(s.calls) == 2
    assert open(paths[0]).read() == "model 1" and open(paths[1]).read() == "data 1"
    # the final assessment reads the files back and gets the (empty) error list
    assert s.prompts[1][1] == ("Maximise profit.", "GRAMMAR[BNF]", "model 1", "data 1", [])


def test_first_iteration_success_alignment_on(monkeypatch, paths):
    s = Script(monkeypatch, [pair(1), verdict(True, " fine \n")])
    assert solve(paths, alignment_check=True) == "fine"
    assert s.built() == ["_build_generation_prompt", "_build_alignment_prompt"]
    assert [c["input_text"] for c in s.calls] == ["<_build_generation_prompt #1>", "<_build_alignment_prompt #2>"]


def test_aligned_on_second_iteration(monkeypatch, paths):
    s = Script(monkeypatch, [pair(1), verdict(False, "wrong sense"), pair(2), verdict(True, "now right")])
    stats = solve(paths, alignment_check=True, return_statistics=True)
    assert stats == {"iterations": 2, "assessment": "now right", "syntax_errors": [],
                     "rounds": [rnd("generation", 0, False), rnd("alignment revision", 0, True)]}
    assert s.built() == ["_build_generation_prompt", "_build_alignment_prompt", "_build_revision_prompt_alignment",
                         "_build_alignment_prompt"]
    name, args, kw = s.prompts[2]
    assert args == ("Maximise profit.", "GRAMMAR[BNF]", "wrong sense", "model 1", "data 1")
    assert kw == {"few_shots": []}
    assert s.calls[2]["input_text"] == "<_build_revision_prompt_alignment #3>"
    assert open(paths[0]).read() == "model 2"


def test_every_iteration_fails_to_compile(monkeypatch, paths):
    errs = [SemErr("bad index i"), ValueError("line 3: unexpected ';'"), SemErr("unknown set S")]
    s = Script(monkeypatch, [pair(1), pair(2), pair(3), "assessment"], errs)
    stats = solve(paths, iterations=3, alignment_check=True, return_statistics=True)
    assert stats == {"iterations": 3, "assessment": "assessment", "syntax_errors": ["unknown set S"],
                     "rounds": [rnd("generation", 1)] + [rnd("syntax revision", 1)] * 2}
    assert s.built() == ["_build_generation_prompt"] + ["_build_revision_prompt_syntax"] * 3 + [
        "_build_final_assessment_prompt"]
    # the revision prompt of the last iteration is built but never sent
    assert len(s.calls) == 4
    assert s.prompts[2][1][4] == ["ValueError: line 3: unexpected ';'"]
    assert s.prompts[4][1] == ("Maximise profit.", "GRAMMAR[BNF]", "model 3", "data 3", ["unknown set S"])
    # a list handed to a revision prompt is never changed afterwards
    assert s.prompts[1][1][4] == ["bad index i"]


def test_every_iteration_misaligned(monkeypatch, paths):
    replies = []
    for i in range(2):
        replies += [pair(i), verdict(False, f"miss {i}")]
    s = Script(monkeypatch, replies)
    assert solve(paths, iterations=2, alignment_check=True, return_statistics=True) == {
        "iterations": 2, "assessment": "miss 1", "syntax_errors": [],
        "rounds": [rnd("generation", 0, False), rnd("alignment revision", 0, False)]}
    assert "_build_final_assessment_prompt" not in s.built()
    assert len(s.calls) == 4


@pytest.mark.parametrize("value, runs", [(0, 1), (-3, 1), (0.5, 1), ("3", 3), (2.9, 2), (True, 1),
                                         (None, 5), ("three", 5), (object(), 5), ("2.5", 5)])
def test_iterations_cleaning(monkeypatch, paths, value, runs):
    s = Script(monkeypatch, [pair(i) for i in range(runs)] + ["end"], [SemErr("x")] * 10)
    msgs = []
    stats = solve(paths, iterations=value, alignment_check=False, return_statistics=True, progress=msgs.append)
    assert stats["iterations"] == runs
    assert msgs[0].endswith(f" iterations={runs} alignment=off")
    assert msgs[-7] == f"Iteration {runs}/{runs}: prompting model"
    assert len(s.compiled) == runs


def test_unconvertible_iterations_reads_current_max(monkeypatch, paths):
    monkeypatch.setattr(genloom, "MAX_ITERATIONS", 2)
    msgs = []
    s = Script(monkeypatch, [pair(1), pair(2), "end"], [SemErr("x")] * 2)
    solve(paths, iterations=None, alignment_check=False, progress=msgs.append)
    assert len(s.compiled) == 2
    assert msgs[0].endswith(" iterations=2 alignment=off")


def test_unconvertible_iterations_with_max_below_one_fails_early(monkeypatch, paths):
    monkeypatch.setattr(genloom, "MAX_ITERATIONS", 0)
    s = Script(monkeypatch, [])
    with pytest.raises(ValueError, match="MAX_ITERATIONS"):
        solve(paths, iterations="x")
    assert s.calls == [] and not os.path.exists(paths[0])


def test_default_iterations_copied_at_load(monkeypatch, paths):
    monkeypatch.setattr(genloom, "MAX_ITERATIONS", 1)
    s = Script(monkeypatch, [pair(i) for i in range(5)] + ["end"], [SemErr("x")] * 5)
    assert solve(paths, alignment_check=False, return_statistics=True)["iterations"] == 5


@pytest.mark.parametrize("setting, arg, expect", [(True, None, "on"), (False, None, "off"),
                                                  (True, False, "off"), (False, 1, "on")])
def test_alignment_stage_choice(monkeypatch, paths, setting, arg, expect):
    monkeypatch.setattr(genloom, "ALIGNMENT_CHECK", setting)
    msgs = []
    s = Script(monkeypatch, [pair(1), verdict(True) if expect == "on" else "final"])
    solve(paths, alignment_check=arg, progress=msgs.append)
    assert msgs[0].endswith("alignment=" + expect)
    assert ("_build_alignment_prompt" in s.built()) == (expect == "on")


def test_progress_sequence_of_a_representative_run(monkeypatch, paths):
    msgs = []
    Script(monkeypatch, [pair(1), pair(2), verdict(False, "no"), pair(3), verdict(True, "yes")],
           [SemErr("e1"), OK, OK])
    solve(paths, iterations=4, alignment_check=True, progress=msgs.append, model_name="m-x")
    wrote = "Wrote files: " + paths[0] + " \u2022 " + paths[1]
    assert msgs == [
        "Generating with provider=openai model=m-x iterations=4 alignment=on",
        "Iteration 1/4: prompting model", "LLM response parsed (model + data)", "Compiling model and data", wrote,
        "Syntax/semantic errors found: 1; revising...",
        "Iteration 2/4: prompting model", "LLM response parsed (model + data)", "Compiling model and data", wrote,
        "Checking alignment with original prompt...", "Not aligned; revising per assessment",
        "Iteration 3/4: prompting model", "LLM response parsed (model + data)", "Compiling model and data", wrote,
        "Checking alignment with original prompt...", "Aligned \u2713 Stopping.",
        "Generation complete",
    ]


def test_progress_sequence_alignment_off(monkeypatch, paths):
    msgs = []
    Script(monkeypatch, [pair(1), "final"])
    solve(paths, iterations=2, alignment_check=False, progress=msgs.append)
    assert msgs[1:] == ["Iteration 1/2: prompting model", "LLM response parsed (model + data)",
                        "Compiling model and data", "Wrote files: " + paths[0] + " \u2022 " + paths[1],
                        "Syntax OK; alignment check disabled. Stopping.", "Requesting final assessment",
                        "Generation complete"]


def test_debug_log_and_no_callback(monkeypatch, paths, caplog):
    Script(monkeypatch, [pair(1), pair(2), "final"], [SemErr("boom"), OK])
    with caplog.at_level(logging.DEBUG, logger="vorlan.genloom"):
        solve(paths, iterations=2, alignment_check=False)
    logged = [r.getMessage() for r in caplog.records if r.name == "vorlan.genloom"]
    for line in ("Iteration 1/2", "Semantic error in model: boom", "Model or data has syntax errors; revising...",
                 "Iteration 2/2: prompting model", "Model and data generated.",
                 "Final assessment of model and data alignment...", "Requesting final assessment",
                 "Generation complete"):
        assert line in logged


def test_failing_callback_does_not_change_outcome(monkeypatch, paths):
    def bad(msg):
        raise RuntimeError("callback broke")
    Script(monkeypatch, [pair(1), verdict(True, "ok")])
    assert solve(paths, alignment_check=True, progress=bad) == "ok"


@pytest.mark.parametrize("temperature, gen, align, final", [(None, None, None, None), (0.7, 0.7, 0.0, 0.2)])
def test_temperatures(monkeypatch, paths, temperature, gen, align, final):
    s = Script(monkeypatch, [pair(1), verdict(False), pair(2), "final"], [OK, SemErr("x")])
    monkeypatch.setattr(genloom, "MAX_OUTPUT_TOKENS", 321)
    solve(paths, iterations=2, alignment_check=True, temperature=temperature, stop=["END"], model_name="mm")
    assert [c["temperature"] for c in s.calls] == [gen, align, gen, final]
    for c in s.calls:
        assert c["max_tokens"] == 321 and c["stop"] == ["END"] and c["model_name"] == "mm"
        assert c["provider"] is genloom.LLMProvider.OPENAI


@pytest.mark.parametrize("replies, message", [
    ([""], "Empty model response."),
    ([None], "Empty model response."),
    ([pair(1), ""], "Empty alignment response."),
    ([pair(1), '{"aligned": 1, "assessment": "x"}'], 'Invalid alignment response JSON: {"aligned": 1, "assessment": "x"}'),
    ([pair(1), '{"aligned": true}'], 'Invalid alignment response JSON: {"aligned": true}'),
    ([pair(1), "null"], "Invalid alignment response JSON: null"),
    ([pair(1), "[true]"], "Invalid alignment response JSON: [true]"),
])
def test_failure_messages(monkeypatch, paths, replies, message):
    Script(monkeypatch, replies)
    with pytest.raises(RuntimeError) as info:
        solve(paths, alignment_check=True)
    assert str(info.value) == message


@pytest.mark.parametrize("reply, text", [('{"model": "m"}', "'data' is missing"),
                                         ("null", 'expected a JSON object with "model" and "data" strings, got null'),
                                         ("[1]", 'expected a JSON object with "model" and "data" strings, got an array'), ("not json", None)])
def test_unparseable_generation_reply(monkeypatch, paths, reply, text):
    Script(monkeypatch, [reply])
    with pytest.raises(RuntimeError) as info:
        solve(paths)
    msg = str(info.value)
    assert msg.startswith("Failed to parse model response as JSON: ")
    assert msg.endswith("\nResponse: " + reply)
    if text:
        assert msg == "Failed to parse model response as JSON: " + text + "\nResponse: " + reply


def test_alignment_parse_error_propagates_unchanged(monkeypatch, paths):
    Script(monkeypatch, [pair(1), "{broken"])
    with pytest.raises(json.JSONDecodeError):
        solve(paths, alignment_check=True)


def test_compiler_construction_error_is_not_caught(monkeypatch, paths):
    Script(monkeypatch, [pair(1)])

    def broken():
        raise OSError("no compiler")
    monkeypatch.setattr(genloom, "QelCompiler", broken)
    with pytest.raises(OSError, match="no compiler"):
        solve(paths)


def test_llm_failure_keeps_previous_files(monkeypatch, paths):
    s = Script(monkeypatch, [pair(1)], [SemErr("x")])
    s.replies.append(None)
    with pytest.raises(RuntimeError, match="Empty model response"):
        solve(paths, iterations=3)
    assert open(paths[0]).read() == "model 1"


def test_nested_output_directories(monkeypatch, tmp_path):
    Script(monkeypatch, [pair(1), "final"])
    m = tmp_path / "a" / "b" / "c.mod"
    d = tmp_path / "x" / "y.dat"
    genloom.generative_solve("p", str(m), str(d), alignment_check=False, few_shot=False)
    assert m.read_text() == "model 1" and d.read_text() == "data 1"


def test_bare_file_names_write_into_cwd(monkeypatch, tmp_path):
    monkeypatch.chdir(tmp_path)
    Script(monkeypatch, [pair(1), "final"])
    genloom.generative_solve("p", "m.mod", "d.dat", alignment_check=False, few_shot=False)
    assert sorted(os.listdir(tmp_path)) == ["d.dat", "m.mod"]


@pytest.mark.parametrize("few_shot", [True, False])
def test_few_shot_switch(monkeypatch, paths, few_shot):
    monkeypatch.setattr(genloom, "FEW_SHOT_TOP_K", 7)
    msgs = []
    s = Script(monkeypatch, [pair(1), "final"], [SemErr("x")])
    genloom.generative_solve("desc", *paths, iterations=1, few_shot=few_shot, progress=msgs.append)
    if few_shot:
        assert s.gathered == [("desc", 7, "qel_models", msgs.append)]
        expected = [{"description": "ex", "model": "m", "data": "d"}]
    else:
        assert s.gathered == []
        expected = []
    assert s.prompts[0][2] == {"few_shots": expected}
    assert s.prompts[1][2] == {"few_shots": expected}


@pytest.mark.parametrize("second", [{"model": 5, "data": "d"}, {"model": "m", "data": ["d"]}])
def test_non_text_value_fails_and_keeps_previous_pair(monkeypatch, paths, second):
    s = Script(monkeypatch, [pair(1), json.dumps(second)], [SemErr("x"), SemErr("y")])
    with pytest.raises(RuntimeError):
        solve(paths, iterations=2)
    assert open(paths[0]).read() == "model 1" and open(paths[1]).read() == "data 1"
    assert sorted(os.listdir(os.path.dirname(paths[0]))) == ["out.dat", "out.mod"]  # no temporary left


def test_write_replaces_through_rename_and_keeps_mode(monkeypatch, paths):
    with open(paths[0], "w") as f:
        f.write("old model")
    os.chmod(paths[0], 0o640)
    old_inode = os.stat(paths[0]).st_ino
    renames = []
    real_replace = os.replace
    monkeypatch.setattr(os, "replace", lambda a, b: (renames.append((a, b)), real_replace(a, b)))
    Script(monkeypatch, [pair(1), "final"])
    solve(paths, alignment_check=False)
    assert [b for _, b in renames] == list(paths)
    for tmp, target in renames:
        assert os.path.dirname(tmp) == os.path.dirname(target)
        assert os.path.basename(tmp).startswith("." + os.path.basename(target) + ".")
    assert open(paths[0]).read() == "model 1"
    assert stat.S_IMODE(os.stat(paths[0]).st_mode) == 0o640
    assert os.stat(paths[0]).st_ino != old_inode


def test_unicode_round_trip(monkeypatch, paths):
    text = "param c := 3; # cost \u20ac \u00e9"
    s = Script(monkeypatch, [json.dumps({"model": text, "data": "d"}), "final"])
    solve(paths, alignment_check=False)
    assert s.prompts[-1][1][2] == text
    with open(paths[0], encoding="utf-8") as f:
        assert f.read() == text


def test_other_mode_reaches_every_prompt(monkeypatch, paths):
    s = Script(monkeypatch, [pair(1), "final"])
    solve(paths, mode=genloom.Grammar.CODE, alignment_check=False)
    assert all(p[1][1] == "GRAMMAR[CODE]" for p in s.prompts)


# ---------------------------------------------------------------- generative_feedback

@pytest.fixture
def pair_files(tmp_path):
    m, d = tmp_path / "f.mod", tmp_path / "f.dat"
    m.write_text("the model")
    d.write_text("the data")
    return str(m), str(d)


@pytest.mark.parametrize("temperature, sent", [(None, None), (0.9, 0.0)])
def test_feedback_call(monkeypatch, pair_files, temperature, sent):
    msgs = []
    s = Script(monkeypatch, ['{"feedback": "fine", "extra": 1}'])
    out = genloom.generative_feedback("Is it right?", *pair_files, temperature=temperature, progress=msgs.append,
                                      mode=genloom.Grammar.NONE, stop=["x"])
    assert out == {"feedback": "fine", "extra": 1}
    assert s.prompts == [("_build_feedback_prompt", ("Is it right?", "GRAMMAR[NONE]", "the model", "the data"), {})]
    assert s.calls[0]["temperature"] == sent and s.calls[0]["stop"] == ["x"]
    assert msgs == ["Generating feedback from LLM", "Feedback received; parsing"]


def test_feedback_null_reply_returns_none(monkeypatch, pair_files):
    Script(monkeypatch, ["null"])
    assert genloom.generative_feedback("q", *pair_files) is None


@pytest.mark.parametrize("reply, exc, message", [
    ("", RuntimeError, "Empty model response."),
    ("[1, 2]", RuntimeError, None),
])
def test_feedback_failures(monkeypatch, pair_files, reply, exc, message):
    def loads(t):
        v = json.loads(t)
        if not (v is None or isinstance(v, dict)):
            raise ValueError("no JSON object")
        return v
    Script(monkeypatch, [reply])
    monkeypatch.setattr(genloom, "_json_loads_relaxed", loads)
    with pytest.raises(exc) as info:
        genloom.generative_feedback("q", *pair_files)
    if message:
        assert str(info.value) == message
    else:
        assert str(info.value) == "Failed to parse feedback response as JSON: no JSON object\nResponse: " + reply


def test_feedback_missing_data_file(monkeypatch, pair_files, tmp_path):
    msgs = []
    s = Script(monkeypatch, [])
    with pytest.raises(FileNotFoundError):
        genloom.generative_feedback("q", pair_files[0], str(tmp_path / "missing.dat"), progress=msgs.append)
    assert msgs == [] and s.calls == []


@pytest.mark.parametrize("kind", [str, os.fsencode, __import__("pathlib").Path])
def test_output_path_kinds(monkeypatch, tmp_path, kind):
    msgs = []
    Script(monkeypatch, [pair(1), "final"])
    m, d = tmp_path / "k" / "m.mod", tmp_path / "k" / "d.dat"
    genloom.generative_solve("p", kind(str(m)), kind(str(d)), alignment_check=False, few_shot=False,
                             progress=msgs.append)
    assert m.read_text() == "model 1"
    assert "Wrote files: " + str(m) + " \u2022 " + str(d) in msgs


@pytest.mark.parametrize("reply, key, kind", [({"model": 5, "data": "d"}, "model", "a number"),
                                              ({"model": "m", "data": ["d"]}, "data", "an array")])
def test_non_text_value_says_the_reply_had_the_wrong_shape(monkeypatch, paths, reply, key, kind):
    content = json.dumps(reply)
    Script(monkeypatch, [content])
    with pytest.raises(RuntimeError) as info:
        solve(paths)
    assert str(info.value) == (f"Failed to parse model response as JSON: '{key}' must be a string, got {kind}"
                               f"\nResponse: {content}")
    assert not os.path.exists(paths[0])
