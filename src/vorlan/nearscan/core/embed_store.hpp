// Embeddings keyed by the SHA-256 of the text they encode, and their file form
// (no Python here). A file belongs to one model, one model revision and one scope
// (the example tree it was built for); a file for anything else, or one that fails
// any check, is never read into a table.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "nearscan/core/sha256.hpp"

namespace nearscan {

struct StoreId {
    std::string model;     // embedding model name
    std::string revision;  // model revision, "" when unknown
    std::string scope;     // what the file covers (an example tree's real path), "" for any
};

struct DigestHash {
    std::size_t operator()(const Digest& d) const noexcept;
};

// Unit-length float rows of one width, one per digest.
class EmbeddingTable {
public:
    explicit EmbeddingTable(std::size_t dim = 0) : dim_(dim) {}
    std::size_t dim() const { return dim_; }
    std::size_t size() const { return keys_.size(); }
    // The row for a digest, or nullptr.
    const float* find(const Digest& d) const;
    // The digest's position in keys(), or nullopt.
    std::optional<std::size_t> position(const Digest& d) const;
    // Room for n rows without reallocating.
    void reserve(std::size_t n);
    // Adds or replaces the row of a digest; `row` holds dim() floats.
    void put(const Digest& d, const float* row);
    const std::vector<Digest>& keys() const { return keys_; }
    const float* row(std::size_t i) const { return rows_.data() + i * dim_; }

private:
    std::size_t dim_;
    std::vector<Digest> keys_;
    std::vector<float> rows_;
    std::unordered_map<Digest, std::size_t, DigestHash> index_;
};

// The id and table stored at path; nullopt when the file is missing, unreadable,
// truncated, of another format, version or byte order, or fails a checksum, key order
// or row check.
struct StoredTable {
    StoreId id;
    EmbeddingTable table;
};
std::optional<StoredTable> read_stored(const std::string& path);

// The table stored at path for exactly this id; nullopt when the file is missing,
// unreadable, truncated, of another format, version, byte order, model, revision or
// scope, or when a checksum, key order or row check fails.
std::optional<EmbeddingTable> read_table(const std::string& path, const StoreId& id);

// Writes the table for id to path through a temporary file in the same folder and an
// atomic rename, creating missing folders, so a reader sees the old file or the whole
// new one. False (and nothing left behind) when any step fails.
bool write_table(const std::string& path, const StoreId& id, const EmbeddingTable& table);

// Whether a row has finite entries and unit Euclidean length (within float rounding).
bool is_unit_row(const float* row, std::size_t dim);

}  // namespace nearscan
