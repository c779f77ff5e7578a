// vorlan.nearscan: ranking of stored problem descriptions by embedding similarity.
#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(nearscan, m) {
    m.doc() = "Ranking of stored problem descriptions by sentence-embedding similarity.";
    m.def(
        "rank_problem_descriptions",
        [](py::object, py::object, py::object, py::object) -> py::object {
            PyErr_SetString(PyExc_NotImplementedError, "description ranking is not available yet");
            throw py::error_already_set();
        },
        py::arg("query"), py::arg("models_dir") = py::none(), py::arg("top_k") = 10,
        py::arg("model_name") = "sentence-transformers/all-MiniLM-L6-v2");
}
