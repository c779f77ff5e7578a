// OpenAI requests with parameter stripping and retries, on the Responses API or,
// when asked, on chat completions.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/bind/reply_format.hpp"
#include "genloom/core/json_extract.hpp"
#include "genloom/core/provider_rules.hpp"

namespace genloom {

namespace {

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

// client.responses.create, or client.chat.completions.create; errors propagate.
py::object create_operation(py::handle client, core::OpenAIApi api) {
    if (api == core::OpenAIApi::Chat) return client.attr("chat").attr("completions").attr("create");
    return client.attr("responses").attr("create");
}

// Drops the keys that the create operation cannot take at all.
void filter_by_signature(py::handle client, core::OpenAIApi api, py::dict& params) {
    try {
        py::object inspect = py::module_::import("inspect");
        py::object sig = inspect.attr("signature")(create_operation(client, api));
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

// The HTTP status of a client-layer error (its status_code), or 0.
long status_of(py::handle error) {
    try {
        py::object code = attr_or_none(error, "status_code");
        if (PyLong_Check(code.ptr())) return PyLong_AsLong(code.ptr());
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    return 0;
}

// What to add to the final error so that it says what to do, or "".
std::string failure_advice(py::handle client, core::OpenAIApi api, py::handle last_error, bool timed_out) {
    if (timed_out) return core::timeout_advice(request_timeout());
    if (api != core::OpenAIApi::Responses || status_of(last_error) != 404) return "";
    try {
        py::object base = attr_or_none(client, "base_url");
        if (base.is_none()) return "";
        py::str text(base);
        Utf8 url(text);
        if (!core::is_openai_host(url.view())) return core::responses_404_advice(url.view());
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    return "";
}

py::object call_openai_with_retry(py::object client, py::object create_params, long long retries,
                                  double backoff_sec, py::object progress, py::object api_name) {
    const core::OpenAIApi api = openai_api_from(api_name, "api");
    // A shallow working copy; the caller's record is never changed.
    py::dict params = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyDict_Type))(
        create_params);
    filter_by_signature(client, api, params);
    py::object last_error = py::none();
    bool timed_out = false;
    const std::string total = std::to_string(retries);
    for (long long attempt = 0; attempt < retries; ++attempt) {
        py::str msg;
        try {
            return create_operation(client, api)(**params);
        } catch (py::error_already_set& e) {
            if (!is_ordinary(e)) throw;
            last_error = e.value();
            timed_out = is_timeout_error(e);
            msg = error_text(e);
        }
        notify_obj(progress, cat({py::str("[LLM] OpenAI: "), msg}));
        if (drop_refused_openai_format(params, client, api == core::OpenAIApi::Chat, msg, progress)) continue;
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
    py::str message = cat({py::str("OpenAI request failed after " + total + " attempts: "), py::str(last_error)});
    const std::string advice = failure_advice(client, api, last_error, timed_out);
    if (!advice.empty()) message = cat({message, py::str(" (" + advice + ")")});
    raise_error(PyExc_RuntimeError, message);
}

}  // namespace

void register_openai_call(py::module_& m) {
    m.def("_call_openai_with_retry", &call_openai_with_retry, py::arg("client"),
          py::arg("create_params"), py::arg("retries") = 3, py::arg("backoff_sec") = 1.5,
          py::arg("progress") = py::none(), py::arg("api") = "responses",
          "responses.create (or, with api=\"chat\", chat.completions.create) with unsupported\n"
          "parameters stripped and failures retried.");
}

}  // namespace genloom
