// Structured replies on the provider requests: the schema of a reply contract added in each
// provider's form, and the servers that refused one, remembered for the process so a run
// falls back to the plain request once (with a progress note) and stays there.
#pragma once
#include <pybind11/pybind11.h>

#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/reply_schemas.hpp"

namespace genloom {

// Adds the schema of `contract` (a contract name, or None for none) to an OpenAI request record:
// text.format on the Responses API, response_format on chat completions, both strict. False
// when nothing was added (no contract, or this server and model refused one before).
bool add_openai_reply_format(py::dict& record, py::handle client, py::handle contract, bool chat);
// After a failed attempt: drops the schema from the request when the error is about it,
// remembers the refusal and reports it. True when something was dropped.
bool drop_refused_openai_format(py::dict& params, py::handle client, bool chat, const py::str& error_text,
                                const py::object& progress);
// The reply of a strict request in the contract's own shape (keys left out come back as null).
py::object openai_reply_in_contract(py::handle contract, const py::object& text);

// Adds response_schema and the JSON mime type to Gemini generation settings; false when not.
bool add_gemini_reply_format(py::dict& settings, py::handle model_name, py::handle contract);
// Ollama's `format` for a contract, or None (no contract, or refused before).
py::object ollama_reply_format(py::handle model_name, py::handle contract);

// send(), and when it fails with an error about the reply format while one was sent: the
// refusal remembered and reported, drop() called, send() once more.
// What a refusal is remembered under: the provider (with its endpoint where it has one) and model.
std::string format_scope(const char* provider, py::handle model_name);
void remember_format_refusal(const std::string& scope, const char* label, const py::object& progress);

template <class Send, class Drop>
py::object with_format_fallback(bool sent, const std::string& scope, const char* label, const py::object& progress,
                                Send send, Drop drop);

void register_reply_format(py::module_& m);  // _reply_schema, STRUCTURED_OUTPUT

template <class Send, class Drop>
py::object with_format_fallback(bool sent, const std::string& scope, const char* label, const py::object& progress,
                                Send send, Drop drop) {
    if (!sent) return send();
    try {
        return send();
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e) || !replies::names_reply_format(Utf8(error_text(e)).view())) throw;
    }
    remember_format_refusal(scope, label, progress);
    drop();
    return send();
}

}  // namespace genloom
