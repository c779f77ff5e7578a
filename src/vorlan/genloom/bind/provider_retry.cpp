#include "genloom/bind/provider_retry.hpp"

#include <string>

#include "genloom/bind/http_transport.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/retry_policy.hpp"

namespace genloom {

namespace {

using core::kAttempts;

// A failure to reach the service at all: ConnectionError, or a client-layer error class
// named for the connection or the transport (httpx.ConnectError, APIConnectionError).
bool is_network_error(const py::error_already_set& e) {
    if (e.matches(PyExc_ConnectionError)) return true;
    for (py::handle cls : py::type::handle_of(e.value()).attr("__mro__")) {
        const std::string name = py::str(cls.attr("__name__"));
        if (name.find("Connect") != std::string::npos || name.find("Transport") != std::string::npos ||
            name.find("Network") != std::string::npos)
            return true;
    }
    return false;
}

[[noreturn]] void fail(const ServiceCall& call, const std::string& head, const py::str& error,
                       const std::string& advice, py::error_already_set* cause) {
    py::str message = cat({py::str(std::string(call.label) + head), error});
    if (!advice.empty()) message = cat({message, py::str(" (" + advice + ")")});
    raise_error(PyExc_RuntimeError, message, cause);
}

}  // namespace

py::object send_with_retry(const ServiceCall& call, const std::function<py::object()>& send,
                           const py::object& progress) {
    const std::string label = call.label;
    py::str model_text(call.model);
    Utf8 model(model_text);
    py::str last = py::str("");
    py::object last_error = py::none();
    std::string advice;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        try {
            return send();
        } catch (py::error_already_set& e) {
            if (!is_ordinary(e)) throw;
            raise_if_reply_too_large(call.label, e);
            const long status = error_status(e.value());
            const bool timed_out = is_timeout_error(e);
            last = error_text(e);
            last_error = e.value();
            notify_obj(progress, cat({py::str("[LLM] " + label + ": "), last}));
            advice = timed_out ? core::timeout_advice(request_timeout())
                               : core::status_advice(static_cast<int>(status), call.names, model.view());
            if (status != 0 && !core::is_transient_status(status)) {
                if (!call.drop_rejected || !call.drop_rejected(last) || attempt + 1 == kAttempts)
                    fail(call, " request failed: ", last, advice, &e);
                notify(progress, "[LLM] " + label + ": retrying without unsupported parameters");
                continue;
            }
            if (status == 0 && !timed_out && !is_network_error(e)) throw;
        }
        if (attempt + 1 == kAttempts) break;
        notify_obj(progress, cat({py::str("[LLM] " + label + ": retry " + std::to_string(attempt + 1) + "/" +
                                          std::to_string(kAttempts) + " after error: "),
                                  last}));
        wait_before_retry(attempt, core::kBackoffSeconds, last_error);
    }
    notify(progress, "[LLM] " + label + ": failed after " + std::to_string(kAttempts) + " attempts");
    fail(call, " request failed after " + std::to_string(kAttempts) + " attempts: ", last, advice, nullptr);
}

}  // namespace genloom
