// vorlan.nearscan: ranking of stored problem descriptions by sentence-embedding
// similarity. File walking, reading and ordering are in the core; the embedding
// library and the tensor library are imported on first use only.
#include <pybind11/pybind11.h>

#include <climits>
#include <string>
#include <vector>

#include "common/host.hpp"
#include "nearscan/bind/scoring.hpp"
#include "nearscan/core/model_files.hpp"
#include "nearscan/core/scan.hpp"
#include "nearscan/core/tree_index.hpp"

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

// The folder of this module's file, absolute with links resolved, joined with name.
py::object beside_module(const char* name) {
    return path_object(M("__file__")).attr("resolve")().attr("parent").attr("__truediv__")(name);
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

// The model through _load_model (looked up in the module, so a host may wrap it).
py::object loaded_model(py::object model_name) {
    py::object model = M("_load_model")(model_name);
    if (model.is_none()) throw std::runtime_error("embedding model could not be loaded: " + utf8_of(model_name));
    return model;
}

// Folder of the shipped embeddings: _SHIPPED_EMBEDDINGS_DIR when set, else nearscan_data
// beside this module.
std::string shipped_dir() {
    py::object dir = M("_SHIPPED_EMBEDDINGS_DIR");
    if (dir.is_none()) dir = beside_module("nearscan_data");
    return fs_bytes(dir);
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
        directory = beside_module("qel_models");
    }
    if (!py::bool_(directory.attr("exists")())) {
        PyErr_SetObject(PyExc_FileNotFoundError,
                        (py::str("Models directory not found: ") + py::str(directory)).ptr());
        throw py::error_already_set();
    }

    std::string root = fs_bytes(directory);
    const bool cached = !nearscan::embedding_cache_disabled();
    std::string tree;
    nearscan::Corpus corpus;
    {
        py::gil_scoped_release unlocked;
        if (cached) {
            // Unchanged files are known from the tree's index and left unread.
            tree = nearscan::bind::real_path(root);
            std::string dir = nearscan::tree_index_dir();
            corpus = nearscan::read_corpus_indexed(root, kDefaultMaxChars,
                                                   dir.empty() ? "" : nearscan::tree_index_file(dir, tree), tree);
        } else {
            corpus = nearscan::read_corpus(root, kDefaultMaxChars);
        }
    }
    if (corpus.texts.empty()) return py::list();

    py::object model = loaded_model(model_name);
    auto ranked = [&]() {
        std::vector<double> scores =
            cached ? nearscan::bind::cached_scores(model, utf8_of(model_name), corpus, tree, query, shipped_dir())
                   : nearscan::bind::uncached_scores(model, corpus, query);
        py::list out;
        for (std::size_t i : nearscan::rank_order(scores, k)) {
            py::dict rec;
            rec["path"] = fs_str(corpus.paths[i]);
            rec["score"] = py::float_(scores[i]);
            rec["preview"] = str_of(nearscan::preview(nearscan::text_of(corpus, i)));
            out.append(rec);
        }
        return out;
    };
    try {
        return ranked();
    } catch (const nearscan::StaleCorpus&) {
        // A file changed during the call: rank the tree as it is now, every file read.
        {
            py::gil_scoped_release unlocked;
            corpus = nearscan::read_corpus(root, kDefaultMaxChars);
        }
        if (corpus.texts.empty()) return py::list();
        return ranked();
    }
}

// Embeddings of every description below models_dir (default: the bundled tree) written to
// path for the model's current revision, as shipped with the package.
std::size_t write_shipped_embeddings(py::object models_dir, py::object path, py::object model_name) {
    require_str(model_name, "model_name");
    py::object dir = models_dir.is_none() ? beside_module("qel_models") : path_object(models_dir);
    nearscan::Corpus corpus = nearscan::read_corpus(fs_bytes(dir), kDefaultMaxChars);
    py::object model = loaded_model(model_name);
    return nearscan::bind::write_shipped(model, utf8_of(model_name), corpus, fs_bytes(path));
}

// Keeps the embedding library's progress bars and hub notes off the terminal unless the
// environment already says otherwise; takes effect for libraries not yet imported.
void quiet_embedding_library() {
    py::object environ = py::module_::import("os").attr("environ");
    environ.attr("setdefault")("HF_HUB_DISABLE_PROGRESS_BARS", "1");
    environ.attr("setdefault")("TRANSFORMERS_VERBOSITY", "error");
    environ.attr("setdefault")("HF_HUB_VERBOSITY", "error");
    py::object get_logger = py::module_::import("logging").attr("getLogger");
    for (const char* name : {"huggingface_hub", "sentence_transformers", "transformers"})
        get_logger(name).attr("setLevel")(py::module_::import("logging").attr("ERROR"));
}

py::str printable_text(py::object text) {
    require_str(text, "text");
    return str_of(nearscan::printable(utf8_of(text)));
}

int main_entry() {
    constexpr const char* kUsage = "Usage: nearscan \"your problem description here\"";
    py::module_ sys = py::module_::import("sys");
    py::object builtins = py::module_::import("builtins");
    py::object print = builtins.attr("print");
    py::list argv = py::list(sys.attr("argv"));
    py::list args;
    for (std::size_t i = 1; i < argv.size(); ++i) args.append(argv[i]);
    if (args.size() == 1 && (py::str(args[0]).equal(py::str("--help")) || py::str(args[0]).equal(py::str("-h")))) {
        print(kUsage);
        print("Prints the 10 stored problem descriptions (*.txt below the bundled qel_models folder) closest in "
              "meaning to the description, with their cosine similarity.");
        return 0;
    }
    py::str query = py::str(" ").attr("join")(args).attr("strip")();
    if (py::len(query) == 0) {
        print(kUsage);
        return 1;
    }
    quiet_embedding_library();
    py::object results = M("rank_problem_descriptions")(query, py::arg("top_k") = kDefaultTopK);
    if (py::len(results) == 0) {
        print("No descriptions found.");
        return 0;
    }
    py::str fmt("{:2d}. {}  score={:.4f}");
    int i = 1;
    for (py::handle r : results)
        print(fmt.attr("format")(i++, printable_text(r[py::str("path")]), r[py::str("score")]));
    return 0;
}

}  // namespace

PYBIND11_MODULE(nearscan, m) {
    g_module = new py::module_(m);  // held for the life of the process
    m.doc() = "Ranking of stored problem descriptions by sentence-embedding similarity.";
    m.attr("_MODEL_CACHE") = py::dict();
    m.attr("_SHIPPED_EMBEDDINGS_DIR") = py::none();
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
    m.def("_write_shipped_embeddings", &write_shipped_embeddings, py::arg("models_dir"), py::arg("path"),
          py::arg("model_name") = kDefaultModel,
          "Encodes every description below models_dir (None: the bundled tree) and writes the rows to path.");
    m.def("_embedding_file_info",
          [](py::object path) { return nearscan::bind::embedding_file_info(fs_bytes(path)); }, py::arg("path"),
          "Model, revision, scope, width and sorted text digests of an embedding file; None when unusable.");
    m.def("_model_revision", [](py::object name) {
              require_str(name, "model_name");
              return str_of(nearscan::model_revision(utf8_of(name)));
          }, py::arg("model_name"), "The revision cached embeddings of a model are keyed by ('' when unknown).");
    m.def("_shipped_file_name", [](py::object name) {
              require_str(name, "model_name");
              return str_of(nearscan::shipped_file_name(utf8_of(name)));
          }, py::arg("model_name"), "File name of a model's shipped embeddings.");
    m.def("_shipped_embeddings_dir", [] { return str_of(shipped_dir()); },
          "Folder the shipped embeddings are read from.");
    m.def("_embedding_cache_dir", [] { return str_of(nearscan::embedding_cache_dir()); },
          "Folder of the embedding cache ('' when there is no user cache folder).");
    m.def("_printable", &printable_text, py::arg("text"),
          "text with every non-printable character written as an escape, safe to show on a terminal.");
    m.def("_quiet_embedding_library", &quiet_embedding_library,
          "Keeps the embedding library's progress bars and hub notes off the terminal (environment defaults).");
    m.def("_main", &main_entry, "Command-line entry: prints the ranking for the query in sys.argv; returns the exit status.");
}
