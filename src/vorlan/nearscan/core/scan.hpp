// Description files of an example tree: finding, reading and ranking bookkeeping
// (no Python here). Paths are byte strings in the file-system encoding.
#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "nearscan/core/sha256.hpp"

namespace nearscan {

// Paths below root (relative, "/"-separated) of every "*.txt" entry that is a regular
// file or a link to one, at any depth. Linked directories are not entered (no cycles);
// unreadable directories are skipped. Sorted component by component, byte order.
std::vector<std::string> find_descriptions(const std::string& root);

// The entries of one folder that a walk for descriptions looks at: its real subfolders
// (links are not followed) and the names ending in ".txt" that are not real folders, with
// whether readdir already reported each of those as a regular file (else it may be a link
// or of unknown kind, and only a stat that follows links tells). False when the folder
// cannot be opened.
struct FolderEntries {
    std::vector<std::string> folders, candidates;
    std::vector<bool> regular;
};
bool list_folder(const std::string& dir, FolderEntries& out);

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
// A scan through the tree index (tree_index.hpp) leaves the texts of unchanged files
// unread: `unread` marks them, and text_of reads one when it is needed.
struct Corpus {
    std::vector<std::string> paths, texts;
    std::vector<Digest> digests;
    std::vector<bool> unread;  // empty, or one flag per entry
    std::size_t max_chars = 0;
};
Corpus read_corpus(const std::string& root, std::size_t max_chars);

// The file changed after the scan recorded its digest: the corpus no longer describes the
// tree, and the caller reads it afresh.
struct StaleCorpus : std::runtime_error {
    StaleCorpus() : std::runtime_error("a description file changed while it was being ranked") {}
};

// The text of entry i, read now when the scan left it unread; StaleCorpus when the file
// no longer holds the text the recorded digest belongs to.
const std::string& text_of(Corpus& c, std::size_t i);

// Cosine score of each row against the query (all unit length): the dot product summed
// in double and rounded to float, the precision the embeddings carry.
std::vector<double> cosine_scores(const std::vector<const float*>& rows, const float* query, std::size_t dim);

}  // namespace nearscan
