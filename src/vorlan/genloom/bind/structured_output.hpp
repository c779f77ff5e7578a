// The JSON schema a provider is asked to make its reply follow, for the providers that
// can enforce one (Anthropic through a tool's input schema, Gemini on google-genai
// through the response schema).
#pragma once
#include <pybind11/pybind11.h>

namespace genloom {
namespace py = pybind11;

// The schema of the reply the current request expects, or None when replies are free
// text (the request is then sent without one). Not yet connected to a setting: always
// None for now.
inline py::object requested_reply_schema() { return py::none(); }

}  // namespace genloom
