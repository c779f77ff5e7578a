// The prompts of the verification stage and of reply repair: the solve revision (a revised
// pair or the verdict that the problem as described has no optimum), the alignment prompt with
// the solver's result and the pair a revision started from, and the repair of an unusable reply.
#include "genloom/core/prompts.hpp"
#include "genloom/core/prompts_parts.hpp"
#include "genloom/core/reply_contracts.hpp"

namespace genloom::prompts {

using namespace parts;

namespace {

// The solve-revision prompt: a pair that compiles but that the solver found infeasible or
// unbounded. It shares the syntax-revision prompt's layout. The LLM may fix a modelling error
// or say that the description itself has no optimum, never change what the description states.
constexpr std::string_view kRevisionSolve1 =
    "<role>\n"
    "You are an expert in mathematical optimization and Vorlan.\n"
    "</role>\n"
    "\n"
    "<task>\n"
    "The previous attempt produced a Vorlan model and data that compile, but the solver could not solve them: the findings below say whether the model is infeasible or unbounded and which constraints, bounds or variables are involved.\n"
    "Decide which of two cases holds:\n"
    "1. A modelling error causes it (a wrong sign or direction, a missing term or constraint, a misread number, a wrong index or unit): return a revised model and data that fix that error and match the problem description.\n"
    "2. The problem as described has no optimum: the numbers and limits the description states cannot all hold together (infeasible), or nothing it states limits the objective (unbounded). Then return the verdict object of the output requirements, with an explanation in the description's terms.\n"
    "Never alter a number, limit or requirement that the problem description states in order to make the model solvable: an optimum of a problem the user did not pose is a wrong answer.\n"
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
    "- Check each listed constraint and bound against the problem description: a number may be misread, a sign or direction may be wrong, a term may be missing, or an equality should be an inequality.\n"
    "- For an unbounded model, add the limits the description states (capacities, demands, budgets) on the listed variables, or correct the objective sense.\n"
    "- Numbers the description states stay exactly as stated; only values you had to invent for missing data may change.\n"
    "- If the model states the description faithfully and the conflict lies in the description itself, return the verdict instead of a revised pair.\n"
    "- Keep syntax strictly valid.\n"
    "- Return complete model and data strings; do not return diffs.\n"
    "</revision_guidelines>\n"
    "\n";

// The solution section the alignment prompt carries when the pair was solved.
constexpr std::string_view kAlignmentSolution =
    "<solution>\n"
    "The solver's result for this model and data; judge whether these numbers make sense for the problem description.\n";

constexpr std::string_view kAlignmentSolutionEnd = "</solution>\n";

// The pair a solve revision started from, so that the reviewer sees what the revision changed.
constexpr std::string_view kAlignmentPrevious =
    "<previous_attempt>\n"
    "The model and data above revise this earlier attempt, which the solver found infeasible or unbounded.\n"
    "<model>\n";

constexpr std::string_view kAlignmentPrevious3 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

constexpr std::string_view kAlignmentPrevious5 =
    "\n"
    "</data>\n"
    "</previous_attempt>\n";

constexpr std::string_view kDeviationsCheck =
    "<deviations_check>\n"
    "Compare the revised model and data with the previous attempt and with the problem description. List every number, limit or requirement the description states that the revised model or data no longer uses as stated (a changed value, a relaxed or dropped constraint, a reversed ratio). A model with such deviations is not aligned: the user asked about the problem as stated.\n"
    "</deviations_check>\n";

// Appended to the prompt whose reply could not be used.
constexpr std::string_view kRepair1 =
    "\n"
    "<previous_reply_unusable>\n"
    "Your previous reply to this request could not be used: ";

constexpr std::string_view kRepair3 =
    ".\n"
    "It began:\n";

constexpr std::string_view kRepair5 =
    "\n"
    "</previous_reply_unusable>\n"
    "Reply again with ONLY the JSON object the output requirements above ask for: no reasoning, no commentary, no text before or after it.\n";

// The first `n` code points of UTF-8 text.
std::string_view head(std::string_view s, std::size_t n) {
    std::size_t i = 0, count = 0;
    while (i < s.size() && count < n) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
        ++count;
    }
    return s.substr(0, i);
}

}  // namespace

std::string revision_solve(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                           std::string_view data_code, std::string_view findings, const Examples& few_shots) {
    return concat({kRevisionSolve1, grammar, kRevisionSyntax3, few_shot_section(few_shots), kRevisionSyntax5, prompt,
                   kRevisionSyntax7, model_code, kRevisionSyntax9, data_code, kRevisionSolve11, findings,
                   kRevisionSolve13, kSolveRevisionReply});
}

std::string alignment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                      std::string_view data_code, std::string_view solution_summary) {
    return alignment(prompt, grammar, model_code, data_code, &solution_summary, nullptr);
}

std::string alignment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                      std::string_view data_code, const std::string_view* solution_summary,
                      const PreviousPair* previous) {
    if (!solution_summary && !previous) return alignment(prompt, grammar, model_code, data_code);
    std::string out = concat({kAlignment1, grammar, kAlignment3, prompt, kAlignment5, model_code, kAlignment7,
                              data_code, "\n</data>\n\n"});
    if (solution_summary) out += concat({kAlignmentSolution, *solution_summary, kAlignmentSolutionEnd});
    if (previous)
        out += concat({solution_summary ? "\n" : "", kAlignmentPrevious, previous->model, kAlignmentPrevious3,
                       previous->data, kAlignmentPrevious5});
    out += "</inputs>\n\n";
    out += concat({kAssessmentFocus1, kAssessmentFocus2});
    if (previous) out += kDeviationsCheck;
    out += concat({"\n", previous ? kAlignmentDeviationsReply : kAlignmentReply});
    return out;
}

std::string reply_repair(std::string_view asked, std::string_view reply, std::string_view error) {
    std::string_view excerpt = head(reply, kRepairExcerpt);
    return concat({asked, kRepair1, error, kRepair3, excerpt, excerpt.size() < reply.size() ? " ..." : "", kRepair5});
}

}  // namespace genloom::prompts
