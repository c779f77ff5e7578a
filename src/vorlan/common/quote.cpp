#include "common/quote.hpp"
#include "common/text.hpp"

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
