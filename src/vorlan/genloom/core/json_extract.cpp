#include "genloom/core/json_extract.hpp"

#include "common/text.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <vector>

namespace genloom::core {

namespace {

constexpr std::size_t npos = std::string_view::npos;
using vorlan::text::decode_at;

// Index just past the run of Unicode white space starting at i.
std::size_t skip_space(std::string_view s, std::size_t i) {
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (!is_unicode_space(c)) break;
            ++i;
            continue;
        }
        uint32_t cp = 0;
        const std::size_t n = decode_at(s, i, cp);
        if (n == 0 || !is_unicode_space(cp)) break;
        i += n;
    }
    return i;
}

bool has_fence_at(std::string_view s, std::size_t i) {
    return i + 3 <= s.size() && s[i] == '`' && s[i + 1] == '`' && s[i + 2] == '`';
}

// Case-insensitive match of one lower-case ASCII pattern character, with the
// non-ASCII code points that the host's case-insensitive matching also accepts.
bool ci_char_matches(char pat, uint32_t cp) {
    if (cp == static_cast<unsigned char>(pat)) return true;
    if (pat >= 'a' && pat <= 'z' && cp == static_cast<uint32_t>(pat - 'a' + 'A')) return true;
    if (pat == 'i') return cp == 0x130 || cp == 0x131;
    if (pat == 's') return cp == 0x17F;
    return false;
}

// End of a case-insensitive match of `lit` at s[i], or npos.
std::size_t match_literal_ci(std::string_view s, std::size_t i, std::string_view lit) {
    for (char pc : lit) {
        if (i >= s.size()) return npos;
        uint32_t cp = 0;
        std::size_t n = decode_at(s, i, cp);
        if (n == 0) { cp = 0xFFFFFFFFu; n = 1; }
        if (!ci_char_matches(pc, cp)) return npos;
        i += n;
    }
    return i;
}

enum class Quoted { kMatch, kNoMatch, kNoCloseQuote };

// At s[i] (just after the leading literal): \s*'([^']+)' ; sets group and end.
// kNoCloseQuote means no later start can match either, which keeps searches linear.
Quoted match_quoted_group(std::string_view s, std::size_t i, std::string_view& group, std::size_t& end) {
    i = skip_space(s, i);
    if (i >= s.size() || s[i] != '\'') return Quoted::kNoMatch;
    const std::size_t close = s.find('\'', i + 1);
    if (close == npos) return Quoted::kNoCloseQuote;
    if (close == i + 1) return Quoted::kNoMatch;
    group = s.substr(i + 1, close - i - 1);
    end = close + 1;
    return Quoted::kMatch;
}

// Adapter from nlohmann's SAX events to a JsonSink, with a nesting cap.
class SaxAdapter {
public:
    using number_integer_t = nlohmann::json::number_integer_t;
    using number_unsigned_t = nlohmann::json::number_unsigned_t;
    using number_float_t = nlohmann::json::number_float_t;
    using string_t = nlohmann::json::string_t;
    using binary_t = nlohmann::json::binary_t;

    explicit SaxAdapter(JsonSink& sink) : sink_(sink) {}

    bool null() { return sink_.null_value(); }
    bool boolean(bool v) { return sink_.boolean(v); }
    bool number_integer(number_integer_t v) { return sink_.integer(v); }
    bool number_unsigned(number_unsigned_t v) { return sink_.unsigned_integer(v); }
    bool number_float(number_float_t v, const string_t& token) {
        // Integers beyond 64 bits arrive here; keep them exact as digit text.
        if (token.find_first_of(".eE") == string_t::npos) return sink_.big_integer(token);
        return sink_.floating(v);
    }
    bool string(string_t& v) { return sink_.string(v); }
    bool binary(binary_t&) { return false; }
    bool start_object(std::size_t) { return enter() && sink_.start_object(); }
    bool key(string_t& k) { return sink_.key(k); }
    bool end_object() { --depth_; return sink_.end_object(); }
    bool start_array(std::size_t) { return enter() && sink_.start_array(); }
    bool end_array() { --depth_; return sink_.end_array(); }
    bool parse_error(std::size_t pos, const std::string&, const nlohmann::detail::exception& ex) {
        error_ = JsonError{strip_prefix(ex.what()), pos};
        return false;
    }

    std::optional<JsonError> error_;
    bool too_deep_ = false;

private:
    bool enter() {
        if (++depth_ > kMaxJsonDepth) {
            too_deep_ = true;
            return false;
        }
        return true;
    }
    // "[json.exception.parse_error.101] parse error at line 1, column 5: text" -> "text"
    static std::string strip_prefix(const std::string& what) {
        std::size_t at = what.find("column ");
        if (at != std::string::npos) {
            std::size_t colon = what.find(": ", at);
            if (colon != std::string::npos) return what.substr(colon + 2);
        }
        std::size_t br = what.find("] ");
        return br == std::string::npos ? what : what.substr(br + 2);
    }

    JsonSink& sink_;
    std::size_t depth_ = 0;
};

// Byte position of the nesting-cap violation: the bracket that went one level too deep.
std::size_t depth_violation_pos(std::string_view s) {
    std::size_t depth = 0;
    bool in_str = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (in_str) {
            if (c == '\\') ++i;
            else if (c == '"') in_str = false;
        } else if (c == '"') {
            in_str = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxJsonDepth) return i + 1;  // bytes read, as the parser counts
        } else if (c == '}' || c == ']') {
            if (depth) --depth;
        }
    }
    return s.size();
}


constexpr std::string_view kReasoningTags[] = {"think", "thinking", "reasoning"};

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The tag name of an opening reasoning tag at lower[i] ("<think>"), or empty.
std::string_view opening_tag_at(const std::string& lower, std::size_t i) {
    for (std::string_view tag : kReasoningTags) {
        if (i + tag.size() + 2 > lower.size() || lower[i] != '<') continue;
        if (lower.compare(i + 1, tag.size(), tag) == 0 && lower[i + 1 + tag.size()] == '>') return tag;
    }
    return {};
}

}  // namespace

bool is_unicode_space(uint32_t cp) {
    if (cp < 0x80) return (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x20);
    switch (cp) {
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

std::optional<Span> find_fenced_object(std::string_view s) {
    // Greedy .* : the group ends at the last "}" followed by white space and a fence.
    std::size_t last_close = npos;
    for (std::size_t end = s.size(); end > 0;) {
        const void* hit = memrchr(s.data(), '}', end);
        if (!hit) break;
        const std::size_t c = static_cast<std::size_t>(static_cast<const char*>(hit) - s.data());
        if (has_fence_at(s, skip_space(s, c + 1))) {
            last_close = c;
            break;
        }
        end = c;
    }
    if (last_close == npos) return std::nullopt;
    // Leftmost fence whose opening reaches a "{" before that close.
    for (std::size_t p = s.find("```"); p != npos && p < last_close; p = s.find("```", p + 1)) {
        std::size_t q = p + 3;
        if (s.substr(q, 4) == "json") {
            const std::size_t o = skip_space(s, q + 4);
            if (o < last_close && s[o] == '{') return Span{o, last_close + 1};
            // Without the optional tag the next character is "j", which cannot match.
            continue;
        }
        const std::size_t o = skip_space(s, q);
        if (o < last_close && s[o] == '{') return Span{o, last_close + 1};
    }
    return std::nullopt;
}

std::optional<Span> find_balanced_object(std::string_view s) {
    const std::size_t start = s.find('{');
    if (start == npos) return std::nullopt;
    // Byte scan that skips 8-byte words holding no brace at all (long prose goes fast,
    // dense braces cost one step per byte).
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
    auto has_byte = [&](uint64_t w, uint64_t pat) {
        const uint64_t x = w ^ pat;
        return ((x - kOnes) & ~x & kHighs) != 0;
    };
    std::size_t depth = 0;
    std::size_t i = start;
    const std::size_t n = s.size();
    while (i < n) {
        if (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, s.data() + i, 8);
            if (!has_byte(w, kOnes * '{') && !has_byte(w, kOnes * '}')) {
                i += 8;
                continue;
            }
        }
        const std::size_t block_end = std::min(n, i + 8);
        for (; i < block_end; ++i) {
            if (s[i] == '{') {
                ++depth;
            } else if (s[i] == '}') {
                // depth > 0 here: the scan starts at the first "{" and ends once it balances.
                if (--depth == 0) return Span{start, i + 1};
            }
        }
    }
    return std::nullopt;
}

std::optional<Span> extract_json_span(std::string_view text) {
    if (auto f = find_fenced_object(text)) return f;
    return find_balanced_object(text);
}

std::optional<JsonError> parse_json_strict(std::string_view text, JsonSink& sink) {
    // A byte-order mark is not JSON white space.
    if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
        return JsonError{"Unexpected UTF-8 BOM (decode using utf-8-sig)", 0};
    SaxAdapter sax(sink);
    const bool ok = nlohmann::json::sax_parse(text.begin(), text.end(), &sax,
                                              nlohmann::json::input_format_t::json,
                                              /*strict=*/true, /*ignore_comments=*/false);
    if (ok) return std::nullopt;
    if (sax.too_deep_)
        return JsonError{"nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels",
                         depth_violation_pos(text)};
    if (sax.error_) return sax.error_;
    return JsonError{"", 0};
}

std::size_t code_point_index(std::string_view text, std::size_t byte_pos) {
    if (byte_pos > text.size()) byte_pos = text.size();
    std::size_t n = 0;
    for (std::size_t i = 0; i < byte_pos; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++n;
    return n;
}

std::optional<std::string_view> match_unsupported_parameter(std::string_view msg) {
    for (std::size_t p = 0; p < msg.size(); ++p) {
        const std::size_t e = match_literal_ci(msg, p, "unsupported parameter:");
        if (e == npos) continue;
        std::string_view group;
        std::size_t end = 0;
        const Quoted q = match_quoted_group(msg, e, group, end);
        if (q == Quoted::kMatch) return group;
        if (q == Quoted::kNoCloseQuote) break;
    }
    return std::nullopt;
}

std::optional<std::string_view> match_parameter_not_supported(std::string_view msg) {
    for (std::size_t p = 0; p < msg.size(); ++p) {
        const std::size_t e = match_literal_ci(msg, p, "parameter");
        if (e == npos) continue;
        std::string_view group;
        std::size_t end = 0;
        const Quoted q = match_quoted_group(msg, e, group, end);
        if (q == Quoted::kNoCloseQuote) break;
        if (q == Quoted::kNoMatch) continue;
        if (match_literal_ci(msg, skip_space(msg, end), "is not supported") != npos) return group;
    }
    return std::nullopt;
}

Span strip_reasoning(std::string_view text) {
    const std::string lower = ascii_lower(text);
    std::size_t begin = 0;
    // A closing tag with no opening tag before it: the server dropped the opening one.
    std::size_t first_close = npos, close_len = 0;
    for (std::string_view tag : kReasoningTags) {
        const std::string close = "</" + std::string(tag) + ">";
        const std::size_t at = lower.find(close);
        if (at != npos && at < first_close && lower.rfind("<" + std::string(tag) + ">", at) == npos) {
            first_close = at;
            close_len = close.size();
        }
    }
    if (first_close != npos && lower.find('{') > first_close) begin = first_close + close_len;
    for (;;) {
        const std::size_t i = skip_space(text, begin);
        const std::string_view tag = opening_tag_at(lower, i);
        if (tag.empty()) break;
        const std::string close = "</" + std::string(tag) + ">";
        const std::size_t at = lower.find(close, i + tag.size() + 2);
        if (at == npos) return {text.size(), text.size()};  // cut off inside the block
        begin = at + close.size();
    }
    return {begin, text.size()};
}

}  // namespace genloom::core
