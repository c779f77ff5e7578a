// vorlan.nearscan: ranking of stored problem descriptions by sentence-embedding
// similarity. File walking, reading and ordering are in the core; the embedding
// library and the tensor library are imported on first use only.
#include <pybind11/pybind11.h>

#include <climits>
#include <string>
#include <vector>

#include "common/host.hpp"
#include "nearscan/core/scan.hpp"

namespace py = pybind11;
using vorlan::host::fs_bytes;
using vorlan::host::fs_str;
using vorlan::host::path_object;
using vorlan::host::require_str;
using vorlan::host::str_of;
using vorlan::host::type_name;
using vorlan::host::utf8_of;

namespace {

constexpr const char* kDefaultModel = "sentence-transformers/all-MiniLM-L6-v2";
constexpr long long kDefaultTopK = 10;
constexpr long long kDefaultMaxChars = 100000;

py::module_* g_module = nullptr;

py::object M(const char* name) { return g_module->attr(name); }

// An int that is not a bool, as a long long clamped to its range.
long long int_arg(py::handle v, const char* name) {
    if (!PyLong_Check(v.ptr()) || PyBool_Check(v.ptr()))
        throw py::type_error(std::string(name) + " must be int, not " + type_name(v));
    int overflow = 0;
    long long r = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
    if (r == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
    return r;
}

py::list iter_description_files(py::object models_dir) {
    py::object base = path_object(models_dir);
    std::string root = fs_bytes(base);
    std::vector<std::string> rel;
    {
        py::gil_scoped_release unlocked;
        rel = nearscan::find_descriptions(root);
    }
    py::list out;
    for (const auto& r : rel) out.append(path_object(fs_str(nearscan::join_path(root, r))));
    return out;
}

py::str read_text(py::object path, py::object max_chars) {
    long long cap = int_arg(max_chars, "max_chars");
    std::string fs;
    try {
        fs = fs_bytes(path);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception)) throw;
        return py::str("");
    }
    std::string text;
    {
        py::gil_scoped_release unlocked;
        text = nearscan::read_capped(fs, cap < 0 ? 0 : static_cast<std::size_t>(cap));
    }
    return str_of(text);
}

// The process-wide cache is the module's dict _MODEL_CACHE; the GIL guards it, and it is
// not held across the model's construction (which may release the GIL), so two first
// calls may both construct: the first result stored is kept and returned to both.
py::object load_model(py::object model_name) {
    require_str(model_name, "model_name");
    py::dict cache = M("_MODEL_CACHE");
    if (cache.contains(model_name)) return cache[model_name];
    py::object model = py::none();
    bool failed = false;
    std::string err_text;
    try {
        if (nearscan::hub_cache_has_model(utf8_of(model_name))) {
            // The model is on disk: resolve it there rather than asking the hub.
            py::module_::import("os").attr("environ").attr("setdefault")("HF_HUB_OFFLINE", "1");
        }
        py::module_ st = py::module_::import("sentence_transformers");
        model = st.attr("SentenceTransformer")(model_name);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception)) throw;
        failed = true;
        err_text = utf8_of(py::str(e.value()));
        model = py::none();
    }
    bool inserted = !cache.contains(model_name);
    py::object stored = cache.attr("setdefault")(model_name, model);
    if (failed && inserted)
        py::module_::import("logging").attr("getLogger")().attr("warning")(
            "RAG disabled (embedding model load failed): %s", str_of(err_text));
    return stored;
}

py::list rank(py::object query, py::object models_dir, py::object top_k, py::object model_name) {
    require_str(query, "query");
    long long k = int_arg(top_k, "top_k");
    require_str(model_name, "model_name");

    py::object directory;
    bool given = !models_dir.is_none() && !(PyUnicode_Check(models_dir.ptr()) && py::len(models_dir) == 0);
    if (given) {
        directory = path_object(models_dir);
    } else {
        py::object repo_root = path_object(M("__file__")).attr("resolve")().attr("parent");
        directory = repo_root.attr("__truediv__")("qel_models");
    }
    if (!py::bool_(directory.attr("exists")())) {
        PyErr_SetObject(PyExc_FileNotFoundError,
                        (py::str("Models directory not found: ") + py::str(directory)).ptr());
        throw py::error_already_set();
    }

    std::string root = fs_bytes(directory);
    std::vector<std::string> paths, texts;
    {
        py::gil_scoped_release unlocked;
        for (const auto& rel : nearscan::find_descriptions(root)) {
            std::string p = nearscan::join_path(root, rel);
            std::string text = nearscan::read_capped(p, kDefaultMaxChars);
            if (text.empty()) continue;
            paths.push_back(std::move(p));
            texts.push_back(std::move(text));
        }
    }
    if (texts.empty()) return py::list();

    py::object model = M("_load_model")(model_name);
    if (model.is_none())
        throw std::runtime_error("embedding model could not be loaded: " + utf8_of(model_name));

    py::list docs;
    for (const auto& t : texts) docs.append(str_of(t));
    auto opts = [](py::object m, py::list items) {
        return m.attr("encode")(items, py::arg("convert_to_tensor") = true, py::arg("normalize_embeddings") = true,
                                py::arg("show_progress_bar") = false);
    };
    py::object doc_embs = opts(model, docs);
    py::list q;
    q.append(query);
    py::object query_emb = opts(model, q)[py::int_(0)];
    py::module_ torch = py::module_::import("torch");
    py::list sims = py::list(torch.attr("matmul")(doc_embs, query_emb).attr("cpu")().attr("tolist")());

    std::size_t n = std::min(paths.size(), static_cast<std::size_t>(py::len(sims)));
    std::vector<double> scores(n);
    for (std::size_t i = 0; i < n; ++i) scores[i] = py::float_(sims[i]).cast<double>();
    py::list out;
    for (std::size_t i : nearscan::rank_order(scores, k)) {
        py::dict rec;
        rec["path"] = fs_str(paths[i]);
        rec["score"] = py::float_(scores[i]);
        rec["preview"] = str_of(nearscan::preview(texts[i]));
        out.append(rec);
    }
    return out;
}

int main_entry() {
    py::module_ sys = py::module_::import("sys");
    py::object builtins = py::module_::import("builtins");
    py::object print = builtins.attr("print");
    py::list argv = py::list(sys.attr("argv"));
    py::list args;
    for (std::size_t i = 1; i < argv.size(); ++i) args.append(argv[i]);
    py::str query = py::str(" ").attr("join")(args).attr("strip")();
    if (py::len(query) == 0) {
        print("Usage: nearscan \"your problem description here\"");
        return 1;
    }
    py::object results = M("rank_problem_descriptions")(query, py::arg("top_k") = kDefaultTopK);
    if (py::len(results) == 0) {
        print("No descriptions found.");
        return 0;
    }
    py::str fmt("{:2d}. {}  score={:.4f}");
    int i = 1;
    for (py::handle r : results) print(fmt.attr("format")(i++, r[py::str("path")], r[py::str("score")]));
    return 0;
}

}  // namespace

PYBIND11_MODULE(nearscan, m) {
    g_module = new py::module_(m);  // held for the life of the process
    m.doc() = "Ranking of stored problem descriptions by sentence-embedding similarity.";
    m.attr("_MODEL_CACHE") = py::dict();
    m.def("rank_problem_descriptions", &rank, py::arg("query"), py::arg("models_dir") = py::none(),
          py::arg("top_k") = kDefaultTopK, py::arg("model_name") = kDefaultModel,
          "Stored descriptions (*.txt below models_dir, default qel_models beside this module) ranked by\n"
          "cosine similarity to query: a list of {'path', 'score', 'preview'}, best first.");
    m.def("_load_model", &load_model, py::arg("model_name"),
          "The embedding model for a name, cached per process; None (and one warning) when it cannot load.");
    m.def("_iter_description_files", &iter_description_files, py::arg("models_dir"),
          "Every *.txt file below models_dir, sorted by path.");
    m.def("_read_text", &read_text, py::arg("path"), py::arg("max_chars") = kDefaultMaxChars,
          "File text (UTF-8, undecodable bytes dropped) of at most max_chars characters, stripped; '' on error.");
    m.def("_main", &main_entry, "Command-line entry: prints the ranking for the query in sys.argv; returns the exit status.");
}
