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

#include "common/quote.hpp"
#include "common/text.hpp"

namespace nearscan {

namespace t = vorlan::text;

namespace {
bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void walk(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
    FolderEntries entries;
    if (!list_folder(dir, entries)) return;
    for (std::size_t i = 0; i < entries.candidates.size(); ++i) {
        const std::string& name = entries.candidates[i];
        if (entries.regular[i] || is_regular_file(dir + "/" + name)) out.push_back(rel.empty() ? name : rel + "/" + name);
    }
    for (const auto& name : entries.folders) walk(dir + "/" + name, rel.empty() ? name : rel + "/" + name, out);
}
}  // namespace

bool list_folder(const std::string& dir, FolderEntries& out) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    while (dirent* e = ::readdir(d)) {
        std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR) {
            out.folders.emplace_back(name);
        } else if (ends_with(name, ".txt")) {
            out.candidates.emplace_back(name);
            out.regular.push_back(type == DT_REG);
        }
    }
    ::closedir(d);
    return true;
}

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
    struct stat st {};
    // A regular file is done once its size is read, which spares the final empty read.
    const off_t size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 ? st.st_size : -1;
    LenientDecoder dec;
    std::string text;
    std::size_t chars = 0, counted = 0;
    off_t total = 0;
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return {};  // also a directory (EISDIR)
        }
        total += n;
        bool end = n == 0 || (size > 0 && total >= size);
        dec.feed(std::string_view(buf, static_cast<std::size_t>(n)), end, text);
        chars += t::count_code_points(std::string_view(text).substr(counted));
        counted = text.size();
        if (end || chars > max_chars) break;
    }
    ::close(fd);
    return std::string(t::strip_unicode_space(t::prefix_code_points(text, max_chars)));
}

std::string preview(std::string_view text) {
    std::string out(t::prefix_code_points(text, kPreviewChars));
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

std::string printable(std::string_view text) {
    static const char* digits = "0123456789abcdef";
    auto escape = [&](std::string& out, char kind, uint32_t v, int width) {
        out += '\\';
        out += kind;
        for (int shift = 4 * (width - 1); shift >= 0; shift -= 4) out += digits[(v >> shift) & 15];
    };
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        std::size_t n = t::decode_at(text, i, cp);
        if (n == 0) {
            escape(out, 'x', static_cast<unsigned char>(text[i]), 2);
            ++i;
            continue;
        }
        if (t::is_printable(cp)) out.append(text.substr(i, n));
        else if (cp < 0x100) escape(out, 'x', cp, 2);
        else if (cp < 0x10000) escape(out, 'u', cp, 4);
        else escape(out, 'U', cp, 8);
        i += n;
    }
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

Corpus read_corpus(const std::string& root, std::size_t max_chars) {
    Corpus c;
    c.max_chars = max_chars;
    for (const auto& rel : find_descriptions(root)) {
        std::string p = join_path(root, rel);
        std::string text = read_capped(p, max_chars);
        if (text.empty()) continue;
        c.digests.push_back(sha256(text));
        c.paths.push_back(std::move(p));
        c.texts.push_back(std::move(text));
    }
    return c;
}

const std::string& text_of(Corpus& c, std::size_t i) {
    if (i < c.unread.size() && c.unread[i]) {
        std::string text = read_capped(c.paths[i], c.max_chars);
        if (text.empty() || sha256(text) != c.digests[i]) throw StaleCorpus();
        c.texts[i] = std::move(text);
        c.unread[i] = false;
    }
    return c.texts[i];
}

std::vector<double> cosine_scores(const std::vector<const float*>& rows, const float* query, std::size_t dim) {
    std::vector<double> out;
    out.reserve(rows.size());
    for (const float* row : rows) {
        double s = 0;
        for (std::size_t i = 0; i < dim; ++i) s += double(row[i]) * query[i];
        out.push_back(static_cast<float>(s));
    }
    return out;
}

}  // namespace nearscan
