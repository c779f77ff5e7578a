#include "genloom/bind/gemini_genai.hpp"

#include <cmath>

#include "genloom/bind/http_transport.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_retry.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/bind/reply_format.hpp"
#include "genloom/bind/usage.hpp"

namespace genloom {

const char* const kGenaiMissing = "google-genai is not installed. Install it with: pip install 'vorlan[gemini]'";

namespace {

// The HTTP client google-genai is given: one of httpx2 (the layer's first choice) or httpx,
// bounded by our deadline and reply-size cap. None when neither is importable (the layer
// then fails on its own terms).
py::object bounded_genai_http_client() {
    for (const char* name : {"httpx2", "httpx"}) {
        try {
            return bounded_http_client(py::module_::import(name).attr("Client"), py::kwargs());
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_ImportError)) throw;
        }
    }
    return py::none();
}

// A new google.genai Client keyed from GEMINI_API_KEY, with REQUEST_TIMEOUT as its HTTP
// timeout (milliseconds there; the layer also tells the server), the bounded HTTP client
// and no retries of its own. The base URL is the client layer's own
// (GOOGLE_GEMINI_BASE_URL when set).
py::object genai_client() {
    py::object cls;
    try {
        cls = import_client_layer("google.genai", kGenaiMissing).attr("Client");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_AttributeError)) throw;
        raise_runtime_from(e, kGenaiMissing);
    }
    py::object key = required_key("GEMINI_API_KEY");
    py::dict http_options;
    if (auto seconds = request_timeout())
        http_options["timeout"] = static_cast<long long>(std::ceil(*seconds * 1000.0));
    py::object http_client = bounded_genai_http_client();
    if (!http_client.is_none()) http_options["httpx_client"] = http_client;
    return cls(py::arg("api_key") = key, py::arg("http_options") = http_options);
}

py::dict build_genai_config(py::object max_tokens, py::object temperature, py::object stop, py::object schema) {
    py::dict d;
    if (!max_tokens.is_none()) d["max_output_tokens"] = max_tokens;
    if (!temperature.is_none()) d["temperature"] = temperature;
    if (!stop.is_none() && truthy(stop)) d["stop_sequences"] = stop;
    if (!schema.is_none()) {
        d["response_mime_type"] = "application/json";
        d["response_json_schema"] = schema;
    }
    return d;
}

// An enumeration value's name (FinishReason.SAFETY -> "SAFETY"), or its text.
py::str reason_name(const py::object& v) {
    py::object name = attr_or_none(v, "name");
    return PyUnicode_Check(name.ptr()) ? py::str(name) : py::str(v);
}

// Raises ValueError when the service withheld the text: a blocked prompt, or a reply that
// ended for a reason other than its natural end or the token cap.
void raise_if_blocked(py::handle resp) {
    py::object feedback = attr_or_none(resp, "prompt_feedback");
    py::object block = feedback.is_none() ? py::object(py::none()) : attr_or_none(feedback, "block_reason");
    if (!block.is_none())
        raise_error(PyExc_ValueError,
                    cat({py::str("Gemini blocked the prompt (block reason: "), reason_name(block), py::str(").")}));
    py::object cands = attr_or_none(resp, "candidates");
    if (cands.is_none() || !truthy(cands)) return;
    py::object reason = attr_or_none(cands[py::int_(0)], "finish_reason");
    if (reason.is_none()) return;
    py::str name = reason_name(reason);
    for (const char* normal : {"STOP", "MAX_TOKENS", "FINISH_REASON_UNSPECIFIED"})
        if (name.equal(py::str(normal))) return;
    raise_error(PyExc_ValueError,
                cat({py::str("Gemini returned no text (finish reason: "), name, py::str(").")}));
}

// The reply's text (the client layer joins the text parts, thoughts left out); "" when it
// has none and was not blocked.
py::object genai_reply_text(py::handle resp) {
    py::object text = attr_or_none(resp, "text");
    if (PyUnicode_Check(text.ptr()) && truthy(text)) return text;
    raise_if_blocked(resp);
    return py::str("");
}

}  // namespace

py::object genai_generate_text(const py::object& model_name, const py::object& input_text,
                               const py::object& max_tokens, const py::object& temperature,
                               const py::object& stop, const py::object& progress,
                               const py::object& reply_contract) {
    py::object client = G("_genai_client")();
    const std::string scope = format_scope("google genai", model_name);
    py::object schema = provider_reply_schema(reply_contract, scope, replies::Dialect::Object);
    py::object config = G("_build_genai_config")(max_tokens, temperature, stop, schema);
    notify_obj(progress, cat({py::str("[LLM] Gemini \u2022 "), py::str(model_name), py::str(": sending request")}));
    Stopwatch clock;
    ServiceCall call{"Gemini", {"GEMINI_API_KEY", "google"}, model_name};
    auto send = [&] {
        return send_with_retry(
            call,
            [&] {
                return client.attr("models").attr("generate_content")(
                    py::arg("model") = model_name, py::arg("contents") = input_text, py::arg("config") = config);
            },
            progress);
    };
    py::object resp = with_format_fallback(!schema.is_none(), scope, "Gemini", progress, send, [&] {
        config.attr("pop")("response_mime_type", py::none());
        config.attr("pop")("response_json_schema", py::none());
    });
    const double seconds = clock.seconds();
    notify(progress, "[LLM] Gemini: response received");
    py::object text;
    try {
        text = genai_reply_text(resp);
    } catch (py::error_already_set& e) {
        // A blocked reply still used tokens.
        if (is_ordinary(e)) report_usage("google", model_name, input_text, py::str(""), gemini_token_counts(resp), seconds);
        throw;
    }
    report_usage("google", model_name, input_text, text, gemini_token_counts(resp), seconds);
    return text;
}

py::list genai_model_records() {
    py::object client = G("_genai_client")();
    py::list records;
    try {
        for (py::handle rec : client.attr("models").attr("list")()) records.append(rec);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_error(PyExc_RuntimeError, cat({py::str("Failed to list Gemini models: "), error_text(e)}));
    }
    return records;
}

void register_gemini_genai(py::module_& m) {
    // Which client layer the Gemini provider uses: "generativeai" (google.generativeai) or
    // "genai" (google-genai, which the command line picks when it is installed); read at
    // call time.
    m.attr("GEMINI_CLIENT") = "generativeai";
    m.def("_genai_client", &genai_client,
          "A new google-genai Client keyed from GEMINI_API_KEY, with REQUEST_TIMEOUT as its timeout.");
    m.def("_build_genai_config", &build_genai_config, py::arg("max_tokens") = m.attr("MAX_OUTPUT_TOKENS"),
          py::arg("temperature") = py::none(), py::arg("stop") = py::none(), py::arg("schema") = py::none(),
          "The config of a google-genai generate_content request; with a JSON schema, the reply is\n"
          "asked for as JSON of that schema.");
}

}  // namespace genloom
