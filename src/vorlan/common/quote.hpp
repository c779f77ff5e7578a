// Quoted and list text forms of UTF-8 text, written the way the host runtime
// writes the repr of a str and of a list of str (no Python here).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlan::text {

// True when the host counts the code point as printable (str.isprintable()).
bool is_printable(uint32_t cp);

// The quoted form of one text: single quotes, or double quotes when the text holds
// a single quote and no double quote; backslash, the enclosing quote, tab, line feed
// and carriage return escaped; other non-printable code points as \xhh, \uhhhh or
// \Uhhhhhhhh. Input is UTF-8; lone surrogates encoded as 3-byte sequences (the
// "surrogatepass" form) are escaped as \udxxx like the host does. A byte that is
// not part of a valid sequence is written as \xhh of that byte.
std::string quote_text(std::string_view s);

// "[" + quoted items joined by ", " + "]"; "[]" for an empty list.
std::string list_text(const std::vector<std::string>& items);

}  // namespace vorlan::text
