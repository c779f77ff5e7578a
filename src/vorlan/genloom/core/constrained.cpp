#include "genloom/core/constrained.hpp"

#include <algorithm>
#include <cctype>

namespace genloom::constrained {

namespace {

// Every prompt that asks for a pair ends with its reply requirements, opened by this tag.
constexpr std::string_view kRequirements = "<output_requirements>\n";

constexpr std::string_view kModelOnly =
    "<output_requirements>\n"
    "- Return ONLY the Vorlan model file (.mod) as plain text: no JSON, no code fences, no commentary.\n"
    "- The data file is written in a second step; declare every parameter and set the model reads from it.\n"
    "</output_requirements>\n";

constexpr std::string_view kDataOpen =
    "<model_to_complete>\n";

constexpr std::string_view kDataOnly =
    "\n</model_to_complete>\n"
    "\n"
    "<output_requirements>\n"
    "- Return ONLY the Vorlan data file (.dat) for the model above as plain text: no JSON, no code fences, no commentary.\n"
    "- Give a value to every parameter and set the model declares as external data (= ...), and nothing else.\n"
    "</output_requirements>\n";

// The prompt up to its reply requirements (the whole prompt when it has none).
std::string_view body(std::string_view prompt) {
    std::size_t at = prompt.rfind(kRequirements);
    return at == std::string_view::npos ? prompt : prompt.substr(0, at);
}

}  // namespace

std::string model_prompt(std::string_view prompt) {
    std::string out(body(prompt));
    out += kModelOnly;
    return out;
}

std::string data_prompt(std::string_view prompt, std::string_view model_code) {
    std::string out(body(prompt));
    out += kDataOpen;
    out += model_code;
    out += kDataOnly;
    return out;
}

std::vector<std::string> field_path(std::string_view dotted) {
    std::vector<std::string> path;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = dotted.find('.', start);
        std::string_view part = dotted.substr(start, dot == std::string_view::npos ? dotted.npos : dot - start);
        if (part.empty()) return {};
        path.emplace_back(part);
        if (dot == std::string_view::npos) return path;
        start = dot + 1;
    }
}

std::string field_for_owner(std::string_view owned_by) {
    std::string low(owned_by);
    std::transform(low.begin(), low.end(), low.begin(), [](unsigned char ch) { return std::tolower(ch); });
    // vLLM takes grammars among its structured-output options; llama.cpp's server and the
    // servers built on it take a top-level "grammar".
    if (low == "vllm") return "structured_outputs.grammar";
    return "grammar";
}

}  // namespace genloom::constrained
