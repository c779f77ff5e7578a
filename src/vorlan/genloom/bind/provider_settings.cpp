#include "genloom/bind/provider_settings.hpp"

#include <cmath>
#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/registry.hpp"

namespace genloom {

std::optional<double> request_timeout() {
    py::object v = G("REQUEST_TIMEOUT");
    if (v.is_none()) return std::nullopt;
    if ((PyLong_Check(v.ptr()) || PyFloat_Check(v.ptr())) && !PyBool_Check(v.ptr())) {
        const double s = PyFloat_AsDouble(v.ptr());
        if (s == -1.0 && PyErr_Occurred()) PyErr_Clear();
        else if (std::isfinite(s) && s > 0) return s;
    }
    raise_error(PyExc_ValueError,
                cat({py::str("REQUEST_TIMEOUT must be a positive number of seconds or None, got "),
                     py::repr(v)}));
}

py::object request_timeout_value() {
    auto s = request_timeout();
    return s ? py::object(py::float_(*s)) : py::object(py::none());
}

core::OpenAIApi openai_api_from(py::handle value, const char* what) {
    if (PyUnicode_Check(value.ptr())) {
        Utf8 u(value);
        if (auto api = core::parse_openai_api(u.view())) return *api;
    }
    raise_error(PyExc_ValueError, cat({py::str(std::string(what) + " must be \"responses\" or \"chat\", got "),
                                       py::repr(value)}));
}

core::OpenAIApi openai_api() { return openai_api_from(G("OPENAI_API"), "OPENAI_API"); }

core::GeminiClient gemini_client() {
    py::object value = G("GEMINI_CLIENT");
    if (PyUnicode_Check(value.ptr())) {
        Utf8 u(value);
        if (auto client = core::parse_gemini_client(u.view())) return *client;
    }
    raise_error(PyExc_ValueError,
                cat({py::str("GEMINI_CLIENT must be \"generativeai\" or \"genai\", got "), py::repr(value)}));
}

bool is_timeout_error(const py::error_already_set& e) {
    if (e.matches(PyExc_TimeoutError)) return true;
    // A request our transport cut off at its deadline, whatever error the layer made of it.
    if (truthy(py::module_::import("vorlan.http_bounds").attr("expired")(e.value()))) return true;
    py::object mro = py::type::handle_of(e.value()).attr("__mro__");
    for (py::handle cls : mro) {
        const std::string name = py::str(cls.attr("__name__"));
        if (name.find("Timeout") != std::string::npos || name == "DeadlineExceeded") return true;
    }
    return false;
}

void raise_timeout(const char* provider, py::error_already_set& cause) {
    std::string msg = std::string(provider) + " request timed out: " + core::timeout_advice(request_timeout());
    raise_error(PyExc_TimeoutError, py::str(msg), &cause);
}

}  // namespace genloom
