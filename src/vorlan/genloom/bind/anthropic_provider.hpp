// Anthropic's Messages API as a provider: the client, the request, the reply text.
#pragma once
#include <pybind11/pybind11.h>

namespace genloom {
namespace py = pybind11;

extern const char* const kAnthropicMissing;

// The LLMProvider.ANTHROPIC branch of _llm_generate_text: one request through
// _anthropic_client and send_with_retry; the reply's text blocks joined (or, when a
// reply schema was sent, the tool input as JSON). An empty reply raises RuntimeError
// "Empty Anthropic response (stop reason: ...).".
py::object anthropic_generate_text(const py::object& model_name, const py::object& input_text,
                                   const py::object& max_tokens, const py::object& temperature,
                                   const py::object& stop, const py::object& progress);

// _anthropic_client, _build_anthropic_params.
void register_anthropic(py::module_& m);

}  // namespace genloom
