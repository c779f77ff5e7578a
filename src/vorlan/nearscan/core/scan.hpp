// Description files of an example tree: finding, reading and ranking bookkeeping
// (no Python here). Paths are byte strings in the file-system encoding.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "nearscan/core/sha256.hpp"

namespace nearscan {

// Paths below root (relative, "/"-separated) of every "*.txt" entry that is a regular
// file or a link to one, at any depth. Linked directories are not entered (no cycles);
// unreadable directories are skipped. Sorted component by component, byte order.
std::vector<std::string> find_descriptions(const std::string& root);

// Component-wise path order: "a/b" < "a-b" because "a" < "a-b".
bool path_less(std::string_view a, std::string_view b);

// root joined with a relative path the way the host's pathlib does ("." drops out).
std::string join_path(std::string_view root, std::string_view rel);

// File text as UTF-8 with undecodable bytes dropped and newlines normalised; reads only
// until more than max_chars characters are decoded, keeps the first max_chars, strips
// Unicode white space. "" when the file cannot be opened or read.
std::string read_capped(const std::string& path, std::size_t max_chars);

// First 300 characters with each "\n" replaced by " ".
std::string preview(std::string_view text);
constexpr std::size_t kPreviewChars = 300;

// Text safe to show on a terminal: each code point the host does not count as printable,
// and each byte that is not valid UTF-8, written as \xhh, \uhhhh or \Uhhhhhhhh.
std::string printable(std::string_view text);

// Indices of scores, best first; equal scores keep index order and NaN goes last.
// top_k > 0 keeps that many at most; otherwise all.
std::vector<std::size_t> rank_order(const std::vector<double>& scores, long long top_k);

// Incremental UTF-8 decoding with undecodable bytes dropped and CR LF / lone CR turned
// into "\n", for reading a file in chunks.
class LenientDecoder {
public:
    // Appends the decoded text of the chunk to out; final flushes held-back bytes.
    void feed(std::string_view chunk, bool final, std::string& out);

private:
    std::string held_;     // trailing bytes of an unfinished multi-byte sequence
    bool after_cr_ = false;  // the last emitted character came from a CR
};

// The non-empty descriptions below a tree, in find_descriptions order: each path (root
// joined with the relative path), its text as read_capped gives it, and that text's SHA-256.
struct Corpus {
    std::vector<std::string> paths, texts;
    std::vector<Digest> digests;
};
Corpus read_corpus(const std::string& root, std::size_t max_chars);

// Cosine score of each row against the query (all unit length): the dot product summed
// in double and rounded to float, the precision the embeddings carry.
std::vector<double> cosine_scores(const std::vector<const float*>& rows, const float* query, std::size_t dim);

}  // namespace nearscan
