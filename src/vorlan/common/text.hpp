// UTF-8 text helpers shared by the modules (no Python here).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlan::text {

// Decode one code point at s[i], surrogates accepted (the host's strings may hold
// them); returns its byte length, or 0 when no valid sequence starts there.
std::size_t decode_at(std::string_view s, std::size_t i, uint32_t& cp);

// Drop every byte sequence that is not valid UTF-8 (overlongs, surrogates and
// code points above U+10FFFF included).
std::string drop_invalid_utf8(std::string_view bytes);

// True when the bytes are valid UTF-8.
bool is_valid_utf8(std::string_view bytes);

// CR LF and a lone CR each become "\n".
std::string normalize_newlines(std::string_view s);

// s with every ASCII control byte written as an escape (\n, \t, \r, \xHH), so text quoted
// in a one-line message stays on one line.
std::string escape_controls(std::string_view s);

// Number of code points of valid UTF-8 text.
std::size_t count_code_points(std::string_view s);

// The first n code points of valid UTF-8 text (all of it when shorter).
std::string_view prefix_code_points(std::string_view s, std::size_t n);

// Remove leading and trailing Unicode white space (as the host's str.strip() does).
std::string_view strip_unicode_space(std::string_view s);

// Whole file as bytes; nullopt when it cannot be opened or read.
std::optional<std::string> read_file_bytes(const std::string& path);

}  // namespace vorlan::text
