// File helpers of few-shot gathering (no Python here). Paths are byte strings in the
// file-system encoding.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace genloom::fewshot {

// Whole file as UTF-8 with undecodable bytes dropped and newlines normalised, cut to
// max_chars code points, then stripped of Unicode white space. "" when unreadable.
std::string safe_read_text(const std::string& path, std::size_t max_chars);

// The file name without its last suffix (a "." that is neither first nor last).
std::string stem_of(std::string_view name);

// Names (within folder) of the model and data files that belong to a description with
// the given stem: stem.mod / stem.dat when they are regular files, otherwise the first
// "*.mod" / "*.dat" entry of the folder by name; absent when that does not exist.
struct PairNames {
    std::optional<std::string> model, data;
};
PairNames find_pair_names(const std::string& folder, std::string_view stem);

}  // namespace genloom::fewshot
