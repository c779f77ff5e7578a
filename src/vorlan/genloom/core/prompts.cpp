#include "genloom/core/prompts.hpp"

#include <initializer_list>

#include "common/quote.hpp"

namespace genloom::prompts {

namespace {

// Fixed template texts, named after the builder and their place in it.

// Reply format shared by the prompts that ask for a model and data pair.
// What the alignment and final-assessment prompts ask the reviewer to look at.
constexpr std::string_view kAssessmentFocus =
    "<assessment_focus>\n"
    "- Objective and constraints reflect the prompt intent.\n"
    "- Decision variables have correct domains and indices.\n"
    "- Data is consistent with sets/parameters used by the model.\n"
    "- Signs, units, and indexing are correct; no missing links.\n"
    "- Any syntax error raised by the compiler.\n"
    "- Most impactful improvements if misaligned.\n"
    "</assessment_focus>\n";

constexpr std::string_view kModelDataReply =
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
    "  \"model\": \"float a;\\nfloat b;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n";

constexpr std::string_view kGeneration1 =
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
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n";

constexpr std::string_view kGeneration3 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n";

constexpr std::string_view kGeneration5 =
    "<problem_description>\n";

constexpr std::string_view kGeneration7 =
    "\n"
    "</problem_description>\n"
    "\n";

constexpr std::string_view kAlignment1 =
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
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n";

constexpr std::string_view kAlignment3 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
    "<inputs>\n"
    "<problem_description>\n";

constexpr std::string_view kAlignment5 =
    "\n"
    "</problem_description>\n"
    "\n"
    "<model>\n";

constexpr std::string_view kAlignment7 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

constexpr std::string_view kAlignment9 =
    "\n"
    "</data>\n"
    "</inputs>\n"
    "\n";

constexpr std::string_view kAlignment10 =
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
    "</example_output>\n";

constexpr std::string_view kRevisionAlignment1 =
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "The previous attempt produced a syntactically valid Vorlan model and data, but they are NOT fully aligned with the problem description.\n"
    "<assessment>\n";

constexpr std::string_view kRevisionAlignment3 =
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
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n";

constexpr std::string_view kRevisionAlignment5 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n";

constexpr std::string_view kRevisionAlignment7 =
    "<problem_description>\n";

constexpr std::string_view kRevisionAlignment9 =
    "\n"
    "</problem_description>\n"
    "\n"
    "<previous_attempt>\n"
    "<model>\n";

constexpr std::string_view kRevisionAlignment11 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

constexpr std::string_view kRevisionAlignment13 =
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
    "\n";

constexpr std::string_view kRevisionSyntax1 =
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
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n";

constexpr std::string_view kRevisionSyntax3 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n";

constexpr std::string_view kRevisionSyntax5 =
    "<problem_description>\n";

constexpr std::string_view kRevisionSyntax7 =
    "\n"
    "</problem_description>\n"
    "\n"
    "<previous_attempt>\n"
    "<model>\n";

constexpr std::string_view kRevisionSyntax9 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

constexpr std::string_view kRevisionSyntax11 =
    "\n"
    "</data>\n"
    "</previous_attempt>\n"
    "\n"
    "<errors>\n";

constexpr std::string_view kRevisionSyntax13 =
    "\n"
    "</errors>\n"
    "\n"
    "<revision_guidelines>\n"
    "- Fix the listed syntax/semantic errors.\n"
    "- Preserve the original modeling intent and structure when possible.\n"
    "- Ensure the model compiles with the data under the given implementation.\n"
    "- Return complete model and data strings; do not return diffs.\n"
    "</revision_guidelines>\n"
    "\n";

// The solve-revision prompt: a pair that compiles but that the solver found infeasible or
// unbounded. It shares the syntax-revision prompt's layout and reply format.
constexpr std::string_view kRevisionSolve1 =
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "The previous attempt produced a Vorlan model and data that compile, but the solver could not solve them: the findings below say whether the model is infeasible or unbounded and which constraints, bounds or variables are involved.\n"
    "Revise the model and data so that the problem has an optimal solution that matches the problem description.\n"
    "Change only what is necessary to fix the cause (constraints, bounds, variable domains, data values, or missing constraints).\n"
    "Label all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\n"
    "Use the following Vorlan syntax implementation as a reference for valid Vorlan syntax.\n"
    "You are also provided with a few-shot examples section; use it only as guidance and produce a solution tailored to the new problem.\n"
    "</task>\n"
    "\n"
    "<grammar_reference>\n"
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n";

constexpr std::string_view kRevisionSolve11 =
    "\n"
    "</data>\n"
    "</previous_attempt>\n"
    "\n"
    "<solver_findings>\n";

constexpr std::string_view kRevisionSolve13 =
    "</solver_findings>\n"
    "\n"
    "<revision_guidelines>\n"
    "- Check each listed constraint and bound against the problem description and the data: a requirement may exceed what is available, a sign or direction may be wrong, a term may be missing, or an equality should be an inequality.\n"
    "- For an unbounded model, add the limits the description implies (capacities, demands, budgets) on the listed variables, or correct the objective sense.\n"
    "- If the description itself allows no solution, change the data as little as possible and say so in a model comment.\n"
    "- Keep syntax strictly valid.\n"
    "- Return complete model and data strings; do not return diffs.\n"
    "</revision_guidelines>\n"
    "\n";

// The solution section the alignment prompt carries when the pair was solved.
constexpr std::string_view kAlignmentSolution =
    "\n"
    "</data>\n"
    "\n"
    "<solution>\n"
    "The solver's result for this model and data; judge whether these numbers make sense for the problem description.\n";

constexpr std::string_view kAlignmentSolutionEnd =
    "</solution>\n"
    "</inputs>\n"
    "\n";

constexpr std::string_view kFinalAssessment1 =
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
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n";

constexpr std::string_view kFinalAssessment3 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
    "<inputs>\n"
    "<problem_description>\n";

constexpr std::string_view kFinalAssessment5 =
    "\n"
    "</problem_description>\n"
    "\n"
    "<model>\n";

constexpr std::string_view kFinalAssessment7 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

constexpr std::string_view kFinalAssessment9 =
    "\n"
    "</data>\n"
    "\n";

constexpr std::string_view kFinalAssessment11 =
    "</inputs>\n"
    "\n";

constexpr std::string_view kFinalAssessment12 =
    "\n"
    "<output_requirements>\n"
    "- Return a single short paragraph (3–6 sentences) of plain text.\n"
    "- No Markdown, no bullet lists, no code fences.\n"
    "- If issues exist, mention the most critical fixes.\n"
    "</output_requirements>\n";

constexpr std::string_view kFeedback1 =
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
    "--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n";

constexpr std::string_view kFeedback3 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
    "<inputs>\n"
    "<question>\n";

constexpr std::string_view kFeedback5 =
    "\n"
    "</question>\n"
    "\n"
    "<model>\n";

constexpr std::string_view kFeedback7 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

constexpr std::string_view kFeedback9 =
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
    "  \"revised_model\": \"// minimal fix\\nfloat a;\\nfloat b;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"revised_data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n";

constexpr std::string_view kFewShotOpen =
    "<few_shot_examples>\n"
    "Use the following exemplars as guidance for structure and syntax only. "
    "Do not copy variable names unless appropriate to the new problem.\n";
constexpr std::string_view kFewShotClose = "</few_shot_examples>\n\n";

std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t n = 0;
    for (auto p : parts) n += p.size();
    std::string out;
    out.reserve(n);
    for (auto p : parts) out.append(p);
    return out;
}

}  // namespace

std::string few_shot_section(const Examples& examples) {
    if (examples.empty()) return {};
    std::string out(kFewShotOpen);
    int i = 1;
    for (const auto& ex : examples) {
        out += concat({"<example index=\"", std::to_string(i++), "\">\n",
                       "<description path=\"", ex.desc_path, "\">\n", ex.description, "\n</description>\n\n",
                       "<model_file path=\"", ex.model_path, "\">\n", ex.model, "\n</model_file>\n\n",
                       "<data_file path=\"", ex.data_path, "\">\n", ex.data, "\n</data_file>\n</example>\n"});
    }
    out += kFewShotClose;
    return out;
}

std::string generation(std::string_view prompt, std::string_view grammar, const Examples& few_shots) {
    return concat({kGeneration1, grammar, kGeneration3, few_shot_section(few_shots), kGeneration5, prompt,
                   kGeneration7, kModelDataReply});
}

std::string alignment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                      std::string_view data_code) {
    return concat({kAlignment1, grammar, kAlignment3, prompt, kAlignment5, model_code, kAlignment7, data_code,
                   kAlignment9, kAssessmentFocus, kAlignment10});
}

std::string alignment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                      std::string_view data_code, std::string_view solution_summary) {
    return concat({kAlignment1, grammar, kAlignment3, prompt, kAlignment5, model_code, kAlignment7, data_code,
                   kAlignmentSolution, solution_summary, kAlignmentSolutionEnd, kAssessmentFocus, kAlignment10});
}

std::string revision_alignment(std::string_view prompt, std::string_view grammar,
                               std::string_view assessment_text, std::string_view model_code,
                               std::string_view data_code, const Examples& few_shots) {
    return concat({kRevisionAlignment1, assessment_text, kRevisionAlignment3, grammar, kRevisionAlignment5,
                   few_shot_section(few_shots), kRevisionAlignment7, prompt, kRevisionAlignment9, model_code,
                   kRevisionAlignment11, data_code, kRevisionAlignment13, kModelDataReply});
}

std::string revision_syntax(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                            std::string_view data_code, std::string_view syntax_errors_text,
                            const Examples& few_shots) {
    return concat({kRevisionSyntax1, grammar, kRevisionSyntax3, few_shot_section(few_shots), kRevisionSyntax5,
                   prompt, kRevisionSyntax7, model_code, kRevisionSyntax9, data_code, kRevisionSyntax11,
                   syntax_errors_text, kRevisionSyntax13, kModelDataReply});
}

std::string revision_solve(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                           std::string_view data_code, std::string_view findings, const Examples& few_shots) {
    return concat({kRevisionSolve1, grammar, kRevisionSyntax3, few_shot_section(few_shots), kRevisionSyntax5, prompt,
                   kRevisionSyntax7, model_code, kRevisionSyntax9, data_code, kRevisionSolve11, findings,
                   kRevisionSolve13, kModelDataReply});
}

std::string final_assessment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                             std::string_view data_code, bool has_errors, std::string_view syntax_errors_text) {
    std::string errors;
    if (has_errors) errors = concat({"SYNTAX ERRORS:\n", syntax_errors_text, "\n\n"});
    return concat({kFinalAssessment1, grammar, kFinalAssessment3, prompt, kFinalAssessment5, model_code,
                   kFinalAssessment7, data_code, kFinalAssessment9, errors, kFinalAssessment11,
                   kAssessmentFocus, kFinalAssessment12});
}

std::string feedback(std::string_view user_prompt_text, std::string_view grammar, std::string_view model_code,
                     std::string_view data_code) {
    return concat({kFeedback1, grammar, kFeedback3, user_prompt_text, kFeedback5, model_code, kFeedback7,
                   data_code, kFeedback9});
}

std::string revision_syntax(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                            std::string_view data_code, const std::vector<std::string>& syntax_errors,
                            const Examples& few_shots) {
    return revision_syntax(prompt, grammar, model_code, data_code, vorlan::text::list_text(syntax_errors),
                           few_shots);
}

std::string final_assessment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                             std::string_view data_code, const std::vector<std::string>& syntax_errors) {
    return final_assessment(prompt, grammar, model_code, data_code, !syntax_errors.empty(),
                            syntax_errors.empty() ? std::string() : vorlan::text::list_text(syntax_errors));
}

}  // namespace genloom::prompts
