#include "genloom/core/prompts.hpp"

#include "common/quote.hpp"
#include "genloom/core/prompts_parts.hpp"
#include "genloom/core/reply_contracts.hpp"

namespace genloom::prompts {

using namespace parts;

namespace {

// Fixed template texts, named after the builder and their place in it.

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

constexpr std::string_view kAlignment9 =
    "\n"
    "</data>\n"
    "</inputs>\n"
    "\n";

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
    "\n";

constexpr std::string_view kFewShotOpen =
    "<few_shot_examples>\n"
    "Use the following exemplars as guidance for structure and syntax only. "
    "Do not copy variable names unless appropriate to the new problem.\n";
constexpr std::string_view kFewShotClose = "</few_shot_examples>\n\n";

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
                   kAlignment9, kAssessmentFocus1, kAssessmentFocus2, "\n", kAlignmentReply});
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

std::string final_assessment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                             std::string_view data_code, bool has_errors, std::string_view syntax_errors_text) {
    std::string errors;
    if (has_errors) errors = concat({"SYNTAX ERRORS:\n", syntax_errors_text, "\n\n"});
    return concat({kFinalAssessment1, grammar, kFinalAssessment3, prompt, kFinalAssessment5, model_code,
                   kFinalAssessment7, data_code, kFinalAssessment9, errors, kFinalAssessment11,
                   kAssessmentFocus1, has_errors ? kAssessmentFocusErrors : "", kAssessmentFocus2,
                   kFinalAssessment12});
}

std::string feedback(std::string_view user_prompt_text, std::string_view grammar, std::string_view model_code,
                     std::string_view data_code) {
    return concat({kFeedback1, grammar, kFeedback3, user_prompt_text, kFeedback5, model_code, kFeedback7,
                   data_code, kFeedback9, kFeedbackReply});
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
