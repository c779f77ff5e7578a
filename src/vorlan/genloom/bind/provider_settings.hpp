// The provider-call settings read at call time (REQUEST_TIMEOUT, OPENAI_API, GEMINI_CLIENT) and the
// handling of a request that timed out.
#pragma once
#include <pybind11/pybind11.h>

#include <optional>

#include "genloom/core/provider_rules.hpp"

namespace genloom {
namespace py = pybind11;

// REQUEST_TIMEOUT in seconds; nullopt when it is None (no limit). Any other value
// that is not a positive finite number raises ValueError.
std::optional<double> request_timeout();

// The same as a host value for the client layers: a float, or None.
py::object request_timeout_value();

// The OpenAI API named by `value` ("responses" or "chat"); ValueError naming `what`
// otherwise.
core::OpenAIApi openai_api_from(py::handle value, const char* what);

// The current OPENAI_API setting.
core::OpenAIApi openai_api();

// The current GEMINI_CLIENT setting ("generativeai" or "genai"); ValueError otherwise.
core::GeminiClient gemini_client();

// True when the error is a timeout of a client layer (TimeoutError, or an error class
// whose name says Timeout or DeadlineExceeded, such as those of httpx and api_core).
bool is_timeout_error(const py::error_already_set& e);

// Raise TimeoutError "<provider> request timed out: no reply within N s; ..." from `cause`.
[[noreturn]] void raise_timeout(const char* provider, py::error_already_set& cause);

}  // namespace genloom
