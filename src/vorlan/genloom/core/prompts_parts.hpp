// Template fragments shared by the prompt builders of prompts.cpp and prompts_revision.cpp
// (internal to the prompt core).
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace genloom::prompts::parts {

inline std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t n = 0;
    for (auto p : parts) n += p.size();
    std::string out;
    out.reserve(n);
    for (auto p : parts) out.append(p);
    return out;
}

// What the alignment and final-assessment prompts ask the reviewer to look at.
// The compile-error line is there only when the compiler reported errors.
inline constexpr std::string_view kAssessmentFocus1 =
    "<assessment_focus>\n"
    "- Objective and constraints reflect the prompt intent.\n"
    "- Decision variables have correct domains and indices.\n"
    "- Data is consistent with sets/parameters used by the model.\n"
    "- Signs, units, and indexing are correct; no missing links.\n";

inline constexpr std::string_view kAssessmentFocusErrors = "- Any syntax error raised by the compiler.\n";

inline constexpr std::string_view kAssessmentFocus2 =
    "- Most impactful improvements if misaligned.\n"
    "</assessment_focus>\n";

inline constexpr std::string_view kAlignment1 =
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

inline constexpr std::string_view kAlignment3 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n"
    "<inputs>\n"
    "<problem_description>\n";

inline constexpr std::string_view kAlignment5 =
    "\n"
    "</problem_description>\n"
    "\n"
    "<model>\n";

inline constexpr std::string_view kAlignment7 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

inline constexpr std::string_view kRevisionSyntax3 =
    "\n"
    "--- END VORLAN SYNTAX IMPLEMENTATION ---\n"
    "</grammar_reference>\n"
    "\n";

inline constexpr std::string_view kRevisionSyntax5 =
    "<problem_description>\n";

inline constexpr std::string_view kRevisionSyntax7 =
    "\n"
    "</problem_description>\n"
    "\n"
    "<previous_attempt>\n"
    "<model>\n";

inline constexpr std::string_view kRevisionSyntax9 =
    "\n"
    "</model>\n"
    "\n"
    "<data>\n";

}  // namespace genloom::prompts::parts
