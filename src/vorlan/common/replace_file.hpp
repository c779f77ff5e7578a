// Writing a file so that a failure never leaves a truncated file where a good one was.
#pragma once
#include <filesystem>
#include <functional>
#include <ostream>

namespace vorlan::files {

// Writes `body` to a hidden temporary file beside `path` and renames it over `path` once it is
// complete (a replaced file keeps its permission bits). On failure the temporary file is
// removed, `path` is untouched, and std::runtime_error names `path`.
void write_replacing(const std::filesystem::path& path, const std::function<void(std::ostream&)>& body);

}  // namespace vorlan::files
