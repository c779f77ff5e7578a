// Grammar reference files: their locations relative to the module file and strict
// text reading (no Python here). Paths are byte strings in the file-system encoding.
#pragma once
#include <string>
#include <string_view>

namespace genloom::resources {

// Directory part of a path text, the way the host's os.path.dirname forms it:
// everything before the last "/", trailing slashes removed unless only slashes remain.
std::string dirname(std::string_view path);

// Joins one component to a path text the way os.path.join does for a relative component.
std::string join(std::string_view base, std::string_view component);

// Locations derived from the module file's path.
std::string grammar_markdown_path(std::string_view module_file);  // <parent>/docs/grammars/Vorlan grammar.md
std::string grammar_gbnf_path(std::string_view module_file);      // <parent>/docs/grammars/Vorlan_GBNF
std::string data_gbnf_path(std::string_view module_file);         // <parent>/docs/grammars/Vorlan_data_GBNF
std::string compiler_source_path(std::string_view module_file);   // <module dir>/vorlan_core.cpp

struct StrictText {
    enum class Status { ok, os_error, invalid_utf8 } status = Status::ok;
    std::string text;   // ok: UTF-8 content with newlines normalised
    std::string bytes;  // invalid_utf8: the raw content, for the decoding error
    int error = 0;      // os_error: errno of the failed open or read
};

// Whole file as strict UTF-8 text, CR LF and lone CR turned into "\n".
StrictText read_text_strict(const std::string& path);

}  // namespace genloom::resources
