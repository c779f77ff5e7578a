// The embedding cache of one ranking call (no Python here): the tree's own cache file,
// then the shipped embeddings of the bundled examples, looked up by text digest; what
// neither holds is encoded by the caller and written back to the tree's file.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "nearscan/core/embed_store.hpp"

namespace nearscan {

struct CacheFile {
    std::string path;  // "" for none
    StoreId id;
};

class EmbeddingCache {
public:
    // Reads both files now; a missing, damaged or foreign file contributes nothing.
    EmbeddingCache(CacheFile tree, CacheFile shipped);

    // The cached row of each digest, or nullptr when it must be encoded. Rows come from
    // one width only (the tree file's, else the shipped file's).
    std::vector<const float*> lookup(const std::vector<Digest>& digests) const;
    // Width of the rows lookup returns; 0 when nothing was read.
    std::size_t dim() const;

    // Whether the tree's file needs writing although nothing new was encoded: it is
    // present but unusable, or holds rows of texts the tree no longer has.
    bool tree_file_stale(const std::vector<Digest>& digests) const;
    // Replaces the tree's file with exactly these rows; false when it cannot be written.
    bool save(const std::vector<Digest>& digests, const std::vector<const float*>& rows, std::size_t dim) const;

private:
    CacheFile tree_file_, shipped_file_;
    std::optional<EmbeddingTable> tree_, shipped_;
    bool tree_present_ = false;
};

}  // namespace nearscan
