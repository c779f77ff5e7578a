// The package's semantic error kind, shared by the compiler component and the
// code-generator base class: one class object, created once here.
#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(semantic_error, m) {
    m.doc() = "The semantic error kind shared by the Vorlan compiler and the code generators.";
    PyObject* cls = PyErr_NewExceptionWithDoc(
        "vorlan.semantic_error.SemanticError",
        "A Vorlan model or data file is well-formed but not meaningful: undeclared or\n"
        "duplicate names, type errors, bad data, non-linear terms, or an unsupported construct.",
        PyExc_Exception, nullptr);
    if (!cls) throw py::error_already_set();
    m.add_object("SemanticError", py::reinterpret_steal<py::object>(cls));
}
