// The embedding model through a light inference runtime: its export (an ONNX graph made at
// set-up from the shipped weights) run by onnxruntime, texts split by the tokenizers
// library, and mean pooling and normalising done here. Importing these costs a fraction of
// a second where the embedding library and the tensor library take seconds and several
// hundred megabytes; the embeddings agree with the library's to float rounding.
#pragma once
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <vector>

namespace nearscan::bind {

namespace py = pybind11;

class LightModel {
public:
    // Opens the export in dir (light_export_dir); throws when the runtime or the tokenizer
    // library cannot be imported or a file is missing or not what it should be.
    explicit LightModel(const std::string& dir);

    // Unit-length embeddings of the texts (host strings), row-major; dim receives their width.
    std::vector<float> encode_rows(const std::vector<py::object>& texts, std::size_t& dim) const;

    // The embedding library's call shape: the rows of a list of texts as a float32 array
    // (one row, 1-D, for a single text); the library's keyword options are accepted.
    py::object encode(py::handle sentences, const py::kwargs& options) const;

private:
    py::object numpy_, session_, tokenizer_;
    std::vector<std::string> inputs_;  // graph inputs, each one of kInputs
    std::string output_;
};

// A LightModel for the model name when its hub snapshot holds a checked export and the
// runtime loads it; None otherwise (the reason goes to the debug log).
py::object light_model(const std::string& model_name);

// The LightModel a model object is, or nullptr.
const LightModel* as_light(py::handle model);

void register_light_model(py::module_& m);

}  // namespace nearscan::bind
