// A record of an example tree as last scanned (no Python here): each folder's entries and
// each description file's identity and text digest. A later scan trusts a recorded folder
// or file whose identity is unchanged, so a warm ranking stats entries instead of listing
// folders and reading files.
//
// An identity is only trusted when it was settled when recorded: its modification and
// status-change times lay at least a margin before the scan began. A change made after
// that scan then always gets later times, even on file systems whose timestamps are
// coarse (whole seconds, or two) and for rewrites that keep the size; the status-change
// time also catches a rewrite whose modification time was put back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nearscan/core/scan.hpp"

namespace nearscan {

// What stat says of an entry that changes whenever its content or listing may have.
struct FileStamp {
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtime_ns = 0, ctime_ns = 0;
    bool operator==(const FileStamp&) const = default;
};

struct TreeIndex {
    struct Folder {
        FileStamp stamp;
        bool settled = false;
        FolderEntries entries;  // `regular` is not kept: every candidate is stat'ed
    };
    struct File {
        FileStamp stamp;
        bool settled = false;
        bool empty = false;  // the text is empty or white space: not a description
        Digest digest{};
    };
    std::string scope;      // the tree's real path
    uint64_t max_chars = 0; // the text cap the digests were taken with
    std::unordered_map<std::string, Folder> folders;  // by path below the root, "" for the root
    std::unordered_map<std::string, File> files;
};

// The index stored at path for this tree and cap; nullopt when the file is missing,
// damaged, or of another format, tree or cap.
std::optional<TreeIndex> read_index(const std::string& path, std::string_view scope, std::size_t max_chars);
// Replaces the file at path atomically; false when it cannot be written.
bool write_index(const std::string& path, const TreeIndex& index);

// How much older than the scan a recorded time must be to be trusted later: above the
// coarsest timestamp granularity in common use (two seconds).
constexpr int64_t kSettleMarginNs = 3'000'000'000;

struct TreeScan {
    Corpus corpus;
    TreeIndex index;              // scope and max_chars left for the caller
    bool changed = false;         // the index differs from the previous one
    std::size_t folders_listed = 0, files_read = 0;
};

// The corpus read_corpus gives, reusing the previous index (may be null) wherever it can be
// trusted: listings of unchanged folders are reused, and unchanged files are left unread
// with their recorded digests. The previous index is consumed (its listings are moved
// into the new one). now_ns is the wall-clock time before the scan starts.
TreeScan scan_tree(const std::string& root, std::size_t max_chars, TreeIndex* previous, int64_t now_ns,
                   int64_t margin_ns = kSettleMarginNs);

// read_corpus through the index file at index_path for the tree whose real path is scope:
// reads the index, scans, and writes the index back when it changed (best effort).
Corpus read_corpus_indexed(const std::string& root, std::size_t max_chars, const std::string& index_path,
                           const std::string& scope);

}  // namespace nearscan
