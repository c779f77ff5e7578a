// Provider clients, request building, provider inference, generation dispatch and
// OpenAI requests with parameter stripping and retries.
#include <pybind11/pybind11.h>

#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/bind/usage.hpp"
#include "genloom/core/json_extract.hpp"

namespace genloom {

namespace {

const char* kOpenAIMissing = "openai is not installed. Install it with: pip install 'vorlan[openai]'";
const char* kGeminiMissing =
    "google.generativeai is not installed. Install it with: pip install 'vorlan[gemini]'";
const char* kOllamaMissing =
    "ollama package is not installed. Install it with: pip install 'vorlan[ollama]'";

py::object openai_client() {
    py::object cls;
    try {
        cls = import_client_layer("openai", kOpenAIMissing).attr("OpenAI");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_AttributeError)) throw;  // the import failure already wrapped
        raise_runtime_from(e, kOpenAIMissing);
    }
    py::object key = env_value("OPENAI_API_KEY");
    if (key.is_none() || !truthy(key))
        raise_error(PyExc_RuntimeError, py::str("OPENAI_API_KEY environment variable not set."));
    return cls(py::arg("api_key") = key);
}

py::object google_client() {
    py::object genai = import_client_layer("google.generativeai", kGeminiMissing);
    py::object key = env_value("GEMINI_API_KEY");
    if (key.is_none() || !truthy(key))
        raise_error(PyExc_RuntimeError, py::str("GEMINI_API_KEY environment variable not set."));
    genai.attr("configure")(py::arg("api_key") = key);
    return genai;
}

py::object ollama_generate_text(py::object model_name, py::object prompt, py::object num_predict) {
    py::object generate;
    try {
        generate = import_client_layer("ollama", kOllamaMissing).attr("generate");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_AttributeError)) throw;
        raise_runtime_from(e, kOllamaMissing);
    }
    py::dict options;
    if (!num_predict.is_none()) options["num_predict"] = num_predict;
    py::object resp = generate(py::arg("model") = model_name, py::arg("prompt") = prompt,
                               py::arg("options") = options);
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
    }
    if (str_call(model_name, "startswith", "gemini")) return P.attr("GOOGLE");
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
                             py::object progress) {
    py::object P = G("LLMProvider");
    if (provider.equal(P.attr("OPENAI"))) {
        py::object client = G("_openai_client")();
        py::object record = G("_build_create_params")(model_name, input_text, max_tokens, temperature, stop);
        notify_obj(progress, cat({py::str("[LLM] OpenAI \u2022 "), py::str(model_name), py::str(": sending request")}));
        Stopwatch clock;
        py::object reply = G("_call_openai_with_retry")(client, record, py::arg("progress") = progress);
        const double seconds = clock.seconds();
        notify(progress, "[LLM] OpenAI: response received");
        py::object text = G("_coalesce_response_text")(reply);
        report_usage("openai", model_name, input_text, text.is_none() ? py::str("") : text,
                     openai_token_counts(reply), seconds);
        if (text.is_none() || !truthy(text))
            raise_error(PyExc_RuntimeError,
                        cat({py::str("Empty OpenAI response: "), py::str(reply), py::str(".")}));
        return text;
    }
    if (provider.equal(P.attr("GOOGLE"))) {
        py::object genai = G("_google_client")();
        py::object model = genai.attr("GenerativeModel")(model_name);
        py::dict settings;
        if (!max_tokens.is_none()) settings["max_output_tokens"] = max_tokens;
        if (!temperature.is_none()) settings["temperature"] = temperature;
        notify_obj(progress, cat({py::str("[LLM] Gemini \u2022 "), py::str(model_name), py::str(": sending request")}));
        Stopwatch clock;
        py::object resp = model.attr("generate_content")(input_text, py::arg("generation_config") = settings);
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
        py::object text = G("_ollama_generate_text")(py::arg("model_name") = model_name,
                                                     py::arg("prompt") = input_text,
                                                     py::arg("num_predict") = max_tokens);
        const double seconds = clock.seconds();
        notify(progress, "[LLM] Ollama: response received");
        report_usage("ollama", model_name, input_text, text, take_ollama_counts(), seconds);
        return text;
    }
    raise_error(PyExc_ValueError, cat({py::str("Unsupported LLM provider: "), py::str(provider)}));
}

// Removes from `params` what the error text names as unsupported; true when anything went.
bool strip_param_from_error_message(py::dict& params, const py::str& msg) {
    static const char* kFallbackKeys[] = {"response_format", "stop", "reasoning", "temperature"};
    py::object low = msg.attr("lower")();
    bool removed = false;
    for (const char* k : kFallbackKeys) {
        py::str key(k);
        if (params.contains(key) && truthy(low.attr("__contains__")(key))) {
            PyDict_DelItem(params.ptr(), key.ptr());
            removed = true;
        }
    }
    Utf8 u(msg);
    if (auto g = core::match_unsupported_parameter(u.view())) {
        py::str name = u.make(*g);
        if (params.contains(name)) {
            PyDict_DelItem(params.ptr(), name.ptr());
            removed = true;
        }
    }
    if (auto g = core::match_parameter_not_supported(u.view())) {
        py::str name = u.make(*g);
        if (params.contains(name)) {
            PyDict_DelItem(params.ptr(), name.ptr());
            return true;
        }
    }
    return removed;
}

// Drops the keys that client.responses.create cannot take at all.
void filter_by_signature(py::handle client, py::dict& params) {
    try {
        py::object inspect = py::module_::import("inspect");
        py::object sig = inspect.attr("signature")(client.attr("responses").attr("create"));
        py::object var_kw = inspect.attr("Parameter").attr("VAR_KEYWORD");
        py::object names = sig.attr("parameters");
        for (py::handle p : names.attr("values")())
            if (py::object(p.attr("kind")).equal(var_kw)) return;
        py::list keys(params.attr("keys")());
        for (py::handle k : keys) {
            bool accepted = !py::str(k).equal(py::str("self")) && truthy(names.attr("__contains__")(k));
            if (!accepted) PyDict_DelItem(params.ptr(), k.ptr());
        }
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
}

py::object call_openai_with_retry(py::object client, py::object create_params, long long retries,
                                  double backoff_sec, py::object progress) {
    // A shallow working copy; the caller's record is never changed.
    py::dict params = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyDict_Type))(
        create_params);
    filter_by_signature(client, params);
    py::object last_error = py::none();
    const std::string total = std::to_string(retries);
    for (long long attempt = 0; attempt < retries; ++attempt) {
        py::str msg;
        try {
            return client.attr("responses").attr("create")(**params);
        } catch (py::error_already_set& e) {
            if (!is_ordinary(e)) throw;
            last_error = e.value();
            msg = error_text(e);
        }
        notify_obj(progress, cat({py::str("[LLM] OpenAI: "), msg}));
        if (strip_param_from_error_message(params, msg)) {
            notify(progress, "[LLM] OpenAI: retrying without unsupported parameters");
            continue;
        }
        notify_obj(progress, cat({py::str("[LLM] OpenAI: retry " + std::to_string(attempt + 1) + "/" +
                                          total + " after error: "),
                                  msg}));
        py::object delay = py::float_(backoff_sec) * py::int_(1LL << std::min<long long>(attempt, 62));
        py::module_::import("time").attr("sleep")(delay);
    }
    notify(progress, "[LLM] OpenAI: failed after " + total + " attempts");
    raise_error(PyExc_RuntimeError,
                cat({py::str("OpenAI request failed after " + total + " attempts: "), py::str(last_error)}));
}

}  // namespace

void register_llm(py::module_& m) {
    // Per-context receiver of usage records (see usage.hpp); threads and tasks each
    // see their own value.
    m.attr("_usage_sink") = py::module_::import("contextvars")
                                .attr("ContextVar")("vorlan_usage_sink", py::arg("default") = py::none());
    py::object max_tokens_default = m.attr("MAX_OUTPUT_TOKENS");
    m.def("_openai_client", &openai_client, "A new OpenAI client keyed from OPENAI_API_KEY.");
    m.def("_google_client", &google_client,
          "The Gemini client layer, configured with GEMINI_API_KEY.");
    m.def("_ollama_generate_text", &ollama_generate_text, py::arg("model_name"), py::arg("prompt"),
          py::arg("num_predict") = max_tokens_default, "Generate text with a local Ollama server.");
    m.def("_build_create_params", &build_create_params, py::arg("model_name"), py::arg("input_text"),
          py::arg("max_tokens") = max_tokens_default, py::arg("temperature") = py::none(),
          py::arg("stop") = py::none(), "Keyword arguments of an OpenAI responses.create request.");
    m.def("_infer_provider", &infer_provider, py::arg("llm_provider"), py::arg("model_name"),
          "The LLMProvider named by llm_provider, else the one implied by model_name.");
    m.def("_llm_generate_text", &llm_generate_text, py::arg("provider"), py::arg("model_name"),
          py::arg("input_text"), py::arg("max_tokens") = max_tokens_default,
          py::arg("temperature") = py::none(), py::arg("stop") = py::none(),
          py::arg("progress") = py::none(), "Send one prompt to the provider; the reply text.");
    m.def("_call_openai_with_retry", &call_openai_with_retry, py::arg("client"),
          py::arg("create_params"), py::arg("retries") = 3, py::arg("backoff_sec") = 1.5,
          py::arg("progress") = py::none(),
          "responses.create with unsupported parameters stripped and failures retried.");
}

}  // namespace genloom
