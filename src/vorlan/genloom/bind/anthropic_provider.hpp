// Anthropic's Messages API as a provider: the client, the request, the reply text.
#pragma once
#include <pybind11/pybind11.h>

namespace genloom {
namespace py = pybind11;

extern const char* const kAnthropicMissing;

// The LLMProvider.ANTHROPIC branch of _llm_generate_text: one request through
// _anthropic_client and send_with_retry; the reply's text blocks joined. With a reply
// contract, its schema goes as the input schema of a tool the model must call, and the
// reply is that tool's input as JSON (a model that refuses the tool is asked again
// without it, once per run). An empty reply raises RuntimeError "Empty Anthropic
// response (stop reason: ...).".
py::object anthropic_generate_text(const py::object& model_name, const py::object& input_text,
                                   const py::object& max_tokens, const py::object& temperature,
                                   const py::object& stop, const py::object& progress,
                                   const py::object& reply_contract);

// _anthropic_client, _build_anthropic_params.
void register_anthropic(py::module_& m);

}  // namespace genloom
