// Python binding of the Vorlan compiler: QelCompiler, SemanticError, VorlanSyntaxError.
#include <pybind11/pybind11.h>

#include "vorlan_core/core/compiler.hpp"

namespace py = pybind11;
namespace vc = vorlan::compiler;

namespace {
struct QelCompilerTag {};
py::object g_syntax_error;
py::object g_semantic_error;

void raise_diagnostics(const vc::CompileResult& r) {
    bool syntax = false;
    std::string msg;
    for (size_t i = 0; i < r.diagnostics.size() && i < 20; ++i) {
        if (r.diagnostics[i].kind == vc::Diagnostic::Kind::Syntax) syntax = true;
        if (i) msg += "\n";
        msg += r.diagnostics[i].text();
    }
    PyErr_SetString((syntax ? g_syntax_error : g_semantic_error).ptr(), msg.c_str());
    throw py::error_already_set();
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

    py::class_<QelCompilerTag>(m, "QelCompiler")
        .def(py::init<>())
        .def(
            "compile_model",
            [](QelCompilerTag&, const std::string& model, const std::string& data) {
                vc::CompileResult r;
                {
                    py::gil_scoped_release nogil;
                    r = vc::compile(model, data);
                }
                if (!r.ok()) raise_diagnostics(r);
                return true;
            },
            py::arg("model_code"), py::arg("data_code"),
            "Compile a model text and a data text; raise VorlanSyntaxError or SemanticError if invalid.");
}
