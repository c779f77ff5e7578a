#include "genloom/core/pipeline_paths.hpp"

#include <cstdio>

namespace genloom::core {

namespace {
std::size_t last_sep(std::string_view path) { return path.rfind('/'); }
}  // namespace

std::string dir_part(std::string_view path) {
    std::size_t i = last_sep(path);
    if (i == std::string_view::npos) return {};
    if (i == 0) return "/";
    return std::string(path.substr(0, i));
}

std::string base_part(std::string_view path) {
    std::size_t i = last_sep(path);
    return std::string(i == std::string_view::npos ? path : path.substr(i + 1));
}

std::string temp_sibling(std::string_view path, std::uint64_t token) {
    std::size_t i = last_sep(path);
    std::string head = i == std::string_view::npos ? std::string() : std::string(path.substr(0, i + 1));
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(token));
    return head + "." + base_part(path) + "." + hex + ".tmp";
}

}  // namespace genloom::core
