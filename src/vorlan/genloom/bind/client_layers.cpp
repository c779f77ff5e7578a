#include "genloom/bind/client_layers.hpp"

#include "genloom/bind/http_transport.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/retry_policy.hpp"

namespace genloom {

const char* const kOpenAIMissing = "openai is not installed. Install it with: pip install 'vorlan[openai]'";
const char* const kGeminiMissing =
    "google.generativeai is not installed. Install it with: pip install 'vorlan[generativeai]'";
const char* const kOllamaMissing =
    "ollama package is not installed. Install it with: pip install 'vorlan[ollama]'";

py::object import_gemini_layer() {
    py::module_ warnings = py::module_::import("warnings");
    py::object guard = warnings.attr("catch_warnings")();
    guard.attr("__enter__")();
    py::object layer;
    try {
        warnings.attr("simplefilter")("ignore", py::handle(PyExc_FutureWarning));
        layer = import_client_layer("google.generativeai", kGeminiMissing);
    } catch (...) {
        guard.attr("__exit__")(py::none(), py::none(), py::none());
        throw;
    }
    guard.attr("__exit__")(py::none(), py::none(), py::none());
    return layer;
}

namespace {
void close_quietly(const py::object& client) {
    if (client.is_none()) return;
    try {
        client.attr("close")();
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
}
}  // namespace

OllamaOperation::OllamaOperation(const char* op) : op_(op) {
    py::object layer = import_client_layer("ollama", kOllamaMissing);
    try {
        client_cls_ = attr_or_none(layer, "Client");
        if (client_cls_.is_none())
            function_ = layer.attr(op);
        else
            client_cls_.attr(op);  // present on the class, or the layer is unusable
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_AttributeError)) throw;
        raise_runtime_from(e, kOllamaMissing);
    }
}

py::object OllamaOperation::operator()(const py::kwargs& kwargs) const {
    for (int attempt = 0;; ++attempt) {
        py::object client = py::none();
        try {
            if (client_cls_.is_none()) return function_(**kwargs);
            py::dict options = bounded_client_options("httpx");
            options["timeout"] = request_timeout_value();
            client = client_cls_(**options);
            py::object reply = client.attr(op_)(**kwargs);
            close_quietly(client);
            return reply;
        } catch (py::error_already_set& e) {
            close_quietly(client);
            if (!is_ordinary(e)) throw;
            if (is_timeout_error(e)) raise_timeout("Ollama", e);
            raise_if_reply_too_large("Ollama", e);
            const long status = error_status(e.value());
            if (status == 0) throw;  // not an answer of the server (e.g. no connection): as it came
            const std::string text = py::str(e.value());
            if (core::is_transient_status(status) && attempt + 1 < core::kAttempts) {
                wait_before_retry(attempt, core::kBackoffSeconds, e.value());
                continue;
            }
            std::string msg = "Ollama request failed";
            if (attempt > 0) msg += " after " + std::to_string(attempt + 1) + " attempts";
            raise_runtime_from(e, msg + ": " + text);
        }
    }
}

}  // namespace genloom
