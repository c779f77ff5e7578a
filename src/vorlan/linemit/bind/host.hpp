// Small helpers that give the bound operations the host language's own semantics:
// equality as `==` followed by a truth test, text-parameter checks, and a nesting
// guard that turns runaway recursion into RecursionError instead of a C stack overflow.
#pragma once
#include <pybind11/pybind11.h>

#include <string>

namespace vorlan::host {

namespace py = pybind11;

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

// Text parameters reject other kinds before any work is done.
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
