// The attempt loop of the providers whose client retries are switched off in favour of
// ours (Anthropic, Gemini on google-genai): the retry policy and waits of every provider
// (core/retry_policy, wait_before_retry), but a request the service refused for good (a
// bad key, an unknown model) fails at once with what to do about it.
#pragma once
#include <pybind11/pybind11.h>

#include <functional>

#include "genloom/core/provider_rules.hpp"

namespace genloom {
namespace py = pybind11;

struct ServiceCall {
    const char* label;          // as progress messages name the service: "Anthropic", "Gemini"
    core::ServiceNames names;   // key variable and --provider name, for the advice
    py::object model;           // the model name, for the advice on an unknown model
    // Called with the error text of a refused request (an HTTP status not worth retrying as
    // is); returns true when it removed a parameter the text names, and the request is then
    // sent again at once. May be empty.
    std::function<bool(const py::str&)> drop_rejected = nullptr;
};

// Calls `send` until it returns, at most core::kAttempts (3) times. Retried: HTTP statuses
// that core::is_transient_status accepts, time-outs and connection failures, after
// wait_before_retry (the server's Retry-After, else 1.5 s, then 3 s; never past
// REQUEST_TIMEOUT). A reply over MAX_REPLY_BYTES raises RuntimeError "<label> reply larger
// than ..." at once. Another HTTP status raises RuntimeError "<label> request failed:
// <error> (<advice>)" at once, unless drop_rejected removed what the service refused (then
// the next attempt follows); an error without a status that is no network failure
// propagates unchanged. After the last attempt: RuntimeError "<label> request failed after
// 3 attempts: <error> (<advice>)". Each failure is reported as "[LLM] <label>: <error>".
py::object send_with_retry(const ServiceCall& call, const std::function<py::object()>& send,
                           const py::object& progress);

}  // namespace genloom
