// Gemini through its maintained client layer, google-genai (GEMINI_CLIENT = "genai").
#pragma once
#include <pybind11/pybind11.h>

namespace genloom {
namespace py = pybind11;

extern const char* const kGenaiMissing;

// The LLMProvider.GOOGLE branch of _llm_generate_text when GEMINI_CLIENT is "genai": one
// generate_content request through _genai_client and send_with_retry, with a reply
// contract's schema as the response JSON schema (left out again, once per run, when the
// model refuses it). An empty reply is the empty text, as on the older client; a blocked
// prompt or reply raises ValueError naming the reason.
py::object genai_generate_text(const py::object& model_name, const py::object& input_text,
                               const py::object& max_tokens, const py::object& temperature,
                               const py::object& stop, const py::object& progress,
                               const py::object& reply_contract);

// The model records of client.models.list(), read whole; RuntimeError "Failed to list
// Gemini models: ..." when the service fails.
py::list genai_model_records();

// GEMINI_CLIENT, _genai_client, _build_genai_config.
void register_gemini_genai(py::module_& m);

}  // namespace genloom
