// Reply-text scanning for genloom: cutting the JSON object out of an LLM reply,
// strict JSON parsing into a caller-supplied sink, and the error-text rules that
// name an unsupported request parameter. All scans are linear in the input and
// non-recursive; input is UTF-8 (lone surrogates in 3-byte form are tolerated).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace genloom::core {

// Byte span [begin, end) of a text.
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Leftmost match of  ```(?:json)?\s*(\{.*\})\s*```  (dot matches newlines, \s is
// Unicode white space): the span of group 1, or nullopt without a match.
std::optional<Span> find_fenced_object(std::string_view text);

// From the first "{", the shortest brace-balanced span (braces counted blindly);
// nullopt when there is no "{" or the braces never balance.
std::optional<Span> find_balanced_object(std::string_view text);

// The JSON object text of a reply: the fenced match, else the balanced span,
// else nullopt, meaning "the whole text".
std::optional<Span> extract_json_span(std::string_view text);

// What is left of a reply once reasoning blocks are removed: <think>, <thinking> and <reasoning>
// blocks (tags in any case) at its start, one whose closing tag is missing because the reply was
// cut off (nothing is left), and the reasoning before a closing tag whose opening tag the server
// dropped. A reply without them is returned whole.
Span strip_reasoning(std::string_view text);

// Unicode white space as the host's str.isspace() sees it.
bool is_unicode_space(uint32_t cp);

// Receiver of strict JSON parse events. Every method returns false to stop.
class JsonSink {
public:
    virtual ~JsonSink() = default;
    virtual bool null_value() = 0;
    virtual bool boolean(bool v) = 0;
    virtual bool integer(int64_t v) = 0;
    virtual bool unsigned_integer(uint64_t v) = 0;
    // An integer too large for 64 bits, as its decimal token text.
    virtual bool big_integer(std::string_view digits) = 0;
    virtual bool floating(double v) = 0;
    virtual bool string(std::string_view utf8) = 0;
    virtual bool start_object() = 0;
    virtual bool key(std::string_view utf8) = 0;
    virtual bool end_object() = 0;
    virtual bool start_array() = 0;
    virtual bool end_array() = 0;
};

struct JsonError {
    std::string message;     // the parser's message, without position prefix
    std::size_t byte_pos = 0;  // byte offset at which the error was seen
};

// Deepest nesting accepted by parse_json_strict.
constexpr std::size_t kMaxJsonDepth = 10000;

// Strict RFC 8259 parse of one JSON text (white space around the value allowed).
// Returns nullopt on success, the error otherwise. A sink that returns false
// yields an error with an empty message.
std::optional<JsonError> parse_json_strict(std::string_view text, JsonSink& sink);

// Code-point index of a byte offset into UTF-8 text (counts lead bytes before it).
std::size_t code_point_index(std::string_view text, std::size_t byte_pos);

// First match of  unsupported parameter:\s*'([^']+)'  (ignoring case): group 1.
std::optional<std::string_view> match_unsupported_parameter(std::string_view msg);

// First match of  parameter\s*'([^']+)'\s*is not supported  (ignoring case): group 1.
std::optional<std::string_view> match_parameter_not_supported(std::string_view msg);

}  // namespace genloom::core
