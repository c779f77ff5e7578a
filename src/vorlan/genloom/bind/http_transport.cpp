#include "genloom/bind/http_transport.hpp"

#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/retry_policy.hpp"

namespace genloom {

namespace {
py::object bounds_layer() { return py::module_::import("vorlan.http_bounds"); }

py::object max_reply_bytes_value() {
    auto n = max_reply_bytes();
    return n ? py::object(py::int_(*n)) : py::object(py::none());
}

// The headers of the HTTP response an error carries (e.response.headers), or None.
py::object headers_of(py::handle error) {
    py::object response = attr_or_none(error, "response");
    return response.is_none() ? response : attr_or_none(response, "headers");
}

// The Retry-After (or retry-after-ms) of the first response in the error's chain, in seconds.
std::optional<double> retry_after_of(py::handle error) {
    py::object e = py::reinterpret_borrow<py::object>(error);
    const double now = py::module_::import("time").attr("time")().cast<double>();
    for (int depth = 0; depth < 8 && !e.is_none(); ++depth) {
        py::object headers = headers_of(e);
        if (!headers.is_none()) {
            py::object ms = headers.attr("get")("retry-after-ms");
            if (PyUnicode_Check(ms.ptr())) {
                if (auto v = core::parse_retry_after(Utf8(ms).view(), now)) return *v / 1000.0;
            }
            py::object s = headers.attr("get")("retry-after");
            if (PyUnicode_Check(s.ptr())) return core::parse_retry_after(Utf8(s).view(), now);
            return std::nullopt;
        }
        py::object next = attr_or_none(e, "__cause__");
        e = next.is_none() ? attr_or_none(e, "__context__") : next;
    }
    return std::nullopt;
}
}  // namespace

std::optional<long long> max_reply_bytes() {
    py::object v = G("MAX_REPLY_BYTES");
    if (v.is_none()) return std::nullopt;
    if (PyLong_Check(v.ptr()) && !PyBool_Check(v.ptr())) {
        const long long n = PyLong_AsLongLong(v.ptr());
        if (n == -1 && PyErr_Occurred()) PyErr_Clear();
        else if (n > 0) return n;
    }
    raise_error(PyExc_ValueError,
                cat({py::str("MAX_REPLY_BYTES must be a positive whole number of bytes or None, got "), py::repr(v)}));
}

py::dict bounded_client_options(const char* httpx_module) {
    py::object module = py::module_::import(httpx_module);
    return bounds_layer().attr("client_options")(module, request_timeout_value(), max_reply_bytes_value());
}

py::object bounded_http_client(py::handle cls, const py::kwargs& kwargs) {
    // The library the class comes from: the module of its base named Client.
    py::object module = py::none();
    for (py::handle base : cls.attr("__mro__")) {
        const std::string name = py::str(base.attr("__name__")), where = py::str(base.attr("__module__"));
        if (name == "Client" && where.rfind("httpx", 0) == 0) {
            module = py::module_::import(where.substr(0, where.find('.')).c_str());
            break;
        }
    }
    if (module.is_none()) return cls(**kwargs);
    return bounds_layer().attr("http_client")(module, request_timeout_value(), max_reply_bytes_value(),
                                              py::arg("cls") = cls, **kwargs);
}

void raise_if_reply_too_large(const char* provider, py::error_already_set& e) {
    py::object cap = bounds_layer().attr("too_large")(e.value());
    if (!cap.is_none()) raise_runtime_from(e, std::string(provider) + " " + std::string(py::str(cap)));
}

long error_status(py::handle error) {
    // status_code (httpx, openai, anthropic), an integer code (google-genai), else the
    // status of the response the error carries. An attribute that fails to read is none.
    try {
        for (const char* name : {"status_code", "code"}) {
            py::object code = attr_or_none(error, name);
            if (PyLong_Check(code.ptr()) && !PyBool_Check(code.ptr())) return PyLong_AsLong(code.ptr());
        }
        py::object response = attr_or_none(error, "response");
        py::object code = response.is_none() ? py::object(py::none()) : attr_or_none(response, "status_code");
        return PyLong_Check(code.ptr()) ? PyLong_AsLong(code.ptr()) : 0;
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        return 0;
    }
}

double wait_before_retry(int attempt, double backoff, py::handle error) {
    std::optional<double> after;
    try {
        after = retry_after_of(error);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    const double delay = core::retry_delay(attempt, backoff, after, request_timeout());
    py::module_::import("time").attr("sleep")(delay);
    return delay;
}

}  // namespace genloom
