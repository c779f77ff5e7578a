#include "genloom/bind/anthropic_provider.hpp"

#include "genloom/bind/http_transport.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_retry.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/bind/reply_format.hpp"
#include "genloom/bind/usage.hpp"

namespace genloom {

const char* const kAnthropicMissing =
    "anthropic is not installed. Install it with: pip install 'vorlan[anthropic]'";

namespace {

// The Messages API requires a token cap; this one is sent when MAX_OUTPUT_TOKENS sets none.
// Ample for a model and data pair, and within the output limit of the current models.
constexpr int kDefaultMaxTokens = 8192;

// Name of the tool whose input schema carries a reply schema.
constexpr const char* kReplyTool = "reply";

// A new Anthropic client: the key, the base URL when one is set, REQUEST_TIMEOUT, no
// retries of its own (send_with_retry makes the attempts), and the layer's own HTTP client
// class bounded by our deadline and reply-size cap.
py::object anthropic_client() {
    py::object cls, layer;
    try {
        layer = import_client_layer("anthropic", kAnthropicMissing);
        cls = layer.attr("Anthropic");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_AttributeError)) throw;
        raise_runtime_from(e, kAnthropicMissing);
    }
    py::object key = required_key("ANTHROPIC_API_KEY");
    py::kwargs options;
    options["api_key"] = key;
    py::object base_url = env_value("ANTHROPIC_BASE_URL");
    if (!base_url.is_none() && truthy(base_url)) options["base_url"] = base_url;
    options["timeout"] = request_timeout_value();
    options["max_retries"] = 0;
    py::object http_cls = attr_or_none(layer, "DefaultHttpxClient");
    if (!http_cls.is_none()) options["http_client"] = bounded_http_client(http_cls, py::kwargs());
    return cls(**options);
}

py::dict build_anthropic_params(py::object model_name, py::object input_text, py::object max_tokens,
                                py::object temperature, py::object stop, py::object schema) {
    py::dict d;
    d["model"] = model_name;
    d["max_tokens"] = max_tokens.is_none() ? py::object(py::int_(kDefaultMaxTokens)) : max_tokens;
    py::dict message;
    message["role"] = "user";
    message["content"] = input_text;
    py::list messages;
    messages.append(message);
    d["messages"] = messages;
    // The client layer has no temperature parameter; the request body still carries it.
    if (!temperature.is_none()) {
        py::dict extra;
        extra["temperature"] = temperature;
        d["extra_body"] = extra;
    }
    if (!stop.is_none() && truthy(stop)) d["stop_sequences"] = stop;
    if (!schema.is_none()) {
        py::dict tool;
        tool["name"] = kReplyTool;
        tool["description"] = "Give the reply as this tool's input.";
        tool["input_schema"] = schema;
        py::list tools;
        tools.append(tool);
        d["tools"] = tools;
        py::dict choice;
        choice["type"] = "tool";
        choice["name"] = kReplyTool;
        d["tool_choice"] = choice;
    }
    return d;
}

// The text blocks of a Messages reply joined; a tool_use block (a reply schema was
// sent) gives its input as JSON text.
py::str anthropic_reply_text(py::handle reply) {
    py::list pieces;
    py::object content = attr_or_none(reply, "content");
    if (!content.is_none()) {
        for (py::handle block : content) {
            py::object type = attr_or_none(block, "type");
            if (type.equal(py::str("text"))) {
                py::object t = attr_or_none(block, "text");
                if (PyUnicode_Check(t.ptr())) pieces.append(t);
            } else if (type.equal(py::str("tool_use"))) {
                pieces.append(py::module_::import("json").attr("dumps")(attr_or_none(block, "input"),
                                                                       py::arg("ensure_ascii") = false));
            }
        }
    }
    return py::str("").attr("join")(pieces);
}

}  // namespace

py::object anthropic_generate_text(const py::object& model_name, const py::object& input_text,
                                   const py::object& max_tokens, const py::object& temperature,
                                   const py::object& stop, const py::object& progress,
                                   const py::object& reply_contract) {
    py::object client = G("_anthropic_client")();
    const std::string scope = format_scope("anthropic", model_name);
    // A tool's input schema has one root object.
    py::object schema = provider_reply_schema(reply_contract, scope, replies::Dialect::Object);
    py::object record =
        G("_build_anthropic_params")(model_name, input_text, max_tokens, temperature, stop, schema);
    notify_obj(progress, cat({py::str("[LLM] Anthropic \u2022 "), py::str(model_name), py::str(": sending request")}));
    Stopwatch clock;
    // A working copy: a model that refuses a temperature is asked again without one.
    py::dict params = py::dict(py::reinterpret_borrow<py::dict>(record));
    ServiceCall call{"Anthropic", {"ANTHROPIC_API_KEY", "anthropic"}, model_name};
    call.drop_rejected = [&](const py::str& msg) {
        if (!params.contains("extra_body") || !truthy(msg.attr("lower")().attr("__contains__")("temperature")))
            return false;
        PyDict_DelItemString(params.ptr(), "extra_body");
        return true;
    };
    py::object reply = with_format_fallback(
        !schema.is_none(), scope, "Anthropic", progress,
        [&] { return send_with_retry(call, [&] { return client.attr("messages").attr("create")(**params); }, progress); },
        [&] {
            params.attr("pop")("tools", py::none());
            params.attr("pop")("tool_choice", py::none());
        });
    const double seconds = clock.seconds();
    notify(progress, "[LLM] Anthropic: response received");
    py::str text = anthropic_reply_text(reply);
    report_usage("anthropic", model_name, input_text, text, anthropic_token_counts(reply), seconds);
    if (!truthy(text))
        raise_error(PyExc_RuntimeError, cat({py::str("Empty Anthropic response (stop reason: "),
                                             py::str(attr_or_none(reply, "stop_reason")), py::str(").")}));
    return text;
}

void register_anthropic(py::module_& m) {
    m.def("_anthropic_client", &anthropic_client,
          "A new Anthropic client keyed from ANTHROPIC_API_KEY (base URL from ANTHROPIC_BASE_URL).");
    m.def("_build_anthropic_params", &build_anthropic_params, py::arg("model_name"), py::arg("input_text"),
          py::arg("max_tokens") = m.attr("MAX_OUTPUT_TOKENS"), py::arg("temperature") = py::none(),
          py::arg("stop") = py::none(), py::arg("schema") = py::none(),
          "Keyword arguments of an Anthropic messages.create request; with a JSON schema, the reply\n"
          "is asked for as the input of a tool with that schema.");
}

}  // namespace genloom
