// The reply contracts of the prompts: what each prompt asks the LLM to return, in one place so
// that the prompts, the reply checks and any schema given to a provider say the same thing.
#pragma once
#include <string_view>

namespace genloom::prompts {

// Keys of the no-optimum verdicts a solve revision may return instead of a pair.
constexpr std::string_view kInfeasibleKey = "infeasible_as_described";
constexpr std::string_view kUnboundedKey = "unbounded_as_described";
constexpr std::string_view kExplanationKey = "explanation";
// Key of the stated values a revised model no longer uses as stated (alignment after a revision).
constexpr std::string_view kDeviationsKey = "deviations";

// A model and data pair (generation, syntax and alignment revisions).
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
    "  \"model\": \"float a = ...;\\nfloat b = ...;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n";

// A revised pair, or the verdict that the problem as described has no optimum (solve revision).
constexpr std::string_view kSolveRevisionReply =
    "<output_requirements>\n"
    "- Return ONLY a JSON object, one of these three:\n"
    "  a revised pair with exactly two keys, \"model\" (the Vorlan model) and \"data\" (the matching data file);\n"
    "  {\"infeasible_as_described\": true, \"explanation\": \"...\"} when the requirements the problem description states cannot all hold together;\n"
    "  {\"unbounded_as_described\": true, \"explanation\": \"...\"} when nothing the problem description states limits the objective.\n"
    "- An explanation names the conflicting requirements in the words and numbers of the problem description, in plain text (2–4 sentences).\n"
    "- The values must be single JSON strings (no arrays/objects inside them), apart from the literal true of a verdict.\n"
    "- Escape all double quotes and backslashes; encode newlines as \\n.\n"
    "- No trailing commas. No additional keys. No commentary.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"anyOf\": [\n"
    "    {\"type\": \"object\", \"additionalProperties\": false, \"required\": [\"model\", \"data\"],\n"
    "     \"properties\": {\"model\": {\"type\": \"string\"}, \"data\": {\"type\": \"string\"}}},\n"
    "    {\"type\": \"object\", \"additionalProperties\": false, \"required\": [\"infeasible_as_described\", \"explanation\"],\n"
    "     \"properties\": {\"infeasible_as_described\": {\"type\": \"boolean\"}, \"explanation\": {\"type\": \"string\"}}},\n"
    "    {\"type\": \"object\", \"additionalProperties\": false, \"required\": [\"unbounded_as_described\", \"explanation\"],\n"
    "     \"properties\": {\"unbounded_as_described\": {\"type\": \"boolean\"}, \"explanation\": {\"type\": \"string\"}}}\n"
    "  ]\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{\n"
    "  \"model\": \"float a = ...;\\nfloat b = ...;\\ndvar float x;\\nminimize z: a*x;\\nsubject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n"
    "}\n"
    "</example_output>\n"
    "\n"
    "<example_output>\n"
    "{ \"infeasible_as_described\": true, \"explanation\": \"The description requires at least 40 tables at 4 hours each, but the workshop has only 120 hours, enough for 30 tables.\" }\n"
    "</example_output>\n";

// The reviewer's verdict (alignment).
constexpr std::string_view kAlignmentReply =
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

// The reviewer's verdict on a revised pair, with the stated values it no longer uses as stated.
constexpr std::string_view kAlignmentDeviationsReply =
    "<output_requirements>\n"
    "- Return ONLY a JSON object with exactly three keys: \"aligned\" (boolean), \"assessment\" (string) and \"deviations\" (array of strings).\n"
    "- If issues exist, mention the most critical fixes in \"assessment\", a single short paragraph (3–6 sentences) of plain text.\n"
    "- \"deviations\" lists every number, limit or requirement the problem description states that the model or data no longer uses as stated, one short sentence each (stated value, value used); an empty array when there is none.\n"
    "- No Markdown. No bullet lists. No commentary. No additional keys. No trailing commas.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    "</output_requirements>\n"
    "\n"
    "<json_schema>\n"
    "{\n"
    "  \"type\": \"object\",\n"
    "  \"additionalProperties\": false,\n"
    "  \"required\": [\"aligned\", \"assessment\", \"deviations\"],\n"
    "  \"properties\": {\n"
    "    \"aligned\": {\"type\": \"boolean\"},\n"
    "    \"assessment\": {\"type\": \"string\"},\n"
    "    \"deviations\": {\"type\": \"array\", \"items\": {\"type\": \"string\"}}\n"
    "  }\n"
    "}\n"
    "</json_schema>\n"
    "\n"
    "<example_output>\n"
    "{ \"aligned\": false, \"assessment\": \"The revision raised the workshop limit to make the plan fit.\", \"deviations\": [\"The description states 120 workshop hours; the data uses 160.\"] }\n"
    "</example_output>\n";

// Feedback on an existing model, with optional complete revisions.
constexpr std::string_view kFeedbackReply =
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
    "</example_output>\n";

}  // namespace genloom::prompts
