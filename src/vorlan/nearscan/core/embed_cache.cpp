#include "nearscan/core/embed_cache.hpp"

#include <sys/stat.h>

namespace nearscan {

EmbeddingCache::EmbeddingCache(CacheFile tree, CacheFile shipped)
    : tree_file_(std::move(tree)), shipped_file_(std::move(shipped)) {
    if (!tree_file_.path.empty()) {
        struct stat st {};
        tree_present_ = ::stat(tree_file_.path.c_str(), &st) == 0;
        if (tree_present_) tree_ = read_table(tree_file_.path, tree_file_.id);
    }
    if (!shipped_file_.path.empty()) shipped_ = read_table(shipped_file_.path, shipped_file_.id);
    if (tree_ && shipped_ && shipped_->dim() != tree_->dim()) shipped_.reset();
}

std::size_t EmbeddingCache::dim() const { return tree_ ? tree_->dim() : shipped_ ? shipped_->dim() : 0; }

std::vector<const float*> EmbeddingCache::lookup(const std::vector<Digest>& digests) const {
    std::vector<const float*> rows;
    rows.reserve(digests.size());
    for (const auto& d : digests) {
        const float* r = tree_ ? tree_->find(d) : nullptr;
        if (!r && shipped_) r = shipped_->find(d);
        rows.push_back(r);
    }
    return rows;
}

bool EmbeddingCache::tree_file_stale(const std::vector<Digest>& digests) const {
    if (!tree_present_ || tree_file_.path.empty()) return false;
    if (!tree_) return true;
    // Stale when some stored key is not among the digests: count the stored keys seen.
    std::vector<bool> seen(tree_->size());
    std::size_t count = 0;
    for (const auto& d : digests) {
        std::optional<std::size_t> at = tree_->position(d);
        if (at && !seen[*at]) {
            seen[*at] = true;
            ++count;
        }
    }
    return count != tree_->size();
}

bool EmbeddingCache::save(const std::vector<Digest>& digests, const std::vector<const float*>& rows,
                          std::size_t dim) const {
    if (tree_file_.path.empty() || digests.size() != rows.size()) return false;
    EmbeddingTable table(dim);
    for (std::size_t i = 0; i < digests.size(); ++i)
        if (rows[i] && is_unit_row(rows[i], dim)) table.put(digests[i], rows[i]);  // never store what a read would reject
    return write_table(tree_file_.path, tree_file_.id, table);
}

}  // namespace nearscan
