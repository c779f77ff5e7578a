#include "nearscan/core/embed_store.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.hpp"

namespace nearscan {

// File form, native byte order (a marker rejects files written with another):
//   "VORLEMB1"  u32 0x01020304  u32 dim  u64 count
//   u32 length + model  u32 length + revision  u32 length + scope
//   count x (32-byte digest, dim x float32), digests strictly ascending
//   u64 checksum of everything before it
namespace {
constexpr char kMagic[8] = {'V', 'O', 'R', 'L', 'E', 'M', 'B', '1'};
constexpr uint32_t kByteOrder = 0x01020304;
constexpr std::size_t kMaxDim = 1 << 16;
constexpr std::size_t kMaxText = 1 << 16;

uint64_t checksum(std::string_view s) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    for (; i < s.size(); ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 0x94D049BB133111EBull;
    return h ^ (h >> 29);
}

template <class T>
void put_raw(std::string& out, T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void put_text(std::string& out, const std::string& s) {
    put_raw(out, static_cast<uint32_t>(s.size()));
    out += s;
}

// Bounds-checked reading of the fields above.
struct Reader {
    std::string_view s;
    std::size_t pos = 0;
    bool ok = true;

    template <class T>
    T raw() {
        T v{};
        if (!ok || s.size() - pos < sizeof v) {
            ok = false;
            return v;
        }
        std::memcpy(&v, s.data() + pos, sizeof v);
        pos += sizeof v;
        return v;
    }
    std::string_view text() {
        uint32_t n = raw<uint32_t>();
        if (!ok || n > kMaxText || s.size() - pos < n) {
            ok = false;
            return {};
        }
        std::string_view v = s.substr(pos, n);
        pos += n;
        return v;
    }
};

// Creates the missing folders of a path, user-only like other cache folders.
bool make_dirs(const std::string& dir) {
    if (dir.empty()) return true;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::size_t cut = dir.find_last_of('/');
    if (cut != std::string::npos && cut > 0 && !make_dirs(dir.substr(0, cut))) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool write_all(int fd, std::string_view s) {
    while (!s.empty()) {
        ssize_t n = ::write(fd, s.data(), s.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        s.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
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
    std::optional<std::string> bytes = vorlan::text::read_file_bytes(path);
    if (!bytes || bytes->size() < sizeof kMagic + 8 || std::memcmp(bytes->data(), kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    std::string_view all(*bytes);
    std::string_view body = all.substr(0, all.size() - 8);
    uint64_t stored;
    std::memcpy(&stored, all.data() + body.size(), 8);
    if (stored != checksum(body)) return std::nullopt;

    Reader r{body, sizeof kMagic};
    uint32_t order = r.raw<uint32_t>();
    uint32_t dim = r.raw<uint32_t>();
    uint64_t count = r.raw<uint64_t>();
    std::string_view model = r.text(), revision = r.text(), scope = r.text();
    if (!r.ok || order != kByteOrder || dim == 0 || dim > kMaxDim) return std::nullopt;
    std::size_t row_bytes = sizeof(Digest) + std::size_t(dim) * sizeof(float);
    if (count > (body.size() - r.pos) / row_bytes || (body.size() - r.pos) != count * row_bytes) return std::nullopt;

    EmbeddingTable table(dim);
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
    if (table.dim() == 0 || table.dim() > kMaxDim || id.model.size() > kMaxText || id.revision.size() > kMaxText ||
        id.scope.size() > kMaxText)
        return false;
    std::vector<std::size_t> order(table.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return table.keys()[a] < table.keys()[b]; });

    std::string out(kMagic, sizeof kMagic);
    put_raw(out, kByteOrder);
    put_raw(out, static_cast<uint32_t>(table.dim()));
    put_raw(out, static_cast<uint64_t>(table.size()));
    put_text(out, id.model);
    put_text(out, id.revision);
    put_text(out, id.scope);
    out.reserve(out.size() + table.size() * (sizeof(Digest) + table.dim() * sizeof(float)) + 8);
    for (std::size_t i : order) {
        out.append(reinterpret_cast<const char*>(table.keys()[i].data()), sizeof(Digest));
        out.append(reinterpret_cast<const char*>(table.row(i)), table.dim() * sizeof(float));
    }
    put_raw(out, checksum(out));

    std::size_t cut = path.find_last_of('/');
    if (cut != std::string::npos && !make_dirs(path.substr(0, cut))) return false;
    // A name no other process or thread uses, in the target's folder so the rename stays atomic.
    static std::atomic<unsigned> serial{0};
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string tmp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + "-" +
                      std::to_string(static_cast<unsigned long long>(now) & 0xffffff);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write_all(fd, out) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
    ::unlink(tmp.c_str());
    return false;
}

}  // namespace nearscan
