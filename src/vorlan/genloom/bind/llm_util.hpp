// Host-object helpers shared by the LLM access binding files.
#pragma once
#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "genloom/bind/registry.hpp"

namespace genloom {
namespace py = pybind11;

// UTF-8 bytes of a host str. Lone surrogates are kept in their 3-byte form, and
// strings made back from slices of it restore them.
class Utf8 {
public:
    explicit Utf8(py::handle s) : str_(s) {
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(s.ptr(), &n);
        if (p) {
            view_ = std::string_view(p, static_cast<std::size_t>(n));
            return;
        }
        PyErr_Clear();
        holder_ = py::reinterpret_steal<py::object>(
            PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogatepass"));
        if (!holder_) throw py::error_already_set();
        surrogates_ = true;
        view_ = std::string_view(PyBytes_AS_STRING(holder_.ptr()),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(holder_.ptr())));
    }
    std::string_view view() const { return view_; }
    py::str make(std::string_view part) const {
        PyObject* o = PyUnicode_DecodeUTF8(part.data(), static_cast<Py_ssize_t>(part.size()),
                                           surrogates_ ? "surrogatepass" : nullptr);
        if (!o) throw py::error_already_set();
        return py::reinterpret_steal<py::str>(o);
    }

    // The same text as make(view().substr(begin, end - begin)), cut from the host str
    // itself (no decoding; byte offsets map to code points by counting lead bytes).
    py::str slice(std::size_t begin, std::size_t end) const {
        Py_ssize_t b = static_cast<Py_ssize_t>(begin), e = static_cast<Py_ssize_t>(end);
        if (!(PyUnicode_IS_READY(str_.ptr()) && PyUnicode_IS_ASCII(str_.ptr()))) {
            b = lead_bytes(0, begin);
            e = b + lead_bytes(begin, end);
        }
        PyObject* o = PyUnicode_Substring(str_.ptr(), b, e);
        if (!o) throw py::error_already_set();
        return py::reinterpret_steal<py::str>(o);
    }

private:
    Py_ssize_t lead_bytes(std::size_t from, std::size_t to) const {
        Py_ssize_t n = 0;
        for (std::size_t i = from; i < to; ++i)
            n += (static_cast<unsigned char>(view_[i]) & 0xC0) != 0x80;
        return n;
    }

    py::handle str_;
    std::string_view view_;
    py::object holder_;
    bool surrogates_ = false;
};

// getattr(obj, name, None): only a missing attribute gives None; other errors propagate.
inline py::object attr_or_none(py::handle obj, const char* name) {
    PyObject* r = PyObject_GetAttrString(obj.ptr(), name);
    if (r) return py::reinterpret_steal<py::object>(r);
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return py::none();
    }
    throw py::error_already_set();
}

// hasattr(obj, name), with errors other than a missing attribute propagating.
inline bool has_attr(py::handle obj, const char* name) {
    PyObject* r = PyObject_GetAttrString(obj.ptr(), name);
    if (r) {
        Py_DECREF(r);
        return true;
    }
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return false;
    }
    throw py::error_already_set();
}

inline bool truthy(py::handle obj) {
    int r = PyObject_IsTrue(obj.ptr());
    if (r < 0) throw py::error_already_set();
    return r != 0;
}

// Raise error kind `type` with message `msg`; with `cause`, as "raise ... from cause".
[[noreturn]] inline void raise_error(PyObject* type, py::handle msg, py::error_already_set* cause = nullptr) {
    py::object exc = py::reinterpret_borrow<py::object>(type)(msg);
    if (cause) {
        py::object c = cause->value();
        PyException_SetCause(exc.ptr(), c.inc_ref().ptr());
        PyException_SetContext(exc.ptr(), c.inc_ref().ptr());
    }
    PyErr_SetObject(type, exc.ptr());
    throw py::error_already_set();
}

[[noreturn]] inline void raise_runtime_from(py::error_already_set& cause, const std::string& msg) {
    raise_error(PyExc_RuntimeError, py::str(msg), &cause);
}

// Import a client layer by dotted name; a failure becomes RuntimeError(msg) from it.
inline py::object import_client_layer(const char* name, const std::string& msg) {
    try {
        return py::module_::import("importlib").attr("import_module")(name);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception)) throw;
        raise_runtime_from(e, msg);
    }
}

// str(e) of a caught error, as a host str (may hold any code point).
inline py::str error_text(const py::error_already_set& e) { return py::str(e.value()); }

// Concatenation of host strs.
inline py::str cat(std::initializer_list<py::object> parts) {
    py::list l;
    for (auto& p : parts) l.append(p);
    return py::str("").attr("join")(l);
}

// Progress message through the module's current _notify, as a host str.
inline void notify_obj(const py::object& progress, const py::object& msg) {
    G("_notify")(progress, msg);
}

// os.environ.get(name) (so a host's changes are seen): a str, or None when unset.
inline py::object env_value(const char* name) {
    return py::module_::import("os").attr("environ").attr("get")(name);
}

// The API key in environment variable `name`; RuntimeError "<name> environment variable not
// set." when it is unset or empty.
inline py::object required_key(const char* name) {
    py::object key = env_value(name);
    if (key.is_none() || !truthy(key))
        raise_error(PyExc_RuntimeError, py::str(std::string(name) + " environment variable not set."));
    return key;
}

}  // namespace genloom
