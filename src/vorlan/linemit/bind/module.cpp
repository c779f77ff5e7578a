// vorlan.linemit: the abstract base class of SciPy code generators.
#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(linemit, m) {
    m.doc() = "Abstract base class of code generators that emit SciPy linear-programming code.";
    m.attr("SemanticError") = py::module_::import("vorlan.semantic_error").attr("SemanticError");
}
