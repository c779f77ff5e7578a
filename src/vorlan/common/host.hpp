// Helpers for the binding files (bind/) of every module; the core libraries never
// include this. Host text and paths to and from the core's UTF-8 and file-system bytes,
// argument checks, and operations with the host language's own semantics (equality as
// `==` followed by a truth test, a nesting guard that turns runaway recursion into
// RecursionError instead of a C stack overflow, host-built classes).
#pragma once
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace vorlan::host {

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

// pathlib.Path(p).
inline py::object path_object(py::handle p) { return py::module_::import("pathlib").attr("Path")(p); }

// The short name of v's type, as messages show it.
inline std::string type_name(py::handle v) { return py::str(py::type::handle_of(v).attr("__name__")); }

// TypeError unless obj is a str; names the parameter.
inline void require_str(py::handle obj, const char* param) {
    if (!PyUnicode_Check(obj.ptr())) throw py::type_error(std::string(param) + " must be str, not " + type_name(obj));
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

// `a == b` as an `if` condition evaluates it (no identity shortcut).
inline bool host_equal(py::handle a, py::handle b) {
    PyObject* r = PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ);
    if (!r) throw py::error_already_set();
    int t = PyObject_IsTrue(r);
    Py_DECREF(r);
    if (t < 0) throw py::error_already_set();
    return t == 1;
}

// `key in container` through the container's own membership test.
inline bool host_contains(py::handle container, py::handle key) {
    int r = PySequence_Contains(container.ptr(), key.ptr());
    if (r < 0) throw py::error_already_set();
    return r == 1;
}

[[noreturn]] inline void raise(PyObject* kind, const std::string& msg) {
    PyErr_SetString(kind, msg.c_str());
    throw py::error_already_set();
}

// Text parameters reject other kinds before any work is done; the message names the
// function as the host's own argument checks do.
inline void require_text(py::handle v, const char* func, const char* param, bool none_ok = false) {
    if (PyUnicode_Check(v.ptr()) || (none_ok && v.is_none())) return;
    raise(PyExc_TypeError, std::string(func) + "() argument '" + param + "' must be str" +
                               (none_ok ? " or None" : "") + ", not " +
                               Py_TYPE(v.ptr())->tp_name);
}

// Counts nesting of the recursive operations on this thread. Each level is reached
// through a host call, which already counts against the host's recursion limit; the
// fixed cap keeps the C stack safe when a host raises that limit far beyond what
// native frames can hold.
class NestingGuard {
public:
    static constexpr int kMaxDepth = 2000;
    explicit NestingGuard(const char* where) {
        if (depth() >= kMaxDepth)
            raise(PyExc_RecursionError, std::string("maximum recursion depth exceeded") + where);
        ++depth();
    }
    ~NestingGuard() {
        --depth();
    }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

private:
    static int& depth() {
        static thread_local int d = 0;
        return d;
    }
};

// A class built the way the host builds one (`type(name, (object,), ns)`), so that it
// has no base beyond the root object type, instances carry an ordinary __dict__ and a
// subclass written in the host language behaves as with any other host class.
inline py::object make_host_class(py::module_& m, const char* name, const char* doc) {
    py::dict ns;
    ns["__module__"] = m.attr("__name__");
    ns["__qualname__"] = py::str(name);
    ns["__doc__"] = py::str(doc);
    py::object cls = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(
        py::str(name), py::make_tuple(py::reinterpret_borrow<py::object>(
                           reinterpret_cast<PyObject*>(&PyBaseObject_Type))),
        ns);
    m.attr(name) = cls;
    return cls;
}

// Adds an instance method implemented in C++ (first parameter: the instance).
template <typename F, typename... Extra>
void add_method(py::object& cls, const char* name, F&& f, const char* doc, const Extra&... extra) {
    py::cpp_function cf(std::forward<F>(f), py::name(name), py::is_method(cls), py::doc(doc),
                        extra...);
    py::setattr(cls, name, cf);
}

// Adds a static method implemented in C++.
template <typename F, typename... Extra>
void add_static(py::object& cls, const char* name, F&& f, const char* doc, const Extra&... extra) {
    py::cpp_function cf(std::forward<F>(f), py::name(name), py::scope(cls), py::doc(doc), extra...);
    py::setattr(cls, name, py::staticmethod(cf));
}

}  // namespace vorlan::host
