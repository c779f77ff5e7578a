#include "nearscan/bind/scoring.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "common/host.hpp"
#include "nearscan/bind/light_model.hpp"
#include "nearscan/core/cache_file.hpp"
#include "nearscan/core/embed_cache.hpp"
#include "nearscan/core/model_files.hpp"

namespace nearscan::bind {

using vorlan::host::fs_str;
using vorlan::host::str_of;

namespace {

// At most this many texts are encoded on one tensor-library thread.
constexpr std::size_t kFewTexts = 8;

// Longest wait for another process that encodes texts of the same tree; past it this one
// encodes them too, as if there were no other.
constexpr std::chrono::seconds kEncodeWait{60};

// Holds the calling thread's tensor-library thread count at one while it lives. For a query
// or a handful of texts, starting and synchronising a thread pool costs more than the work
// (about a second for the first query of a process on a busy two-core machine, against a
// few hundredths on one thread). The count is per calling thread and put back afterwards;
// nothing happens when the tensor library is not loaded or offers no such setting.
class OneThread {
public:
    OneThread() {
        py::dict modules = py::module_::import("sys").attr("modules");
        if (!modules.contains("torch")) return;
        py::object torch = modules["torch"];
        if (!py::hasattr(torch, "get_num_threads") || !py::hasattr(torch, "set_num_threads")) return;
        int before = torch.attr("get_num_threads")().cast<int>();
        if (before <= 1) return;
        torch.attr("set_num_threads")(1);
        torch_ = torch;
        before_ = before;
    }
    ~OneThread() {
        if (!torch_) return;
        try {
            torch_.attr("set_num_threads")(before_);
        } catch (py::error_already_set& e) {
            e.discard_as_unraisable("restoring the tensor library's thread count");
        }
    }
    OneThread(const OneThread&) = delete;
    OneThread& operator=(const OneThread&) = delete;

private:
    py::object torch_;
    int before_ = 0;
};

py::object encode(py::handle model, const py::list& items) {
    return model.attr("encode")(items, py::arg("convert_to_tensor") = true, py::arg("normalize_embeddings") = true,
                                py::arg("show_progress_bar") = false);
}

py::object encode_few(py::handle model, const py::list& items) {
    std::optional<OneThread> one;
    if (items.size() <= kFewTexts) one.emplace();
    return encode(model, items);
}

// The rows of an encode result (a tensor, or an array of the light runtime) as row-major
// floats; dim receives their width.
std::vector<float> rows_of(py::handle result, std::size_t count, std::size_t& dim) {
    py::object host = py::hasattr(result, "cpu") ? result.attr("cpu")() : py::reinterpret_borrow<py::object>(result);
    py::list rows = py::list(host.attr("tolist")());
    if (rows.size() != count)
        throw std::runtime_error("the embedding model returned " + std::to_string(rows.size()) + " rows for " +
                                 std::to_string(count) + " texts");
    std::vector<float> out;
    dim = 0;
    for (std::size_t r = 0; r < count; ++r) {
        py::list row = py::list(rows[r]);
        if (r == 0) {
            dim = row.size();
            out.reserve(count * dim);
        }
        if (row.size() != dim || dim == 0) throw std::runtime_error("the embedding model returned rows of unequal width");
        for (py::handle v : row) {
            double x = PyFloat_AsDouble(v.ptr());
            if (x == -1.0 && PyErr_Occurred()) throw py::error_already_set();
            out.push_back(static_cast<float>(x));
        }
    }
    return out;
}

// Rows of the given texts: straight from the light runtime, else through the model's encode.
std::vector<float> encode_list(py::handle model, const py::list& items, std::size_t& dim) {
    if (const LightModel* light = as_light(model)) {
        std::vector<py::object> texts;
        for (py::handle t : items) texts.push_back(py::reinterpret_borrow<py::object>(t));
        return light->encode_rows(texts, dim);
    }
    return rows_of(encode_few(model, items), items.size(), dim);
}

std::vector<float> encode_texts(py::handle model, Corpus& corpus, const std::vector<std::size_t>& which,
                                std::size_t& dim) {
    py::list items;
    for (std::size_t i : which) items.append(str_of(text_of(corpus, i)));
    return encode_list(model, items, dim);
}

}  // namespace

std::string real_path(const std::string& p) {
    char* real = ::realpath(p.c_str(), nullptr);
    std::string out = real ? std::string(real) : p;
    std::free(real);
    return out;
}

std::vector<double> uncached_scores(py::handle model, const Corpus& corpus, py::handle query) {
    py::list docs;
    for (const auto& t : corpus.texts) docs.append(str_of(t));
    py::list q;
    q.append(query);
    const bool light = as_light(model) != nullptr;
    py::object doc_embs, query_embs;
    if (!light) {
        doc_embs = encode(model, docs);
        query_embs = encode(model, q);
    }
    if (!light && py::hasattr(doc_embs, "cpu")) {
        py::module_ torch = py::module_::import("torch");
        py::list sims =
            py::list(torch.attr("matmul")(doc_embs, query_embs[py::int_(0)]).attr("cpu")().attr("tolist")());
        std::size_t n = std::min(corpus.texts.size(), sims.size());
        std::vector<double> scores(n);
        for (std::size_t i = 0; i < n; ++i) scores[i] = py::float_(sims[i]).cast<double>();
        return scores;
    }
    // No tensors (the light runtime, perhaps behind a wrapper): the rows' dot products, as
    // the cached path scores them.
    const std::size_t n = corpus.texts.size();
    std::size_t dim = 0, qdim = 0;
    std::vector<float> doc_rows = light ? encode_list(model, docs, dim) : rows_of(doc_embs, n, dim);
    std::vector<float> query_row = light ? encode_list(model, q, qdim) : rows_of(query_embs, 1, qdim);
    if (dim != qdim) throw std::runtime_error("the embedding model gave texts and query embeddings of different widths");
    std::vector<const float*> rows;
    for (std::size_t i = 0; i < n; ++i) rows.push_back(doc_rows.data() + i * dim);
    return cosine_scores(rows, query_row.data(), qdim);
}

std::vector<double> cached_scores(py::handle model, const std::string& model_name, Corpus& corpus,
                                  const std::string& tree, py::handle query, const std::string& shipped_dir) {
    std::optional<EmbeddingCache> cache;
    std::string revision, tree_path;
    auto open_cache = [&] {
        cache.emplace(CacheFile{tree_path, {model_name, revision, tree}},
                      CacheFile{shipped_dir.empty() ? "" : shipped_dir + "/" + shipped_file_name(model_name),
                                {model_name, revision, ""}});
    };
    {
        py::gil_scoped_release unlocked;
        revision = model_revision(model_name);
        std::string dir = embedding_cache_dir();
        tree_path = dir.empty() ? "" : tree_cache_file(dir, model_name, revision, tree);
        open_cache();
    }
    const std::size_t n = corpus.texts.size();
    std::vector<const float*> rows = cache->lookup(corpus.digests);
    cache_file::FileLock turn;
    if (std::find(rows.begin(), rows.end(), nullptr) != rows.end() && !tree_path.empty()) {
        // Texts to encode. Processes ranking the same tree take turns here (at most kEncodeWait
        // each), and one that waited finds what the one before it wrote instead of encoding the
        // same texts at the same time on the same cores.
        py::gil_scoped_release unlocked;
        std::string locks = lock_dir();
        std::string name = tree_path.substr(tree_path.find_last_of('/') + 1);
        if (!locks.empty() && turn.acquire(locks + "/" + name + ".lock", kEncodeWait)) open_cache();
        rows = cache->lookup(corpus.digests);
    }
    std::vector<std::size_t> missing, cached;
    for (std::size_t i = 0; i < n; ++i) (rows[i] ? cached : missing).push_back(i);

    std::size_t dim = 0, qdim = 0;
    std::vector<float> fresh;
    if (!missing.empty()) fresh = encode_texts(model, corpus, missing, dim);
    py::list q;
    q.append(query);
    std::vector<float> query_row = encode_list(model, q, qdim);
    if (!missing.empty() && dim != qdim)
        throw std::runtime_error("the embedding model gave texts and query embeddings of different widths");
    for (std::size_t k = 0; k < missing.size(); ++k) rows[missing[k]] = fresh.data() + k * dim;

    std::vector<float> redone;
    if (!cached.empty() && cache->dim() != qdim) {
        // Cached rows of another width cannot be this model's: encode those texts afresh.
        std::size_t rdim = 0;
        redone = encode_texts(model, corpus, cached, rdim);
        if (rdim != qdim)
            throw std::runtime_error("the embedding model gave texts and query embeddings of different widths");
        for (std::size_t k = 0; k < cached.size(); ++k) rows[cached[k]] = redone.data() + k * qdim;
        missing.insert(missing.end(), cached.begin(), cached.end());
    }

    std::vector<double> scores = cosine_scores(rows, query_row.data(), qdim);
    if (!missing.empty() || cache->tree_file_stale(corpus.digests)) {
        py::gil_scoped_release unlocked;
        cache->save(corpus.digests, rows, qdim);  // best effort: a read-only cache only costs speed
    }
    return scores;
}

std::size_t write_shipped(py::handle model, const std::string& model_name, Corpus& corpus,
                          const std::string& path) {
    std::vector<std::size_t> all(corpus.texts.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::size_t dim = 0;
    std::vector<float> rows = all.empty() ? std::vector<float>{} : encode_texts(model, corpus, all, dim);
    EmbeddingTable table(dim);
    for (std::size_t i : all) table.put(corpus.digests[i], rows.data() + i * dim);
    if (!write_table(path, StoreId{model_name, model_revision(model_name), ""}, table))
        throw std::runtime_error("cannot write " + path);
    return table.size();
}

py::object embedding_file_info(const std::string& path) {
    std::optional<StoredTable> stored;
    {
        py::gil_scoped_release unlocked;
        stored = read_stored(path);
    }
    if (!stored) return py::none();
    std::vector<std::string> keys;
    for (const auto& d : stored->table.keys()) keys.push_back(hex(d));
    std::sort(keys.begin(), keys.end());
    py::dict info;
    info["model"] = str_of(stored->id.model);
    info["revision"] = str_of(stored->id.revision);
    info["scope"] = fs_str(stored->id.scope);
    info["dim"] = stored->table.dim();
    py::list digests;
    for (const auto& k : keys) digests.append(py::str(k));
    info["digests"] = digests;
    return info;
}

}  // namespace nearscan::bind
