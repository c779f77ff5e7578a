// Shared pieces of the cache files nearscan writes (no Python here): field encoding in
// native byte order, bounds-checked decoding, a checksum over the body, and an atomic
// replace of the file so concurrent readers see the old file or the whole new one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace nearscan::cache_file {

// 64-bit checksum of a file body; any flipped bit or truncation changes it.
uint64_t checksum(std::string_view s);

template <class T>
void put_raw(std::string& out, T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// A length-prefixed text (u32 length, then the bytes).
void put_text(std::string& out, std::string_view s);

// Longest text put_text writes and Reader::text accepts.
constexpr std::size_t kMaxText = 1 << 16;

// Reads the fields above from a byte string; any read past the end, or a text longer
// than kMaxText, clears ok and yields zeros / empty texts from then on.
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
    std::string_view text();
    // The next n bytes, or an empty view (and ok cleared) when fewer remain.
    std::string_view bytes(std::size_t n);
};

// Whether `all` begins with magic and ends with the checksum of everything before those
// last 8 bytes; body receives everything before them.
bool checked_body(std::string_view all, std::string_view magic, std::string_view& body);

// Appends the checksum of `out` to it.
void seal(std::string& out);

// A whole file read with one allocation of its size and no zero-filling (cache files
// run to megabytes and are read on every call).
struct FileBytes {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::string_view view() const { return {data.get(), size}; }
};
// The file's bytes; nullopt when it cannot be opened or read. A file that grows while
// being read yields its first bytes only (the checksum then fails).
std::optional<FileBytes> read_whole(const std::string& path);

// Writes bytes to path through a temporary file in the same folder and a rename,
// creating missing folders (user-only). False, with nothing left behind, on any failure.
bool write_atomic(const std::string& path, std::string_view bytes);

// An advisory lock (flock) on a file, held while the object lives and dropped by the
// kernel when the holder dies, so a crashed process never blocks the others.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Takes the lock on path (created, with its folders, when missing), waiting at most
    // `wait` for another holder; false when it could not be had in time or at all.
    bool acquire(const std::string& path, std::chrono::milliseconds wait);

private:
    int fd_ = -1;
};

}  // namespace nearscan::cache_file
