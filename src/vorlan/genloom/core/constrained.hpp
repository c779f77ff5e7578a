// Grammar-constrained generation of a pair in two calls: the model file under the model
// grammar, then the data file under the data grammar with the model in the prompt. The
// prompts are the loop's own, with their reply requirements swapped for one file's.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace genloom::constrained {

// The loop's prompt asking for the model file alone, as plain Vorlan text.
std::string model_prompt(std::string_view prompt);
// The loop's prompt asking for the data file alone, for the model it shows.
std::string data_prompt(std::string_view prompt, std::string_view model_code);

// The request field that carries a grammar, as a path of nested keys: "grammar" is
// {"grammar": ...}, "structured_outputs.grammar" is {"structured_outputs": {"grammar": ...}}.
// Empty for a name with an empty component.
std::vector<std::string> field_path(std::string_view dotted);

// The field a server takes, from the owner its model listing names ("vllm", "llamacpp", ...).
std::string field_for_owner(std::string_view owned_by);

}  // namespace genloom::constrained
