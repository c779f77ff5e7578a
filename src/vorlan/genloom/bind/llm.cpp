// Provider clients, request building, provider inference and generation dispatch.
#include <pybind11/pybind11.h>

#include <string>

#include "genloom/bind/anthropic_provider.hpp"
#include "genloom/bind/client_layers.hpp"
#include "genloom/bind/constrained.hpp"
#include "genloom/bind/gemini_genai.hpp"
#include "genloom/bind/http_transport.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/bind/reply_format.hpp"
#include "genloom/bind/usage.hpp"
#include "genloom/core/provider_rules.hpp"
#include "genloom/core/url_redaction.hpp"

namespace genloom {

namespace {

// Longest excerpt of a reply object quoted in an error message.
constexpr std::size_t kReplyExcerptChars = 300;

py::object openai_client() {
    py::object cls, layer;
    try {
        layer = import_client_layer("openai", kOpenAIMissing);
        cls = layer.attr("OpenAI");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_AttributeError)) throw;  // the import failure already wrapped
        raise_runtime_from(e, kOpenAIMissing);
    }
    py::object key = required_key("OPENAI_API_KEY");
    // Our retry loop makes the attempts: the client's own retries are switched off.
    py::kwargs options;
    options["api_key"] = key;
    options["timeout"] = request_timeout_value();
    options["max_retries"] = 0;
    // The layer's own HTTP client class, with our deadline and reply-size cap.
    py::object http_cls = attr_or_none(layer, "DefaultHttpxClient");
    if (!http_cls.is_none()) options["http_client"] = bounded_http_client(http_cls, py::kwargs());
    return cls(**options);
}

py::object google_client() {
    py::object genai = import_gemini_layer();
    py::object key = required_key("GEMINI_API_KEY");
    genai.attr("configure")(py::arg("api_key") = key);
    return genai;
}

py::object ollama_generate_text(py::object model_name, py::object prompt, py::object num_predict,
                                py::object format) {
    OllamaOperation generate("generate");
    py::dict options;
    if (!num_predict.is_none()) options["num_predict"] = num_predict;
    py::kwargs request;
    request["model"] = model_name;
    request["prompt"] = prompt;
    request["options"] = options;
    if (!format.is_none()) request["format"] = format;
    py::object resp = generate(request);
    remember_ollama_counts(resp);
    try {
        py::object text = resp[py::str("response")];
        if (text.is_none()) return py::str("");
        if (PyUnicode_Check(text.ptr())) return text;
        raise_error(PyExc_TypeError,
                    py::str(std::string("response entry is ") + Py_TYPE(text.ptr())->tp_name +
                            ", not text"));
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_error(PyExc_RuntimeError,
                    cat({py::str("Failed to retrieve response text from Ollama response: "),
                         error_text(e)}),
                    &e);
    }
}

py::dict build_create_params(py::object model_name, py::object input_text, py::object max_tokens,
                             py::object temperature, py::object stop) {
    py::dict d;
    d["model"] = model_name;
    d["input"] = input_text;
    py::dict fmt;
    fmt["type"] = "json";
    d["response_format"] = fmt;
    if (!max_tokens.is_none()) d["max_output_tokens"] = max_tokens;
    if (!temperature.is_none()) d["temperature"] = temperature;
    if (!stop.is_none() && truthy(stop)) d["stop"] = stop;
    return d;
}

// Keyword arguments of a chat.completions.create request carrying the same model, input
// (as one user message), token cap, temperature and stop entries as a Responses request.
py::dict build_chat_params(py::object model_name, py::object input_text, py::object max_tokens,
                           py::object temperature, py::object stop) {
    py::dict d;
    d["model"] = model_name;
    py::dict message;
    message["role"] = "user";
    message["content"] = input_text;
    py::list messages;
    messages.append(message);
    d["messages"] = messages;
    if (!max_tokens.is_none()) d["max_tokens"] = max_tokens;
    if (!temperature.is_none()) d["temperature"] = temperature;
    if (!stop.is_none() && truthy(stop)) d["stop"] = stop;
    return d;
}

// obj.name, or obj["name"] for a mapping.
py::object member(py::handle obj, const char* name) {
    if (PyDict_Check(obj.ptr())) return py::reinterpret_borrow<py::dict>(obj).attr("get")(name);
    return attr_or_none(obj, name);
}

// The text of the first choice of a chat completion; "" when it has none.
py::object chat_reply_text(py::handle reply) {
    try {
        py::object choices = member(reply, "choices");
        if (!choices.is_none() && truthy(choices)) {
            py::object message = member(choices[py::int_(0)], "message");
            py::object content = message.is_none() ? py::object(py::none()) : member(message, "content");
            if (PyUnicode_Check(content.ptr())) return content;
        }
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    return py::str("");
}

// str(reply), capped, for the empty-reply message.
py::str reply_excerpt(py::handle reply) {
    py::str whole(reply);
    Utf8 u(whole);
    const std::string cut = core::capped_excerpt(u.view(), kReplyExcerptChars);
    return u.make(cut);
}

bool str_call(py::handle s, const char* method, const char* arg) {
    return truthy(s.attr(method)(arg));
}

py::object infer_provider(py::object llm_provider, py::object model_name) {
    py::object P = G("LLMProvider");
    if (!llm_provider.is_none() && truthy(llm_provider)) {
        py::object lp = llm_provider.attr("strip")().attr("lower")();
        auto is = [&](const char* name) { return lp.equal(py::str(name)); };
        if (is("openai") || is("oai")) return P.attr("OPENAI");
        if (is("google") || is("genai") || is("gemini") || is("google.generativeai"))
            return P.attr("GOOGLE");
        if (is("ollama")) return P.attr("OLLAMA");
        if (is("anthropic") || is("claude")) return P.attr("ANTHROPIC");
    }
    if (str_call(model_name, "startswith", "gemini")) return P.attr("GOOGLE");
    if (str_call(model_name, "startswith", "claude")) return P.attr("ANTHROPIC");
    if (truthy(model_name.attr("__contains__")("gpt-oss")) ||
        str_call(model_name, "startswith", "llama") || str_call(model_name, "startswith", "qwen") ||
        str_call(model_name, "startswith", "mistral"))
        return P.attr("OLLAMA");
    return P.attr("OPENAI");
}

py::object gemini_reply_text(py::handle resp) {
    py::object text = attr_or_none(resp, "text");
    if (text.is_none() || !truthy(text)) {
        py::object cands = attr_or_none(resp, "candidates");
        if (!cands.is_none() && truthy(cands)) {
            py::list pieces;
            for (py::handle cand : cands) {
                py::object content = attr_or_none(cand, "content");
                if (content.is_none() || !truthy(content) || !has_attr(content, "parts")) continue;
                for (py::handle part : content.attr("parts")) {
                    if (!has_attr(part, "text")) continue;
                    py::object t = part.attr("text");
                    pieces.append(truthy(t) ? t : py::str(""));
                }
            }
            text = py::str("").attr("join")(pieces);
        }
    }
    return text.is_none() ? py::str("") : text;
}

py::object llm_generate_text(py::object provider, py::object model_name, py::object input_text,
                             py::object max_tokens, py::object temperature, py::object stop,
                             py::object progress, py::object reply_contract, py::object grammar) {
    py::object P = G("LLMProvider");
    if (provider.equal(P.attr("OPENAI"))) {
        // A grammar goes in a field of the chat completions request that local servers read.
        const bool chat = !grammar.is_none() || openai_api() == core::OpenAIApi::Chat;
        py::object client = G("_openai_client")();
        py::object record = G(chat ? "_build_chat_params" : "_build_create_params")(
            model_name, input_text, max_tokens, temperature, stop);
        if (!reply_contract.is_none() || !grammar.is_none()) {
            py::dict fields = record.cast<py::dict>();
            if (!add_openai_reply_format(fields, client, reply_contract, chat)) reply_contract = py::none();
            if (!grammar.is_none()) G("_add_grammar_field")(client, fields, grammar);
        }
        notify_obj(progress, cat({py::str("[LLM] OpenAI \u2022 "), py::str(model_name), py::str(": sending request")}));
        Stopwatch clock;
        py::object reply = chat ? G("_call_openai_with_retry")(client, record, py::arg("progress") = progress,
                                                                 py::arg("api") = "chat")
                                : G("_call_openai_with_retry")(client, record, py::arg("progress") = progress);
        const double seconds = clock.seconds();
        notify(progress, "[LLM] OpenAI: response received");
        py::object text = chat ? chat_reply_text(reply) : G("_coalesce_response_text")(reply);
        text = openai_reply_in_contract(reply_contract, text);
        report_usage("openai", model_name, input_text, text.is_none() ? py::str("") : text,
                     openai_token_counts(reply), seconds);
        if (text.is_none() || !truthy(text))
            raise_error(PyExc_RuntimeError,
                        cat({py::str("Empty OpenAI response: "), reply_excerpt(reply), py::str(".")}));
        return text;
    }
    if (provider.equal(P.attr("GOOGLE"))) {
        if (gemini_client() == core::GeminiClient::GenAI)
            return genai_generate_text(model_name, input_text, max_tokens, temperature, stop, progress, reply_contract);
        py::object genai = G("_google_client")();
        py::object model = genai.attr("GenerativeModel")(model_name);
        py::dict settings;
        if (!max_tokens.is_none()) settings["max_output_tokens"] = max_tokens;
        if (!temperature.is_none()) settings["temperature"] = temperature;
        const bool shaped = add_gemini_reply_format(settings, model_name, reply_contract);
        notify_obj(progress, cat({py::str("[LLM] Gemini \u2022 "), py::str(model_name), py::str(": sending request")}));
        py::object timeout = request_timeout_value();
        Stopwatch clock;
        auto send = [&]() -> py::object {
            try {
                if (timeout.is_none())
                    return model.attr("generate_content")(input_text, py::arg("generation_config") = settings);
                py::dict options;
                options["timeout"] = timeout;
                return model.attr("generate_content")(input_text, py::arg("generation_config") = settings,
                                                      py::arg("request_options") = options);
            } catch (py::error_already_set& e) {
                if (is_ordinary(e) && is_timeout_error(e)) raise_timeout("Gemini", e);
                throw;
            }
        };
        py::object resp = with_format_fallback(shaped, format_scope("google", model_name), "Gemini", progress, send, [&] {
            settings.attr("pop")("response_mime_type");
            settings.attr("pop")("response_schema");
        });
        const double seconds = clock.seconds();
        notify(progress, "[LLM] Gemini: response received");
        py::object text;
        try {
            text = gemini_reply_text(resp);
        } catch (py::error_already_set& e) {
            // A reply whose text cannot be read (e.g. blocked) still used tokens.
            if (is_ordinary(e)) report_usage("google", model_name, input_text, py::str(""),
                                             gemini_token_counts(resp), seconds);
            throw;
        }
        report_usage("google", model_name, input_text, text, gemini_token_counts(resp), seconds);
        return text;
    }
    if (provider.equal(P.attr("OLLAMA"))) {
        notify_obj(progress, cat({py::str("[LLM] Ollama \u2022 "), py::str(model_name), py::str(": generating")}));
        forget_ollama_counts();
        Stopwatch clock;
        py::object format = ollama_reply_format(model_name, reply_contract);
        auto send = [&]() -> py::object {
            if (format.is_none())
                return G("_ollama_generate_text")(py::arg("model_name") = model_name, py::arg("prompt") = input_text,
                                                  py::arg("num_predict") = max_tokens);
            return G("_ollama_generate_text")(py::arg("model_name") = model_name, py::arg("prompt") = input_text,
                                              py::arg("num_predict") = max_tokens, py::arg("format") = format);
        };
        py::object text = with_format_fallback(!format.is_none(), format_scope("ollama", model_name), "Ollama",
                                               progress, send, [&] { format = py::none(); });
        const double seconds = clock.seconds();
        notify(progress, "[LLM] Ollama: response received");
        report_usage("ollama", model_name, input_text, text, take_ollama_counts(), seconds);
        return text;
    }
    if (provider.equal(P.attr("ANTHROPIC")))
        return anthropic_generate_text(model_name, input_text, max_tokens, temperature, stop, progress,
                                       reply_contract);
    raise_error(PyExc_ValueError, cat({py::str("Unsupported LLM provider: "), py::str(provider)}));
}

}  // namespace

void register_llm(py::module_& m) {
    // Per-context receiver of usage records (see usage.hpp); threads and tasks each
    // see their own value.
    m.attr("_usage_sink") = py::module_::import("contextvars")
                                .attr("ContextVar")("vorlan_usage_sink", py::arg("default") = py::none());
    // Seconds a provider request may take before it fails (None: no limit); read at call time.
    m.attr("REQUEST_TIMEOUT") = 300.0;
    // Bytes a provider reply may have before reading stops with an error (None: no cap).
    m.attr("MAX_REPLY_BYTES") = 8 * 1024 * 1024;
    // The OpenAI API used for generation: "responses" or "chat" (chat completions, as
    // many OpenAI-compatible local servers offer); read at call time.
    m.attr("OPENAI_API") = "responses";
    py::object max_tokens_default = m.attr("MAX_OUTPUT_TOKENS");
    m.def("redact_urls", [](py::str text) {
        Utf8 u(text);
        return u.make(core::redact_urls(u.view()));
    }, py::arg("text"), "The text with the user-info and secret query values of every http(s) URL in it hidden.");
    m.def("_openai_client", &openai_client, "A new OpenAI client keyed from OPENAI_API_KEY.");
    m.def("_google_client", &google_client,
          "The Gemini client layer, configured with GEMINI_API_KEY.");
    m.def("_ollama_generate_text", &ollama_generate_text, py::arg("model_name"), py::arg("prompt"),
          py::arg("num_predict") = max_tokens_default, py::arg("format") = py::none(),
          "Generate text with a local Ollama server (format: a JSON schema the reply follows).");
    m.def("_build_create_params", &build_create_params, py::arg("model_name"), py::arg("input_text"),
          py::arg("max_tokens") = max_tokens_default, py::arg("temperature") = py::none(),
          py::arg("stop") = py::none(), "Keyword arguments of an OpenAI responses.create request.");
    m.def("_build_chat_params", &build_chat_params, py::arg("model_name"), py::arg("input_text"),
          py::arg("max_tokens") = max_tokens_default, py::arg("temperature") = py::none(),
          py::arg("stop") = py::none(),
          "Keyword arguments of an OpenAI chat.completions.create request (OPENAI_API = \"chat\").");
    m.def("_infer_provider", &infer_provider, py::arg("llm_provider"), py::arg("model_name"),
          "The LLMProvider named by llm_provider, else the one implied by model_name.");
    m.def("_llm_generate_text", &llm_generate_text, py::arg("provider"), py::arg("model_name"),
          py::arg("input_text"), py::arg("max_tokens") = max_tokens_default,
          py::arg("temperature") = py::none(), py::arg("stop") = py::none(),
          py::arg("progress") = py::none(), py::arg("reply_contract") = py::none(), py::arg("grammar") = py::none(),
          "Send one prompt to the provider; the reply text. reply_contract (\"pair\", \"alignment\",\n"
          "\"solve_revision\", \"feedback\", \"alignment_deviations\") asks for that reply's JSON schema; grammar (GBNF text, OpenAI\n"
          "provider) constrains the reply on a local server through chat completions.");
    register_openai_call(m);
    register_reply_format(m);
    register_constrained(m);
}

}  // namespace genloom
