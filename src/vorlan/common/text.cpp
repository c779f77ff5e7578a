#include "common/text.hpp"

#include <cstdio>
#include <cstdint>

namespace vorlan::text {

namespace {
// Length of the valid UTF-8 sequence starting at s[i] (no surrogates), or 0.
std::size_t valid_seq_len(std::string_view s, std::size_t i) {
    uint32_t cp = 0;
    std::size_t n = decode_at(s, i, cp);
    return (n && cp >= 0xD800 && cp <= 0xDFFF) ? 0 : n;
}

// Decode one code point of valid UTF-8 at s[i]; advances i.
uint32_t decode(std::string_view s, std::size_t& i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < n && i + k < s.size(); ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    return cp;
}

// White space as the host language's str.isspace() defines it.
bool is_unicode_space(uint32_t cp) {
    switch (cp) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x1C: case 0x1D:
        case 0x1E: case 0x1F: case 0x20: case 0x85: case 0xA0: case 0x1680:
        case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}
}  // namespace

std::size_t decode_at(std::string_view s, std::size_t i, uint32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) { cp = c; return 1; }
    std::size_t n;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
    else return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (n == 3 && cp < 0x800) return 0;
    if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    return n;
}

std::string drop_invalid_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t n = valid_seq_len(bytes, i);
        if (n == 0) { ++i; continue; }
        out.append(bytes.substr(i, n));
        i += n;
    }
    return out;
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t n = valid_seq_len(bytes, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string escape_controls(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string normalize_newlines(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::size_t count_code_points(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

std::string_view prefix_code_points(std::string_view s, std::size_t n) {
    std::size_t i = 0, seen = 0;
    while (i < s.size()) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (seen == n) return s.substr(0, i);
            ++seen;
        }
        ++i;
    }
    return s;
}

std::string_view strip_unicode_space(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t j = begin;
        if (!is_unicode_space(decode(s, j))) break;
        begin = j;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
        std::size_t j = start;
        if (!is_unicode_space(decode(s, j))) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

std::optional<std::string> read_file_bytes(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::string out;
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    bool bad = std::ferror(f);
    std::fclose(f);
    if (bad) return std::nullopt;
    return out;
}

}  // namespace vorlan::text
