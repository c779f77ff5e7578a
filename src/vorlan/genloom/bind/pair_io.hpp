// File side of the repair loop: writing the model and data pair safely and reading texts back.
#pragma once
#include <pybind11/pybind11.h>

namespace genloom {
namespace py = pybind11;

// Path text of a str, bytes or path-like output path, as used in messages and file operations.
py::str path_text(const py::object& p);

// Read a whole text file in the platform default encoding.
py::object read_text(const py::str& path);

// Write the model and data files. Both texts go to temporary files first and are renamed over
// the targets only when both were written, so a failed write leaves the previous pair intact.
void write_pair(const py::object& model_file, const py::object& data_file, const py::object& model_code,
                const py::object& data_code);

}  // namespace genloom
