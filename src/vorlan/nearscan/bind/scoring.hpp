// Scores of a corpus against a query with the embedding model, cached or not.
#pragma once
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "nearscan/core/scan.hpp"

namespace nearscan::bind {

namespace py = pybind11;

// Every text encoded in one batch, the query in one more, scored by the tensor library.
std::vector<double> uncached_scores(py::handle model, const Corpus& corpus, py::handle query);

// Rows of texts seen before come from the cache file of the tree (whose real path is
// `tree`) or the shipped embeddings in shipped_dir; only the others and the query are
// encoded, and new rows are written back. Texts the scan left unread are read when they
// must be encoded (StaleCorpus when one changed meanwhile).
std::vector<double> cached_scores(py::handle model, const std::string& model_name, Corpus& corpus,
                                  const std::string& tree, py::handle query, const std::string& shipped_dir);

// The real path of p (links resolved), or p itself when it cannot be resolved.
std::string real_path(const std::string& p);

// Encodes every text of the corpus in one batch and writes the rows to path as embeddings
// any tree can use (no scope), for the model's current revision; returns the row count.
std::size_t write_shipped(py::handle model, const std::string& model_name, Corpus& corpus,
                          const std::string& path);

// {"model", "revision", "scope", "dim", "digests"} of an embedding file (digests as
// sorted hexadecimal texts), or None when the file is missing or fails a check.
py::object embedding_file_info(const std::string& path);

}  // namespace nearscan::bind
