#include "common/quote.hpp"

#include <algorithm>
#include <iterator>

namespace vorlan::text {

namespace {
struct Range {
    uint32_t lo, hi;
};
constexpr Range kNonPrintable[] = {
#include "common/unicode_printable_table.inc"
};

// Decodes one code point at s[i] (surrogates accepted); returns its byte length,
// or 0 when no valid sequence starts there.
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

void append_hex(std::string& out, char tag, uint32_t v, int digits) {
    static const char* hex = "0123456789abcdef";
    out += '\\';
    out += tag;
    for (int d = digits - 1; d >= 0; --d) out += hex[(v >> (4 * d)) & 0xF];
}
}  // namespace

bool is_printable(uint32_t cp) {
    auto it = std::upper_bound(std::begin(kNonPrintable), std::end(kNonPrintable), cp,
                               [](uint32_t v, const Range& r) { return v < r.lo; });
    if (it == std::begin(kNonPrintable)) return true;
    --it;
    return cp > it->hi;
}

std::string quote_text(std::string_view s) {
    const bool has_single = s.find('\'') != std::string_view::npos;
    const bool has_double = s.find('"') != std::string_view::npos;
    const char q = (has_single && !has_double) ? '"' : '\'';
    std::string out;
    out.reserve(s.size() + 2);
    out += q;
    for (std::size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        std::size_t n = decode_at(s, i, cp);
        if (n == 0) {
            append_hex(out, 'x', static_cast<unsigned char>(s[i]), 2);
            ++i;
            continue;
        }
        if (cp == static_cast<unsigned char>(q) || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (!is_printable(cp)) {
            if (cp < 0x100) append_hex(out, 'x', cp, 2);
            else if (cp < 0x10000) append_hex(out, 'u', cp, 4);
            else append_hex(out, 'U', cp, 8);
        } else {
            out.append(s.data() + i, n);
        }
        i += n;
    }
    out += q;
    return out;
}

std::string list_text(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (k) out += ", ";
        out += quote_text(items[k]);
    }
    out += ']';
    return out;
}

}  // namespace vorlan::text
