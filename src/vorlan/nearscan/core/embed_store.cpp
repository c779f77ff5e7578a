#include "nearscan/core/embed_store.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "nearscan/core/cache_file.hpp"

namespace nearscan {

// File form, native byte order (a marker rejects files written with another):
//   "VORLEMB1"  u32 0x01020304  u32 dim  u64 count
//   u32 length + model  u32 length + revision  u32 length + scope
//   count x (32-byte digest, dim x float32), digests strictly ascending
//   u64 checksum of everything before it
namespace cf = cache_file;

namespace {
constexpr std::string_view kMagic("VORLEMB1", 8);
constexpr uint32_t kByteOrder = 0x01020304;
constexpr std::size_t kMaxDim = 1 << 16;
}  // namespace

std::size_t DigestHash::operator()(const Digest& d) const noexcept {
    std::size_t h;
    std::memcpy(&h, d.data(), sizeof h);  // the digest is uniformly distributed already
    return h;
}

const float* EmbeddingTable::find(const Digest& d) const {
    auto it = index_.find(d);
    return it == index_.end() ? nullptr : row(it->second);
}

std::optional<std::size_t> EmbeddingTable::position(const Digest& d) const {
    auto it = index_.find(d);
    if (it == index_.end()) return std::nullopt;
    return it->second;
}

void EmbeddingTable::reserve(std::size_t n) {
    keys_.reserve(n);
    rows_.reserve(n * dim_);
    index_.reserve(n);
}

void EmbeddingTable::put(const Digest& d, const float* row) {
    auto [it, added] = index_.emplace(d, keys_.size());
    if (added) {
        keys_.push_back(d);
        rows_.insert(rows_.end(), row, row + dim_);
    } else {
        std::copy(row, row + dim_, rows_.begin() + static_cast<std::ptrdiff_t>(it->second * dim_));
    }
}

bool is_unit_row(const float* row, std::size_t dim) {
    double sq = 0;
    for (std::size_t i = 0; i < dim; ++i) {
        if (!std::isfinite(row[i])) return false;
        sq += double(row[i]) * row[i];
    }
    return std::fabs(sq - 1.0) <= 1e-3 || sq == 0.0;  // a model may map a text to the zero vector
}

std::optional<StoredTable> read_stored(const std::string& path) {
    std::optional<cf::FileBytes> bytes = cf::read_whole(path);
    std::string_view body;
    if (!bytes || !cf::checked_body(bytes->view(), kMagic, body)) return std::nullopt;

    cf::Reader r{body, kMagic.size()};
    uint32_t order = r.raw<uint32_t>();
    uint32_t dim = r.raw<uint32_t>();
    uint64_t count = r.raw<uint64_t>();
    std::string_view model = r.text(), revision = r.text(), scope = r.text();
    if (!r.ok || order != kByteOrder || dim == 0 || dim > kMaxDim) return std::nullopt;
    std::size_t row_bytes = sizeof(Digest) + std::size_t(dim) * sizeof(float);
    if (count > (body.size() - r.pos) / row_bytes || (body.size() - r.pos) != count * row_bytes) return std::nullopt;

    EmbeddingTable table(dim);
    table.reserve(count);
    std::vector<float> row(dim);
    Digest prev{};
    for (uint64_t i = 0; i < count; ++i) {
        const char* p = body.data() + r.pos + i * row_bytes;
        Digest d;
        std::memcpy(d.data(), p, d.size());
        if (i > 0 && !(prev < d)) return std::nullopt;
        std::memcpy(row.data(), p + d.size(), dim * sizeof(float));
        if (!is_unit_row(row.data(), dim)) return std::nullopt;
        table.put(d, row.data());
        prev = d;
    }
    return StoredTable{StoreId{std::string(model), std::string(revision), std::string(scope)}, std::move(table)};
}

std::optional<EmbeddingTable> read_table(const std::string& path, const StoreId& id) {
    std::optional<StoredTable> s = read_stored(path);
    if (!s || s->id.model != id.model || s->id.revision != id.revision || s->id.scope != id.scope) return std::nullopt;
    return std::move(s->table);
}

bool write_table(const std::string& path, const StoreId& id, const EmbeddingTable& table) {
    if (table.dim() == 0 || table.dim() > kMaxDim || id.model.size() > cf::kMaxText ||
        id.revision.size() > cf::kMaxText || id.scope.size() > cf::kMaxText)
        return false;
    std::vector<std::size_t> order(table.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return table.keys()[a] < table.keys()[b]; });

    std::string out(kMagic);
    cf::put_raw(out, kByteOrder);
    cf::put_raw(out, static_cast<uint32_t>(table.dim()));
    cf::put_raw(out, static_cast<uint64_t>(table.size()));
    cf::put_text(out, id.model);
    cf::put_text(out, id.revision);
    cf::put_text(out, id.scope);
    out.reserve(out.size() + table.size() * (sizeof(Digest) + table.dim() * sizeof(float)) + 8);
    for (std::size_t i : order) {
        out.append(reinterpret_cast<const char*>(table.keys()[i].data()), sizeof(Digest));
        out.append(reinterpret_cast<const char*>(table.row(i)), table.dim() * sizeof(float));
    }
    cf::seal(out);
    return cf::write_atomic(path, out);
}

}  // namespace nearscan
