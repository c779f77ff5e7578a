#include "genloom/core/fewshot.hpp"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "common/text.hpp"
#include "genloom/core/resources.hpp"

namespace genloom::fewshot {

namespace t = vorlan::text;

std::string safe_read_text(const std::string& path, std::size_t max_chars) {
    auto bytes = t::read_file_bytes(path);
    if (!bytes) return {};
    std::string text = t::normalize_newlines(t::drop_invalid_utf8(*bytes));
    return std::string(t::strip_unicode_space(t::prefix_code_points(text, max_chars)));
}

std::string stem_of(std::string_view name) {
    auto dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && dot + 1 < name.size()) return std::string(name.substr(0, dot));
    return std::string(name);
}

namespace {
bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Entries of folder (any kind) whose name ends in suffix, sorted by name.
std::vector<std::string> entries_ending(const std::string& folder, std::string_view suffix) {
    std::vector<std::string> out;
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        if (ends_with(name, suffix)) out.emplace_back(name);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<std::string> pick(const std::string& folder, std::string_view stem, std::string_view suffix) {
    std::optional<std::string> name = std::string(stem) + std::string(suffix);
    if (!is_regular_file(resources::join(folder, *name))) {
        auto candidates = entries_ending(folder, suffix);
        name = candidates.empty() ? std::nullopt : std::optional<std::string>(candidates.front());
    }
    if (name && !exists(resources::join(folder, *name))) name.reset();
    return name;
}
}  // namespace

PairNames find_pair_names(const std::string& folder, std::string_view stem) {
    return {pick(folder, stem, ".mod"), pick(folder, stem, ".dat")};
}

}  // namespace genloom::fewshot
