"""Exact prompt texts of the six builders, and their argument rules."""

import pytest

import vorlan.genloom as g

# The fixed template pieces, in the order each builder joins them with its arguments.
GENERATION_1 = (
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "Generate a valid Vorlan model (.mod) and a matching data file (.dat) for the given problem description.\n"
    "Ensure the model decision variables, objective function, and constraints fully align with the provided problem description.\n"
    "Infer from the problem context whether decision variables should be integer, binary, or continuous.\n"
    "Label all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\n"
    "If data are missing, create a small, plausible mock instance consistent with the model.\n"
    "Use the following Vorlan syntax implementation as a reference for valid Vorlan syntax.\n"
    "You are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n"
    "</task>\n"
    "\n"
    "<grammar_reference>\n"
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n"
)
GENERATION_3 = (
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
)
GENERATION_5 = (
    "<problem_description>\n"
)
GENERATION_7 = (
    "\n"
    "</problem_description>\n"
    "\n"
    "<output_requirements>\n"
    "- Return ONLY a JSON object with exactly two keys: \"model\" (the Vorlan model) and \"data\" (the matching data file).\n"
    "- The values must be single JSON strings (no arrays/objects inside them).\n"
    "- Escape all double quotes and backslashes; encode newlines as \\n.\n"
    "- No trailing commas. No additional keys. No commentary.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"model\", \"data\"],\n"
    "  \"properties\": {\n"
    "    \"model\": {\"type\": \"string\"},\n"
    "    \"data\":  {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{\n"
    "  \"model\": \"float a = ...;\\nfloat b = ...;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n"
)
ALIGNMENT_1 = (
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "Assess whether the generated Vorlan model and data fully align with the problem description.\n"
    "Alignment means the objective, constraints, decision variables, and data match the problem description.\n"
    "Be critical and specific about modeling choices, feasibility, and consistency.\n"
    "Use the following Vorlan syntax implementation as a reference for valid Vorlan syntax.\n"
    "</task>\n"
    "\n"
    "<grammar_reference>\n"
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n"
)
ALIGNMENT_3 = (
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
    "<inputs>\n"
    "<problem_description>\n"
)
ALIGNMENT_5 = (
    "\n"
    "</problem_description>\n"
    "\n"
    "<model>\n"
)
ALIGNMENT_7 = (
    "\n"
    "</model>\n"
    "\n"
    "<data>\n"
)
ALIGNMENT_9 = (
    "\n"
    "</data>\n"
    "</inputs>\n"
    "\n"
    "<assessment_focus>\n"
    "- Objective and constraints reflect the prompt intent.\n"
    "- Decision variables have correct domains and indices.\n"
    "- Data is consistent with sets/parameters used by the model.\n"
    "- Signs, units, and indexing are correct; no missing links.\n"
    "- Most impactful improvements if misaligned.\n"
    "</assessment_focus>\n"
    "\n"
    "<output_requirements>\n"
    "- Return ONLY a JSON object with exactly two keys: \"aligned\" (boolean) and \"assessment\" (string).\n"
    "- If issues exist, mention the most critical fixes in \"assessment\", a single short paragraph (3–6 sentences) of plain text.\n"
    "- No Markdown. No bullet lists. No commentary. No additional keys. No trailing commas.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"aligned\", \"assessment\"],\n"
    "  \"properties\": {\n"
    "    \"aligned\": {\"type\": \"boolean\"},\n"
    "    \"assessment\": {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{ \"aligned\": false, \"assessment\": \"The model objective function does not include fixed costs.\" }\n"
    "</example_output>\n"
)
REVISIONALIGNMENT_1 = (
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "The previous attempt produced a syntactically valid Vorlan model and data, but they are NOT fully aligned with the problem description.\n"
    "<assessment>\n"
)
REVISIONALIGNMENT_3 = (
    "\n"
    "</assessment>\n"
    "Revise the model and data so that they fully align with the problem description while preserving syntactic validity.\n"
    "Change only what is necessary to achieve alignment (objective, constraints, variables, sets/parameters, and data consistency).\n"
    "Label all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\n"
    "Use the following Vorlan syntax implementation as a reference for valid Vorlan syntax.\n"
    "You are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n"
    "</task>\n"
    "\n"
    "<grammar_reference>\n"
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n"
)
REVISIONALIGNMENT_5 = (
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
)
REVISIONALIGNMENT_7 = (
    "<problem_description>\n"
)
REVISIONALIGNMENT_9 = (
    "\n"
    "</problem_description>\n"
    "\n"
    "<previous_attempt>\n"
    "<model>\n"
)
REVISIONALIGNMENT_11 = (
    "\n"
    "</model>\n"
    "\n"
    "<data>\n"
)
REVISIONALIGNMENT_13 = (
    "\n"
    "</data>\n"
    "</previous_attempt>\n"
    "\n"
    "<revision_guidelines>\n"
    "- Ensure the objective, constraints, indices, and variable domains reflect the problem description.\n"
    "- Make the minimal set of changes necessary to correct misalignment.\n"
    "- Keep syntax strictly valid.\n"
    "- Return complete model and data strings; do not return diffs.\n"
    "</revision_guidelines>\n"
    "\n"
    "<output_requirements>\n"
    "- Return ONLY a JSON object with exactly two keys: \"model\" (the Vorlan model) and \"data\" (the matching data file).\n"
    "- The values must be single JSON strings (no arrays/objects inside them).\n"
    "- Escape all double quotes and backslashes; encode newlines as \\n.\n"
    "- No trailing commas. No additional keys. No commentary.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"model\", \"data\"],\n"
    "  \"properties\": {\n"
    "    \"model\": {\"type\": \"string\"},\n"
    "    \"data\":  {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{\n"
    "  \"model\": \"float a = ...;\\nfloat b = ...;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n"
)
REVISIONSYNTAX_1 = (
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "The previous attempt to generate a Vorlan model and data file failed due to syntax errors.\n"
    "Revise the model and data to fix the errors while retaining alignment with the problem description.\n"
    "Change only what is necessary to fix the errors.\n"
    "Label all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\n"
    "Use the following Vorlan syntax implementation as a reference for valid Vorlan syntax.\n"
    "You are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n"
    "</task>\n"
    "\n"
    "<grammar_reference>\n"
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n"
)
REVISIONSYNTAX_3 = (
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
)
REVISIONSYNTAX_5 = (
    "<problem_description>\n"
)
REVISIONSYNTAX_7 = (
    "\n"
    "</problem_description>\n"
    "\n"
    "<previous_attempt>\n"
    "<model>\n"
)
REVISIONSYNTAX_9 = (
    "\n"
    "</model>\n"
    "\n"
    "<data>\n"
)
REVISIONSYNTAX_11 = (
    "\n"
    "</data>\n"
    "</previous_attempt>\n"
    "\n"
    "<errors>\n"
)
REVISIONSYNTAX_13 = (
    "\n"
    "</errors>\n"
    "\n"
    "<revision_guidelines>\n"
    "- Fix the listed syntax/semantic errors.\n"
    "- Preserve the original modeling intent and structure when possible.\n"
    "- Ensure the model compiles with the data under the given implementation.\n"
    "- Return complete model and data strings; do not return diffs.\n"
    "</revision_guidelines>\n"
    "\n"
    "<output_requirements>\n"
    "- Return ONLY a JSON object with exactly two keys: \"model\" (the Vorlan model) and \"data\" (the matching data file).\n"
    "- The values must be single JSON strings (no arrays/objects inside them).\n"
    "- Escape all double quotes and backslashes; encode newlines as \\n.\n"
    "- No trailing commas. No additional keys. No commentary.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"model\", \"data\"],\n"
    "  \"properties\": {\n"
    "    \"model\": {\"type\": \"string\"},\n"
    "    \"data\":  {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{\n"
    "  \"model\": \"float a = ...;\\nfloat b = ...;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n"
)
FINALASSESSMENT_1 = (
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "Assess how well the generated Vorlan model and data align with the problem description.\n"
    "Be critical and specific about modeling choices, feasibility, and consistency.\n"
    "If you believe the problem description is incomplete or ambiguous, point this out in your assessment.\n"
    "Use the following Vorlan syntax implementation as a reference for valid Vorlan syntax.\n"
    "</task>\n"
    "\n"
    "<grammar_reference>\n"
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n"
)
FINALASSESSMENT_3 = (
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
    "<inputs>\n"
    "<problem_description>\n"
)
FINALASSESSMENT_5 = (
    "\n"
    "</problem_description>\n"
    "\n"
    "<model>\n"
)
FINALASSESSMENT_7 = (
    "\n"
    "</model>\n"
    "\n"
    "<data>\n"
)
FINALASSESSMENT_9 = (
    "\n"
    "</data>\n"
    "\n"
)
FINALASSESSMENT_11 = (
    "</inputs>\n"
    "\n"
    "<assessment_focus>\n"
    "- Objective and constraints reflect the prompt intent.\n"
    "- Decision variables have correct domains and indices.\n"
    "- Data is consistent with sets/parameters used by the model.\n"
    "- Signs, units, and indexing are correct; no missing links.\n"
    "- Any syntax error raised by the compiler.\n"
    "- Most impactful improvements if misaligned.\n"
    "</assessment_focus>\n"
    "\n"
    "<output_requirements>\n"
    "- Return a single short paragraph (3–6 sentences) of plain text.\n"
    "- No Markdown, no bullet lists, no code fences.\n"
    "- If issues exist, mention the most critical fixes.\n"
    "</output_requirements>\n"
)
FEEDBACK_1 = (
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "Answer the user's question about the provided Vorlan model and data.\n"
    "Provide critical, specific feedback. If revisions are necessary for correctness,\n"
    "semantics, or consistency with the grammar reference, propose minimal changes.\n"
    "Only change what is necessary.\n"
    "Label all constraints and the objective function meaningfully; thoroughly comment the changes to explain the purpose of variables, parameters, objective, and constraints; match these explanations to user's question by following the predicaments of literate programming.\n"
    "Use the following Vorlan syntax implementation as a reference for valid Vorlan syntax.\n"
    "</task>\n"
    "\n"
    "<grammar_reference>\n"
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n"
)
FEEDBACK_3 = (
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
    "<inputs>\n"
    "<question>\n"
)
FEEDBACK_5 = (
    "\n"
    "</question>\n"
    "\n"
    "<model>\n"
)
FEEDBACK_7 = (
    "\n"
    "</model>\n"
    "\n"
    "<data>\n"
)
FEEDBACK_9 = (
    "\n"
    "</data>\n"
    "</inputs>\n"
    "\n"
    "<output_requirements>\n"
    "- Return ONLY a JSON object with 1 required key and up to 2 optional keys:\n"
    "  \"feedback\" (required), \"revised_model\" (optional), \"revised_data\" (optional).\n"
    "- Each value must be a single JSON string. Escape all double quotes and backslashes;\n"
    "  encode newlines as \\n.\n"
    "- If no changes are needed, omit \"revised_model\" and \"revised_data\".\n"
    "- If changes are needed, return complete model and data strings; do not return diffs.\n"
    "- No trailing commas. No additional keys. No commentary.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"feedback\"],\n"
    "  \"properties\": {\n"
    "    \"feedback\": {\"type\": \"string\"},\n"
    "    \"revised_model\": {\"type\": \"string\"},\n"
    "    \"revised_data\": {\"type\": \"string\"}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{\n"
    "  \"feedback\": \"The model was missing coefficients a and b.\",\n"
    "  \"revised_model\": \"// minimal fix\\nfloat a = ...;\\nfloat b = ...;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"revised_data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n"
)

FEW_OPEN = (
    "<few_shot_examples>\n"
    "Use the following exemplars as guidance for structure and syntax only. "
    "Do not copy variable names unless appropriate to the new problem.\n"
)


def few_section(examples):
    if not examples:
        return ""
    blocks = ""
    for i, ex in enumerate(examples, 1):
        blocks += (
            f'<example index="{i}">\n'
            f'<description path="{ex.get("desc_path", "")}">\n{ex["description"]}\n</description>\n\n'
            f'<model_file path="{ex.get("model_path", "")}">\n{ex["model"]}\n</model_file>\n\n'
            f'<data_file path="{ex.get("data_path", "")}">\n{ex["data"]}\n</data_file>\n</example>\n'
        )
    return FEW_OPEN + blocks + "</few_shot_examples>\n\n"


EXAMPLES = [
    {"description": "Ship from A to B.", "model": "dvar float+ x;", "data": "c = 1;",
     "desc_path": "qel/t/t.txt", "model_path": "qel/t/t.mod", "data_path": "qel/t/t.dat"},
    {"description": "Pack items \u00e9\u2603.", "model": "dvar int y;", "data": "w = [1];"},
]
P, GR, M, D, A = "Problem \"text\"\n  ", "GRAMMAR\r\nref", "model\n</model>\n\n<data>\n", "data;", "Not aligned."


@pytest.mark.parametrize("few", [None, [], EXAMPLES[:1], EXAMPLES])
def test_generation_prompt_exact(few):
    want = GENERATION_1 + GR + GENERATION_3 + few_section(few) + GENERATION_5 + P + GENERATION_7
    assert g._build_generation_prompt(P, GR, few) == want
    assert g._build_generation_prompt(prompt=P, grammar_implementation=GR, few_shots=few) == want


def test_generation_prompt_default_is_without_examples():
    assert g._build_generation_prompt(P, "") == GENERATION_1 + GENERATION_3 + GENERATION_5 + P + GENERATION_7


def test_alignment_prompt_exact():
    want = ALIGNMENT_1 + GR + ALIGNMENT_3 + P + ALIGNMENT_5 + M + ALIGNMENT_7 + D + ALIGNMENT_9
    assert g._build_alignment_prompt(P, GR, M, D) == want


@pytest.mark.parametrize("few", [None, EXAMPLES])
def test_alignment_revision_prompt_exact(few):
    want = (REVISIONALIGNMENT_1 + A + REVISIONALIGNMENT_3 + GR + REVISIONALIGNMENT_5 + few_section(few)
            + REVISIONALIGNMENT_7 + P + REVISIONALIGNMENT_9 + M + REVISIONALIGNMENT_11 + D + REVISIONALIGNMENT_13)
    assert g._build_revision_prompt_alignment(P, GR, A, M, D, few) == want


@pytest.mark.parametrize("errors", [[], ["line 3: expected ';'"], ["it's bad", 'say "x"\t\x07\u2028', "\\"]])
@pytest.mark.parametrize("few", [None, EXAMPLES])
def test_syntax_revision_prompt_exact(errors, few):
    want = (REVISIONSYNTAX_1 + GR + REVISIONSYNTAX_3 + few_section(few) + REVISIONSYNTAX_5 + P
            + REVISIONSYNTAX_7 + M + REVISIONSYNTAX_9 + D + REVISIONSYNTAX_11 + repr(errors) + REVISIONSYNTAX_13)
    assert g._build_revision_prompt_syntax(P, GR, M, D, errors, few) == want


@pytest.mark.parametrize("errors", [[], ["undefined name 'q'"], ["a", "b\nc"]])
def test_final_assessment_prompt_exact(errors):
    section = f"SYNTAX ERRORS:\n{errors!r}\n\n" if errors else ""
    want = (FINALASSESSMENT_1 + GR + FINALASSESSMENT_3 + P + FINALASSESSMENT_5 + M + FINALASSESSMENT_7 + D
            + FINALASSESSMENT_9 + section + FINALASSESSMENT_11)
    if not errors:  # the checklist asks about compile errors only when there were some
        want = want.replace("- Any syntax error raised by the compiler.\n", "")
    assert g._build_final_assessment_prompt(P, GR, M, D, errors) == want


def test_feedback_prompt_exact():
    want = FEEDBACK_1 + GR + FEEDBACK_3 + P + FEEDBACK_5 + M + FEEDBACK_7 + D + FEEDBACK_9
    assert g._build_feedback_prompt(P, GR, M, D) == want
    assert g._build_feedback_prompt(user_prompt_text=P, grammar_implementation=GR, model_code=M, data_code=D) == want


def test_texts_with_lone_surrogates_survive():
    s = "bad \udcff byte"
    assert s in g._build_feedback_prompt(s, "", "", "")


BUILDERS = [
    (g._build_generation_prompt, ["p", "g"]),
    (g._build_alignment_prompt, ["p", "g", "m", "d"]),
    (g._build_revision_prompt_alignment, ["p", "g", "a", "m", "d"]),
    (g._build_revision_prompt_syntax, ["p", "g", "m", "d", []]),
    (g._build_final_assessment_prompt, ["p", "g", "m", "d", []]),
    (g._build_feedback_prompt, ["q", "g", "m", "d"]),
]


@pytest.mark.parametrize("builder,args", BUILDERS)
@pytest.mark.parametrize("bad", [None, 3, b"bytes", ["x"]])
def test_non_text_arguments_are_type_errors(builder, args, bad):
    for i, a in enumerate(args):
        if isinstance(a, str):
            broken = list(args)
            broken[i] = bad
            with pytest.raises(TypeError):
                builder(*broken)


@pytest.mark.parametrize("builder,args", [b for b in BUILDERS if b[0] in (
    g._build_generation_prompt, g._build_revision_prompt_alignment, g._build_revision_prompt_syntax)])
@pytest.mark.parametrize("bad", [(), {"description": "d"}, "examples", 0])
def test_few_shots_must_be_list_or_none(builder, args, bad):
    with pytest.raises(TypeError):
        builder(*args, few_shots=bad)


@pytest.mark.parametrize("builder", [g._build_revision_prompt_syntax, g._build_final_assessment_prompt])
@pytest.mark.parametrize("bad", [None, "oops", ("a",), [1]])
def test_syntax_errors_must_be_list_of_text(builder, bad):
    with pytest.raises(TypeError):
        builder("p", "g", "m", "d", bad)


@pytest.mark.parametrize("missing", ["description", "model", "data"])
def test_example_without_required_entry_is_key_error(missing):
    ex = {"description": "d", "model": "m", "data": "x"}
    del ex[missing]
    with pytest.raises(KeyError) as info:
        g._build_generation_prompt("p", "g", [EXAMPLES[0], ex])
    assert info.value.args == (missing,)
