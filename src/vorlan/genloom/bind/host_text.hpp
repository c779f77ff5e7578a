// Conversions between host strings/paths and the UTF-8 / file-system byte strings of
// the C++ core, used by the prompt, grammar and few-shot bindings.
#pragma once
#include <pybind11/pybind11.h>

#include <string>
#include <string_view>

namespace genloom {
namespace py = pybind11;

// UTF-8 of a host str; lone surrogates keep their 3-byte form so nothing is lost.
inline std::string utf8_of(py::handle s) {
    Py_ssize_t n = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(s.ptr(), &n)) return std::string(p, static_cast<std::size_t>(n));
    PyErr_Clear();
    auto b = py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogatepass"));
    if (!b) throw py::error_already_set();
    return std::string(PyBytes_AS_STRING(b.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(b.ptr())));
}

// Host str of UTF-8 produced from utf8_of pieces.
inline py::str str_of(std::string_view s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogatepass");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

// TypeError unless obj is a str; names the parameter.
inline void require_str(py::handle obj, const char* param) {
    if (!PyUnicode_Check(obj.ptr()))
        throw py::type_error(std::string(param) + " must be str, not " +
                             std::string(py::str(py::type::handle_of(obj).attr("__name__"))));
}

// os.fspath(p) as file-system bytes (str paths encoded the way the host does).
inline std::string fs_bytes(py::handle p) {
    auto fs = py::reinterpret_steal<py::object>(PyOS_FSPath(p.ptr()));
    if (!fs) throw py::error_already_set();
    if (PyBytes_Check(fs.ptr()))
        return std::string(PyBytes_AS_STRING(fs.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(fs.ptr())));
    auto b = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(fs.ptr()));
    if (!b) throw py::error_already_set();
    return std::string(PyBytes_AS_STRING(b.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(b.ptr())));
}

// Host str of file-system bytes.
inline py::str fs_str(std::string_view s) {
    PyObject* o = PyUnicode_DecodeFSDefaultAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

// A non-negative size from a host int, clamped to the size_t range (negatives give 0).
inline std::size_t clamp_size(py::handle i) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow > 0) return static_cast<std::size_t>(-1);
    if (overflow < 0 || v < 0) return 0;
    return static_cast<std::size_t>(v);
}

}  // namespace genloom
