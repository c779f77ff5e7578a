#include "nearscan/core/scan.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.hpp"

namespace nearscan {

namespace t = vorlan::text;

namespace {
bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void walk(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<std::pair<std::string, std::string>> subdirs;  // (full path, relative path)
    while (dirent* e = ::readdir(d)) {
        std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        std::string full = dir + "/" + std::string(name);
        std::string child = rel.empty() ? std::string(name) : rel + "/" + std::string(name);
        struct stat st {};
        if (ends_with(name, ".txt") && ::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) out.push_back(child);
        struct stat lst {};
        if (::lstat(full.c_str(), &lst) == 0 && S_ISDIR(lst.st_mode)) subdirs.emplace_back(full, child);
    }
    ::closedir(d);
    for (const auto& [full, child] : subdirs) walk(full, child, out);
}
}  // namespace

bool path_less(std::string_view a, std::string_view b) {
    // Ranking the separator below every other byte makes byte order component-wise.
    auto key = [](unsigned char c) { return c == '/' ? 0u : static_cast<unsigned>(c) + 1u; };
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned ka = key(static_cast<unsigned char>(a[i])), kb = key(static_cast<unsigned char>(b[i]));
        if (ka != kb) return ka < kb;
    }
    return a.size() < b.size();
}

std::vector<std::string> find_descriptions(const std::string& root) {
    std::vector<std::string> out;
    walk(root, "", out);
    std::sort(out.begin(), out.end(), path_less);
    return out;
}

std::string join_path(std::string_view root, std::string_view rel) {
    if (root.empty() || root == ".") return std::string(rel);
    std::string out(root);
    if (out.back() != '/') out += '/';
    out += rel;
    return out;
}

void LenientDecoder::feed(std::string_view chunk, bool final, std::string& out) {
    std::string data = held_;
    data.append(chunk);
    held_.clear();
    std::size_t cut = data.size();
    if (!final) {
        // Hold back a multi-byte sequence that the next chunk may complete.
        for (std::size_t back = 1; back <= 3 && back <= data.size(); ++back) {
            unsigned char c = static_cast<unsigned char>(data[data.size() - back]);
            if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
            std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (need > back) cut = data.size() - back;
            break;
        }
        held_ = data.substr(cut);
    }
    std::string text = t::drop_invalid_utf8(std::string_view(data).substr(0, cut));
    std::size_t i = 0;
    if (after_cr_ && !text.empty()) {
        if (text[0] == '\n') i = 1;
        after_cr_ = false;
    }
    if (i >= text.size()) return;
    after_cr_ = text.back() == '\r';
    out += t::normalize_newlines(std::string_view(text).substr(i));
}

std::string read_capped(const std::string& path, std::size_t max_chars) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    LenientDecoder dec;
    std::string text;
    std::size_t chars = 0, counted = 0;
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return {};  // also a directory (EISDIR)
        }
        dec.feed(std::string_view(buf, static_cast<std::size_t>(n)), n == 0, text);
        chars += t::count_code_points(std::string_view(text).substr(counted));
        counted = text.size();
        if (n == 0 || chars > max_chars) break;
    }
    ::close(fd);
    return std::string(t::strip_unicode_space(t::prefix_code_points(text, max_chars)));
}

std::string preview(std::string_view text) {
    std::string out(t::prefix_code_points(text, kPreviewChars));
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

std::vector<std::size_t> rank_order(const std::vector<double>& scores, long long top_k) {
    std::vector<std::size_t> idx(scores.size());
    for (std::size_t i = 0; i < idx.size(); ++i) idx[i] = i;
    std::stable_sort(idx.begin(), idx.end(), [&](std::size_t a, std::size_t b) {
        double x = scores[a], y = scores[b];
        if (std::isnan(x) || std::isnan(y)) return !std::isnan(x) && std::isnan(y);
        return x > y;
    });
    if (top_k > 0 && static_cast<unsigned long long>(top_k) < idx.size()) idx.resize(static_cast<std::size_t>(top_k));
    return idx;
}

namespace {
std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string hub_cache_dir() {
    if (auto v = env("HF_HUB_CACHE"); !v.empty()) return v;
    if (auto v = env("HF_HOME"); !v.empty()) return v + "/hub";
    if (auto v = env("XDG_CACHE_HOME"); !v.empty()) return v + "/huggingface/hub";
    if (auto v = env("HOME"); !v.empty()) return v + "/.cache/huggingface/hub";
    return {};
}
}  // namespace

bool hub_cache_has_model(std::string_view model_name) {
    std::string cache = hub_cache_dir();
    if (cache.empty() || model_name.empty()) return false;
    std::string folder = "models--";
    for (char c : model_name) {
        if (c == '/') folder += "--";
        else folder += c;
    }
    std::string base = cache + "/" + folder;
    std::ifstream ref(base + "/refs/main");
    std::string commit;
    if (!(ref >> commit) || commit.find('/') != std::string::npos || commit.find("..") != std::string::npos) return false;
    struct stat st {};
    return ::stat((base + "/snapshots/" + commit + "/modules.json").c_str(), &st) == 0 ||
           ::stat((base + "/snapshots/" + commit + "/config.json").c_str(), &st) == 0;
}

}  // namespace nearscan
