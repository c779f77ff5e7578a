#include "nearscan/bind/light_model.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <stdexcept>

#include "common/host.hpp"
#include "nearscan/core/model_files.hpp"
#include "nearscan/core/pooling.hpp"

namespace nearscan::bind {

using vorlan::host::str_of;
using vorlan::host::utf8_of;

namespace {

// Texts per run of the graph, longest first so that padding stays short (as the library does).
constexpr std::size_t kBatch = 32;

// One intra-op thread and no spinning: a query is a few dozen tokens, where a thread pool
// costs more than it saves, and spinning workers of several processes on a small machine
// starve each other (the same reason ranking runs the tensor library on one thread).
constexpr int kThreads = 1;

const char* const kInputs[] = {"input_ids", "attention_mask", "token_type_ids"};

py::object int64_matrix(const py::object& numpy, const std::vector<int64_t>& cells, std::size_t rows,
                        std::size_t cols) {
    py::bytes raw(reinterpret_cast<const char*>(cells.data()), cells.size() * sizeof(int64_t));
    return numpy.attr("frombuffer")(raw, py::arg("dtype") = numpy.attr("int64")).attr("reshape")(rows, cols);
}

std::vector<int64_t> int_list(py::handle seq) {
    std::vector<int64_t> out;
    for (py::handle v : seq) out.push_back(v.cast<int64_t>());
    return out;
}

}  // namespace

LightModel::LightModel(const std::string& dir) {
    py::module_ json = py::module_::import("json");
    py::object path = py::module_::import("pathlib").attr("Path")(str_of(dir));
    py::dict meta = json.attr("loads")(path.attr("__truediv__")("export.json").attr("read_text")("utf-8"));
    if (!meta.contains("format") || py::int_(meta["format"]).cast<int>() != 1 ||
        utf8_of(py::str(meta["pooling"])) != "mean" || !py::bool_(meta["normalize"]))
        throw std::runtime_error("the export in " + dir + " is of another kind");
    for (py::handle name : meta["inputs"]) {
        std::string s = utf8_of(py::str(name));
        if (std::find(std::begin(kInputs), std::end(kInputs), s) == std::end(kInputs))
            throw std::runtime_error("the export in " + dir + " takes an unknown input: " + s);
        inputs_.push_back(s);
    }
    output_ = utf8_of(py::str(meta["output"]));
    const long long max_tokens = py::int_(meta["max_seq_length"]).cast<long long>();

    numpy_ = py::module_::import("numpy");
    py::module_ tokenizers = py::module_::import("tokenizers");
    py::module_ ort = py::module_::import("onnxruntime");
    tokenizer_ = tokenizers.attr("Tokenizer").attr("from_file")(py::str(path.attr("parent").attr("__truediv__")("tokenizer.json")));
    tokenizer_.attr("no_padding")();
    tokenizer_.attr("enable_truncation")(max_tokens);

    py::object options = ort.attr("SessionOptions")();
    options.attr("intra_op_num_threads") = kThreads;
    options.attr("inter_op_num_threads") = 1;
    options.attr("log_severity_level") = 3;
    options.attr("add_session_config_entry")("session.intra_op.allow_spinning", "0");
    options.attr("add_session_config_entry")("session.inter_op.allow_spinning", "0");
    py::list providers;
    providers.append("CPUExecutionProvider");
    session_ = ort.attr("InferenceSession")(py::str(path.attr("__truediv__")("model.onnx")),
                                            py::arg("sess_options") = options, py::arg("providers") = providers);
}

std::vector<float> LightModel::encode_rows(const std::vector<py::object>& texts, std::size_t& dim) const {
    const std::size_t n = texts.size();
    std::vector<std::vector<int64_t>> ids(n), types(n);
    for (std::size_t i = 0; i < n; ++i) {
        // The library strips each text before it tokenizes it.
        py::object enc = tokenizer_.attr("encode")(texts[i].attr("strip")());
        ids[i] = int_list(enc.attr("ids"));
        types[i] = int_list(enc.attr("type_ids"));
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return ids[a].size() > ids[b].size(); });

    std::vector<float> out;
    dim = 0;
    py::list wanted;
    wanted.append(str_of(output_));
    for (std::size_t start = 0; start < n; start += kBatch) {
        const std::size_t rows = std::min(kBatch, n - start);
        const std::size_t cols = std::max<std::size_t>(ids[order[start]].size(), 1);
        std::vector<int64_t> id_cells(rows * cols, 0), mask_cells(rows * cols, 0), type_cells(rows * cols, 0);
        std::vector<std::size_t> lengths(rows);
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t i = order[start + r];
            lengths[r] = ids[i].size();
            std::copy(ids[i].begin(), ids[i].end(), id_cells.begin() + r * cols);
            std::copy(types[i].begin(), types[i].end(), type_cells.begin() + r * cols);
            std::fill_n(mask_cells.begin() + r * cols, lengths[r], 1);
        }
        py::dict feeds;
        for (const auto& name : inputs_) {
            const auto& cells = name == "input_ids" ? id_cells : name == "attention_mask" ? mask_cells : type_cells;
            feeds[str_of(name)] = int64_matrix(numpy_, cells, rows, cols);
        }
        py::object states = session_.attr("run")(wanted, feeds)[py::int_(0)];
        states = numpy_.attr("ascontiguousarray")(states, py::arg("dtype") = numpy_.attr("float32"));
        py::buffer_info info = py::buffer(states).request();
        if (info.ndim != 3 || static_cast<std::size_t>(info.shape[0]) != rows ||
            static_cast<std::size_t>(info.shape[1]) != cols || info.shape[2] <= 0)
            throw std::runtime_error("the embedding runtime returned token states of an unexpected shape");
        const std::size_t width = static_cast<std::size_t>(info.shape[2]);
        if (dim == 0) {
            dim = width;
            out.assign(n * dim, 0.0f);
        }
        std::vector<float> pooled =
            mean_pooled_unit_rows(static_cast<const float*>(info.ptr), rows, cols, width, lengths);
        for (std::size_t r = 0; r < rows; ++r)
            std::copy_n(pooled.begin() + r * dim, dim, out.begin() + order[start + r] * dim);
    }
    return out;
}

py::object LightModel::encode(py::handle sentences, const py::kwargs&) const {
    const bool single = PyUnicode_Check(sentences.ptr());
    std::vector<py::object> texts;
    if (single) texts.push_back(py::reinterpret_borrow<py::object>(sentences));
    else
        for (py::handle s : sentences) texts.push_back(py::reinterpret_borrow<py::object>(s));
    std::size_t dim = 0;
    std::vector<float> rows = texts.empty() ? std::vector<float>{} : encode_rows(texts, dim);
    py::bytes raw(reinterpret_cast<const char*>(rows.data()), rows.size() * sizeof(float));
    py::object array = numpy_.attr("frombuffer")(raw, py::arg("dtype") = numpy_.attr("float32"));
    return single ? array : array.attr("reshape")(texts.size(), dim);
}

py::object light_model(const std::string& model_name) {
    std::string dir = light_export_dir(model_name);
    if (dir.empty()) return py::none();
    try {
        return py::cast(LightModel(dir));
    } catch (std::exception& e) {
        if (auto* err = dynamic_cast<py::error_already_set*>(&e); err && !err->matches(PyExc_Exception)) throw;
        py::module_::import("logging").attr("getLogger")("vorlan.nearscan").attr("debug")(
            "light embedding runtime unavailable, using the embedding library: %s", str_of(e.what()));
        return py::none();
    }
}

const LightModel* as_light(py::handle model) {
    if (!py::isinstance<LightModel>(model)) return nullptr;
    return &model.cast<const LightModel&>();
}

void register_light_model(py::module_& m) {
    py::class_<LightModel>(m, "_LightModel",
                           "The embedding model run by a light inference runtime from its checked export.")
        .def(py::init<const std::string&>(), py::arg("export_dir"))
        .def("encode", &LightModel::encode, py::arg("sentences"),
             "Unit-length embeddings of the texts as a float32 array (the embedding library's call shape).");
}

}  // namespace nearscan::bind
