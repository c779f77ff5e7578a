// Python binding of the Vorlan compiler: QelCompiler, SemanticError, VorlanSyntaxError.
#include <pybind11/pybind11.h>

#include "vorlan_core/bind/instance_entries.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace py = pybind11;
namespace vc = vorlan::compiler;
using namespace vorlan::compiler::host_entries;

namespace {
py::object g_syntax_error;
py::object g_semantic_error;

[[noreturn]] void raise_diagnostics(const vc::CompileResult& r) {
    PyErr_SetString((r.has_syntax_error() ? g_syntax_error : g_semantic_error).ptr(), r.message().c_str());
    throw py::error_already_set();
}

py::object to_py(const vc::HostValue& v) {
    using K = vc::HostValue::K;
    switch (v.kind) {
        case K::None: return py::none();
        case K::Bool: return py::bool_(v.b);
        case K::Int: return py::int_(v.i);
        case K::Float: return py::float_(v.f);
        case K::Str: return py::str(v.s);
        case K::List: {
            py::list l;
            for (auto& x : v.items) l.append(to_py(x));
            return l;
        }
        case K::Tuple: {
            py::tuple t(v.items.size());
            for (std::size_t i = 0; i < v.items.size(); ++i) t[i] = to_py(v.items[i]);
            return t;
        }
        case K::Map: {
            py::dict d;
            for (auto& [k, x] : v.entries) d[to_py(k)] = to_py(x);
            return d;
        }
        case K::Range: {
            // A Python range: iterable and sized without listing every integer.
            return py::module_::import("builtins").attr("range")(v.i, py::int_(v.hi) + py::int_(1));
        }
    }
    return py::none();
}

py::dict instance_dict(const vc::Instance& in) {
    py::dict out;
    py::list vars;
    for (auto& v : in.variables) vars.append(variable_entry(v));
    out["variables"] = vars;
    out["objective"] = objective_entry(in.objective);
    if (!in.lower_priority.empty()) out["objectives"] = objectives_list(in);
    py::list rows;
    for (auto& r : in.rows) rows.append(row_entry(r));
    out["rows"] = rows;
    return out;
}
}  // namespace

PYBIND11_MODULE(vorlan_core, m) {
    m.doc() = "The Vorlan compiler component.";
    g_semantic_error = py::module_::import("vorlan.semantic_error").attr("SemanticError");
    m.attr("SemanticError") = g_semantic_error;
    PyObject* se = PyErr_NewExceptionWithDoc(
        "vorlan.vorlan_core.VorlanSyntaxError",
        "A lexical or grammar error in a Vorlan model or data file.", PyExc_Exception, nullptr);
    if (!se) throw py::error_already_set();
    g_syntax_error = py::reinterpret_steal<py::object>(se);
    m.attr("VorlanSyntaxError") = g_syntax_error;
    // Keep the class objects alive for the life of the process.
    g_syntax_error.inc_ref();
    g_semantic_error.inc_ref();

    py::class_<vc::Compiler>(m, "QelCompiler",
                             "Compiles a Vorlan model text with its data text; after a successful compile it\n"
                             "holds the declarations (ast), the data and the flat linear instance.")
        .def(py::init<>())
        .def(
            "compile_model",
            [](vc::Compiler& c, const std::string& model, const std::string& data) {
                vc::CompileResult r;
                {
                    py::gil_scoped_release nogil;
                    r = c.compile(model, data);
                }
                if (!r.ok()) raise_diagnostics(r);
                return true;
            },
            py::arg("model_code"), py::arg("data_code"),
            "Compile a model text and a data text; raise VorlanSyntaxError or SemanticError if invalid.")
        .def_property_readonly(
            "ast", [](const vc::Compiler& c) { return to_py(c.ast()); },
            "The declarations of the last compiled model: {'declarations': [...]}.")
        .def_property_readonly(
            "data", [](const vc::Compiler& c) { return to_py(c.data()); },
            "The data of the last compiled model: name -> value.")
        .def(
            "instance", [](const vc::Compiler& c) { return instance_dict(c.instance()); },
            "The flat linear instance of the last compiled model: variables, objective, rows; a\n"
            "lexicographic objective adds 'objectives', every goal in priority order.");
}
