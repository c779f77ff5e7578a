// Loading the LLM client layers and calling the Ollama one with a request timeout.
#pragma once
#include <pybind11/pybind11.h>

namespace genloom {
namespace py = pybind11;

extern const char* const kOpenAIMissing;
extern const char* const kGeminiMissing;
extern const char* const kOllamaMissing;

// google.generativeai, imported with its FutureWarnings (end of support, Python version
// notices) kept off the user's terminal; RuntimeError(kGeminiMissing) when missing.
py::object import_gemini_layer();

// Operation `op` ("generate", "list") of the Ollama client layer. Where the layer has a
// Client class, each call uses a fresh client bounded by REQUEST_TIMEOUT and MAX_REPLY_BYTES
// (the layer's module-level client waits forever), and a transient status (429, 500, 503,
// ...) is tried again as the other providers' are; otherwise the layer's own function is
// called once.
class OllamaOperation {
public:
    // Loads the layer; a missing layer or operation raises RuntimeError(kOllamaMissing).
    explicit OllamaOperation(const char* op);
    // Calls the operation; a timeout raises TimeoutError naming the limit, an error status of
    // the server RuntimeError "Ollama request failed ...", other errors propagate unchanged.
    py::object operator()(const py::kwargs& kwargs) const;

private:
    const char* op_;
    py::object client_cls_;  // None when the layer has no Client class
    py::object function_;    // the layer's function, used without a Client class
};

}  // namespace genloom
