#include "genloom/bind/replies.hpp"

#include <string_view>

#include "genloom/bind/llm_util.hpp"
#include "genloom/core/reply_contracts.hpp"

namespace genloom {
namespace {

std::string u8(const py::handle& s) { return std::string(Utf8(py::str(s)).view()); }

py::object get(const py::handle& d, std::string_view key) {
    PyObject* v = PyDict_GetItemString(d.ptr(), std::string(key).c_str());
    return v ? py::reinterpret_borrow<py::object>(v) : py::object();
}

// "'model' is missing" / "'model' must be a string, got a number", or empty when it is one.
std::string field_error(const py::handle& d, std::string_view key, bool (*ok)(PyObject*), const char* want) {
    py::object v = get(d, key);
    const std::string name = "'" + std::string(key) + "'";
    if (!v) return name + " is missing";
    if (ok(v.ptr())) return {};
    return name + " must be " + want + ", got " + json_kind(v);
}

bool is_str(PyObject* o) { return PyUnicode_Check(o); }
bool is_bool(PyObject* o) { return PyBool_Check(o); }

}  // namespace

std::string json_kind(const py::handle& v) {
    PyObject* o = v.ptr();
    if (o == Py_None) return "null";
    if (PyBool_Check(o)) return "a boolean";
    if (PyLong_Check(o) || PyFloat_Check(o)) return "a number";
    if (PyUnicode_Check(o)) return "a string";
    if (PyList_Check(o) || PyTuple_Check(o)) return "an array";
    if (PyDict_Check(o)) return "an object";
    return "a value of another kind";
}

std::string reply_error_text(const py::error_already_set& e) {
    std::string text = u8(error_text(e));
    constexpr std::string_view kPrefix = "Expected dict, got ";
    if (e.matches(PyExc_TypeError) && text.rfind(kPrefix, 0) == 0) {
        std::string_view type = std::string_view(text).substr(kPrefix.size());
        const char* kind = type == "list" ? "an array"
                           : type == "str" ? "a string"
                           : type == "bool" ? "a boolean"
                           : (type == "int" || type == "float") ? "a number"
                                                                : "a value of another kind";
        return std::string("expected a JSON object, got ") + kind;
    }
    return text;
}

std::string pair_shape_error(const py::handle& result) {
    if (!PyDict_Check(result.ptr()))
        return "expected a JSON object with \"model\" and \"data\" strings, got " + json_kind(result);
    for (const char* key : {"model", "data"}) {
        std::string why = field_error(result, key, is_str, "a string");
        if (!why.empty()) return why;
    }
    return {};
}

std::string verdict_shape_error(const py::handle& obj) {
    if (!PyDict_Check(obj.ptr()))
        return "expected a JSON object with \"aligned\" (boolean) and \"assessment\" (string), got " + json_kind(obj);
    std::string why = field_error(obj, "aligned", is_bool, "a boolean");
    if (why.empty()) why = field_error(obj, "assessment", is_str, "a string");
    return why;
}

std::optional<loop::AsDescribed<py::object>> as_described(const py::handle& result, std::string& error) {
    if (!PyDict_Check(result.ptr())) return std::nullopt;
    for (bool unbounded : {false, true}) {
        std::string_view key = unbounded ? prompts::kUnboundedKey : prompts::kInfeasibleKey;
        py::object flag = get(result, key);
        // Absent, null (a strict-schema reply leaves it so) or false: not this verdict.
        if (!flag || flag.is_none() || flag.ptr() == Py_False) continue;
        if (flag.ptr() != Py_True) {
            error = "'" + std::string(key) + "' must be true, got " + json_kind(flag);
            return std::nullopt;
        }
        py::object why = get(result, prompts::kExplanationKey);
        if (!why || !PyUnicode_Check(why.ptr()) || !truthy(why.attr("strip")())) {
            error = "'" + std::string(key) + "' needs an 'explanation' string that says why";
            return std::nullopt;
        }
        return loop::AsDescribed<py::object>{unbounded, why.attr("strip")()};
    }
    return std::nullopt;
}

}  // namespace genloom
