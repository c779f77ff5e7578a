// Usage reports. After each provider request that returned a reply, the dispatch
// hands one record (provider, model, input and output text, token counts, seconds)
// to the callable held by the module's `_usage_sink` context variable, if any.
// The reply text returned to the caller is unaffected.
#pragma once
#include <pybind11/pybind11.h>

#include <chrono>

namespace genloom {
namespace py = pybind11;

// Token counts a provider reported; None where it reported none.
struct TokenCounts {
    py::object input = py::none();
    py::object output = py::none();
};

// OpenAI `usage`: input_tokens/output_tokens (Responses API) or
// prompt_tokens/completion_tokens (chat completions).
TokenCounts openai_token_counts(py::handle reply);

// Gemini `usage_metadata` (both client layers): prompt_token_count, and
// candidates_token_count plus thoughts_token_count where a thinking model reports it.
TokenCounts gemini_token_counts(py::handle reply);

// Anthropic `usage`: input_tokens plus the prompt-cache counts where present, output_tokens.
TokenCounts anthropic_token_counts(py::handle reply);

// Ollama prompt_eval_count/eval_count of the last reply read by _ollama_generate_text
// on this thread. The dispatch clears them before a request and takes them after it,
// so a host's replacement of _ollama_generate_text yields None counts, not stale ones.
void remember_ollama_counts(py::handle reply);
void forget_ollama_counts();
TokenCounts take_ollama_counts();

// Calls the current sink, if callable, with the usage record. Never fails on the
// sink's account (an ordinary error is dropped, as _notify does).
void report_usage(const char* provider, const py::object& model, const py::object& input_text,
                  const py::object& output_text, const TokenCounts& tokens, double seconds);

// Seconds since construction, on a monotonic clock.
class Stopwatch {
public:
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace genloom
