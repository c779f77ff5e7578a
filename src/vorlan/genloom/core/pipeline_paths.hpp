// Path helpers of the generate-and-repair loop: the directory part of an output path and
// the name of the temporary file that is renamed over it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace genloom::core {

// Everything before the last path separator ("" for a bare file name). On POSIX only '/'
// separates; a leading "/" alone is kept so "/x.mod" yields "/".
std::string dir_part(std::string_view path);

// Base name of the path (after the last separator).
std::string base_part(std::string_view path);

// Path of a hidden temporary file in the same directory as `path`, made unique by `token`:
// "dir/.name.<token>.tmp".
std::string temp_sibling(std::string_view path, std::uint64_t token);

}  // namespace genloom::core
