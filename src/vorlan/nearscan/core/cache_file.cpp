#include "nearscan/core/cache_file.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace nearscan::cache_file {

namespace {
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

void put_text(std::string& out, std::string_view s) {
    put_raw(out, static_cast<uint32_t>(s.size()));
    out.append(s);
}

std::string_view Reader::text() {
    uint32_t n = raw<uint32_t>();
    if (!ok || n > kMaxText) {
        ok = false;
        return {};
    }
    return bytes(n);
}

std::string_view Reader::bytes(std::size_t n) {
    if (!ok || s.size() - pos < n) {
        ok = false;
        return {};
    }
    std::string_view v = s.substr(pos, n);
    pos += n;
    return v;
}

bool checked_body(std::string_view all, std::string_view magic, std::string_view& body) {
    if (all.size() < magic.size() + 8 || all.substr(0, magic.size()) != magic) return false;
    body = all.substr(0, all.size() - 8);
    uint64_t stored;
    std::memcpy(&stored, all.data() + body.size(), 8);
    return stored == checksum(body);
}

void seal(std::string& out) { put_raw(out, checksum(out)); }

std::optional<FileBytes> read_whole(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    FileBytes out;
    out.data = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t want = static_cast<std::size_t>(st.st_size);
    bool ok = true;
    while (out.size < want) {
        ssize_t n = ::read(fd, out.data.get() + out.size, want - out.size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;  // shrunk meanwhile: what was read is all there is
        out.size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return out;
}

bool write_atomic(const std::string& path, std::string_view bytes) {
    std::size_t cut = path.find_last_of('/');
    if (cut != std::string::npos && !make_dirs(path.substr(0, cut))) return false;
    // A name no other process or thread uses, in the target's folder so the rename stays atomic.
    static std::atomic<unsigned> serial{0};
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string tmp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + "-" +
                      std::to_string(static_cast<unsigned long long>(now) & 0xffffff);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
    ::unlink(tmp.c_str());
    return false;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

bool FileLock::acquire(const std::string& path, std::chrono::milliseconds wait) {
    if (fd_ >= 0) return true;
    std::size_t cut = path.find_last_of('/');
    if (cut != std::string::npos && !make_dirs(path.substr(0, cut))) return false;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return true;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
    return false;
}

}  // namespace nearscan::cache_file
