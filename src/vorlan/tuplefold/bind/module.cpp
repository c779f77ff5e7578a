// vorlan.tuplefold: conversion of tuple-set members into tuples.
//
// Tuplefold is a stateless host class with two static methods. Members are converted
// one by one into host tuples; nested conversions go through `Tuplefold._to_tuple_recursive`
// looked up when used, as a host-language implementation would.
#include <pybind11/pybind11.h>

#include "common/host.hpp"

namespace py = pybind11;
using namespace vorlan::host;

namespace {

constexpr const char* kClassName = "Tuplefold";

PyObject* g_globals = nullptr;

py::object converter() {
    PyObject* cls = PyDict_GetItemString(g_globals, kClassName);  // borrowed
    if (!cls) raise(PyExc_NameError, std::string("name '") + kClassName + "' is not defined");
    return py::reinterpret_borrow<py::object>(cls).attr("_to_tuple_recursive");
}

bool is_sequence(py::handle v) { return PyList_Check(v.ptr()) || PyTuple_Check(v.ptr()); }

// Members are walked as a list or tuple; text (which would split into characters),
// maps (their keys) and scalars are refused rather than silently misread.
void require_members(py::handle v, const char* where) {
    if (is_sequence(v)) return;
    raise(PyExc_TypeError, std::string(where) + " must be a list or tuple, not " +
                               Py_TYPE(v.ptr())->tp_name);
}

py::object to_tuple_recursive(py::object val) {
    py::object items;
    if (PyDict_Check(val.ptr()) && host_contains(val, py::str("elements"))) {
        items = val[py::str("elements")];
        require_members(items, "tuple 'elements'");
    } else if (is_sequence(val)) {
        items = val;
    } else {
        return val;
    }
    NestingGuard guard(" while converting a tuple");
    py::object recurse = converter();
    py::list out;
    for (py::handle item : items) out.append(recurse(item));
    return py::tuple(out);
}

py::list convert_members(py::handle members, const char* where) {
    require_members(members, where);
    py::object recurse = converter();
    py::list out;
    for (py::handle t : members) out.append(recurse(t));
    return out;
}

// Members held under "elements" or, failing that, "value"; false when neither is there.
bool members_of(py::handle holder, py::list& out, const char* what) {
    for (const char* key : {"elements", "value"}) {
        if (host_contains(holder, py::str(key))) {
            std::string where = std::string(what) + " '" + key + "'";
            out = convert_members(holder[py::str(key)], where.c_str());
            return true;
        }
    }
    return false;
}

py::list get_tuple_set(py::object set_name, py::object ast, py::object data_dict) {
    require_text(set_name, "get_tuple_set", "set_name");
    py::list out;
    if (host_contains(data_dict, set_name)) {
        py::object tuple_set = data_dict[set_name];
        if (PyDict_Check(tuple_set.ptr())) {
            if (members_of(tuple_set, out, "data entry")) return out;
        } else if (PyList_Check(tuple_set.ptr())) {
            return convert_members(tuple_set, "data entry");
        }
    }
    py::str set_kind("set"), tuple_kind("set_of_tuples");
    for (py::handle decl : ast.attr("get")("declarations", py::list())) {
        if (!host_equal(decl.attr("get")("name"), set_name)) continue;
        py::object type = decl.attr("get")("type");
        if (!host_contains(py::make_tuple(set_kind, tuple_kind), type)) continue;
        if (members_of(decl, out, "declaration")) return out;
    }
    return out;
}

}  // namespace

PYBIND11_MODULE(tuplefold, m) {
    m.doc() = "Tuple-set conversion for code generators.";
    g_globals = py::object(m.attr("__dict__")).release().ptr();  // kept for the life of the process
    py::object cls = make_host_class(
        m, kClassName,
        "Finds the members of a tuple set in the data or the model and turns them into tuples.");
    add_static(cls, "_to_tuple_recursive", &to_tuple_recursive,
               "The value with every nested list, tuple and element map turned into a tuple.",
               py::arg("val"));
    add_static(cls, "get_tuple_set", &get_tuple_set,
               "The converted members of the named tuple set, from the data or else the model.",
               py::arg("set_name"), py::arg("ast"), py::arg("data_dict"));
}
