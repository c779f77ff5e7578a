#include "nearscan/core/tree_index.hpp"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "nearscan/core/cache_file.hpp"

namespace nearscan {

namespace cf = cache_file;

// File form, native byte order:
//   "VORLIDX1"  u32 0x01020304  u64 max_chars  text scope
//   u64 folder count, each: text path, stamp, u8 settled,
//       u32 count + texts (subfolders), u32 count + texts (candidates)
//   u64 file count, each: text path, stamp, u8 flags (1 settled, 2 empty), 32-byte digest
//   u64 checksum of everything before it
// where a stamp is u64 dev, ino, size and i64 mtime, ctime (nanoseconds) and a text is
// u32 length + bytes.
namespace {
constexpr std::string_view kMagic("VORLIDX1", 8);
constexpr uint32_t kByteOrder = 0x01020304;
constexpr std::size_t kStampBytes = 5 * 8;

int64_t ns_of(const struct timespec& t) { return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

FileStamp stamp_of(const struct stat& st) {
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size), ns_of(st.st_mtim), ns_of(st.st_ctim)};
}

void put_stamp(std::string& out, const FileStamp& s) {
    for (uint64_t v : {s.dev, s.ino, s.size}) cf::put_raw(out, v);
    for (int64_t v : {s.mtime_ns, s.ctime_ns}) cf::put_raw(out, v);
}

FileStamp get_stamp(cf::Reader& r) {
    FileStamp s;
    s.dev = r.raw<uint64_t>();
    s.ino = r.raw<uint64_t>();
    s.size = r.raw<uint64_t>();
    s.mtime_ns = r.raw<int64_t>();
    s.ctime_ns = r.raw<int64_t>();
    return s;
}

void put_names(std::string& out, const std::vector<std::string>& names) {
    cf::put_raw(out, static_cast<uint32_t>(names.size()));
    for (const auto& n : names) cf::put_text(out, n);
}

bool get_names(cf::Reader& r, std::vector<std::string>& names) {
    uint32_t n = r.raw<uint32_t>();
    if (!r.ok || n > (r.s.size() - r.pos) / 4) return false;
    names.reserve(n);
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        std::string_view name = r.text();
        // An entry name, never a path: nothing recorded may lead the walk out of its folder.
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) return false;
        names.emplace_back(name);
    }
    return r.ok;
}

std::string child_path(const std::string& rel, const std::string& name) { return rel.empty() ? name : rel + "/" + name; }

class Scanner {
public:
    Scanner(TreeIndex* previous, int64_t now_ns, int64_t margin_ns, TreeScan& out)
        : prev_(previous), settle_before_(now_ns - margin_ns), out_(out) {}
    ~Scanner() {
        if (root_fd_ >= 0) ::close(root_fd_);
    }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Records the tree below root (reached through links) and what is below it.
    void tree(const std::string& root) {
        root_fd_ = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root_fd_ < 0) return;
        folder(root, "");
    }

    // Records the folder at full (rel below the root; subfolders are real folders only)
    // and what is below it. Entries are stat'ed relative to the open root, which spares
    // the kernel the walk along the root's own path.
    void folder(const std::string& full, const std::string& rel) {
        struct stat st {};
        bool found = rel.empty() ? ::fstat(root_fd_, &st) == 0
                                 : ::fstatat(root_fd_, rel.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!found || !S_ISDIR(st.st_mode)) return;
        TreeIndex::Folder rec;
        rec.stamp = stamp_of(st);
        TreeIndex::Folder* old = find(prev_ ? &prev_->folders : nullptr, rel);
        if (old && old->settled && old->stamp == rec.stamp) {
            // The previous index is this scan's to consume: its listings move over.
            rec.settled = true;
            rec.entries.folders = std::move(old->entries.folders);
            rec.entries.candidates = std::move(old->entries.candidates);
        } else {
            if (!list_folder(full, rec.entries)) return;  // unreadable: left out, tried again next time
            rec.entries.regular.clear();
            rec.settled = settled(st);
            out_.changed = true;
            ++out_.folders_listed;
        }
        std::string child;
        for (const auto& name : rec.entries.candidates) {
            child = child_path(rel, name);
            struct stat fst {};
            if (::fstatat(root_fd_, child.c_str(), &fst, 0) == 0 && S_ISREG(fst.st_mode))
                found_.push_back({std::move(child), fst});
        }
        // References to map elements outlive the rehashing that later insertions cause.
        const std::vector<std::string>& subfolders =
            out_.index.folders.emplace(rel, std::move(rec)).first->second.entries.folders;
        for (std::size_t i = 0; i < subfolders.size(); ++i)
            folder(full + "/" + subfolders[i], child_path(rel, subfolders[i]));
    }

    // Turns the descriptions found into the corpus, in path order, reading only the files
    // the previous index cannot vouch for.
    void files(const std::string& root, std::size_t max_chars) {
        std::sort(found_.begin(), found_.end(), [](const Found& a, const Found& b) { return path_less(a.rel, b.rel); });
        Corpus& c = out_.corpus;
        c.max_chars = max_chars;
        for (const auto& f : found_) {
            TreeIndex::File rec;
            rec.stamp = stamp_of(f.st);
            std::string path = join_path(root, f.rel);
            std::string text;
            const TreeIndex::File* old = find(prev_ ? &prev_->files : nullptr, f.rel);
            bool trusted = old && old->settled && old->stamp == rec.stamp;
            if (trusted) {
                rec = *old;
            } else {
                text = read_capped(path, max_chars);
                rec.settled = settled(f.st);
                rec.empty = text.empty();
                if (!rec.empty) rec.digest = sha256(text);
                out_.changed = true;
                ++out_.files_read;
            }
            if (!rec.empty) {
                c.paths.push_back(std::move(path));
                c.texts.push_back(std::move(text));
                c.digests.push_back(rec.digest);
                c.unread.push_back(trusted);
            }
            out_.index.files.emplace(f.rel, rec);
        }
        // Entries gone since the previous scan: the index shrank.
        if (!prev_ || prev_->files.size() != out_.index.files.size() ||
            prev_->folders.size() != out_.index.folders.size())
            out_.changed = true;
    }

private:
    struct Found {
        std::string rel;
        struct stat st;
    };

    template <class Map>
    static typename Map::mapped_type* find(Map* m, const std::string& key) {
        if (!m) return nullptr;
        auto it = m->find(key);
        return it == m->end() ? nullptr : &it->second;
    }

    bool settled(const struct stat& st) const {
        return std::max(ns_of(st.st_mtim), ns_of(st.st_ctim)) < settle_before_;
    }

    TreeIndex* prev_;
    int64_t settle_before_;
    int root_fd_ = -1;
    TreeScan& out_;
    std::vector<Found> found_;
};

int64_t wall_clock_ns() {
    struct timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return ns_of(t);
}
}  // namespace

std::optional<TreeIndex> read_index(const std::string& path, std::string_view scope, std::size_t max_chars) {
    std::optional<cf::FileBytes> bytes = cf::read_whole(path);
    std::string_view body;
    if (!bytes || !cf::checked_body(bytes->view(), kMagic, body)) return std::nullopt;
    cf::Reader r{body, kMagic.size()};
    TreeIndex index;
    uint32_t order = r.raw<uint32_t>();
    index.max_chars = r.raw<uint64_t>();
    index.scope = std::string(r.text());
    if (!r.ok || order != kByteOrder || index.max_chars != max_chars || index.scope != scope) return std::nullopt;

    uint64_t folders = r.raw<uint64_t>();
    if (!r.ok || folders > (body.size() - r.pos) / (4 + kStampBytes + 9)) return std::nullopt;
    index.folders.reserve(folders);
    for (uint64_t i = 0; i < folders && r.ok; ++i) {
        std::string rel(r.text());
        TreeIndex::Folder f;
        f.stamp = get_stamp(r);
        f.settled = r.raw<uint8_t>() == 1;
        if (!get_names(r, f.entries.folders) || !get_names(r, f.entries.candidates)) return std::nullopt;
        index.folders.emplace(std::move(rel), std::move(f));
    }
    uint64_t files = r.ok ? r.raw<uint64_t>() : 0;
    if (!r.ok || files > (body.size() - r.pos) / (4 + kStampBytes + 1 + sizeof(Digest))) return std::nullopt;
    index.files.reserve(files);
    for (uint64_t i = 0; i < files && r.ok; ++i) {
        std::string rel(r.text());
        TreeIndex::File f;
        f.stamp = get_stamp(r);
        uint8_t flags = r.raw<uint8_t>();
        f.settled = flags & 1;
        f.empty = flags & 2;
        std::string_view d = r.bytes(sizeof(Digest));
        if (r.ok) std::copy(d.begin(), d.end(), f.digest.begin());
        index.files.emplace(std::move(rel), f);
    }
    if (!r.ok || r.pos != body.size()) return std::nullopt;
    return index;
}

bool write_index(const std::string& path, const TreeIndex& index) {
    if (index.scope.size() > cf::kMaxText) return false;
    std::string out(kMagic);
    cf::put_raw(out, kByteOrder);
    cf::put_raw(out, static_cast<uint64_t>(index.max_chars));
    cf::put_text(out, index.scope);
    cf::put_raw(out, static_cast<uint64_t>(index.folders.size()));
    for (const auto& [rel, f] : index.folders) {
        if (rel.size() > cf::kMaxText) return false;
        cf::put_text(out, rel);
        put_stamp(out, f.stamp);
        cf::put_raw(out, static_cast<uint8_t>(f.settled ? 1 : 0));
        put_names(out, f.entries.folders);
        put_names(out, f.entries.candidates);
    }
    cf::put_raw(out, static_cast<uint64_t>(index.files.size()));
    for (const auto& [rel, f] : index.files) {
        if (rel.size() > cf::kMaxText) return false;
        cf::put_text(out, rel);
        put_stamp(out, f.stamp);
        cf::put_raw(out, static_cast<uint8_t>((f.settled ? 1 : 0) | (f.empty ? 2 : 0)));
        out.append(reinterpret_cast<const char*>(f.digest.data()), f.digest.size());
    }
    cf::seal(out);
    return cf::write_atomic(path, out);
}

TreeScan scan_tree(const std::string& root, std::size_t max_chars, TreeIndex* previous, int64_t now_ns,
                   int64_t margin_ns) {
    TreeScan out;
    Scanner scanner(previous, now_ns, margin_ns, out);
    scanner.tree(root);
    scanner.files(root, max_chars);
    return out;
}

Corpus read_corpus_indexed(const std::string& root, std::size_t max_chars, const std::string& index_path,
                           const std::string& scope) {
    if (index_path.empty()) return read_corpus(root, max_chars);
    std::optional<TreeIndex> previous = read_index(index_path, scope, max_chars);
    TreeScan scan = scan_tree(root, max_chars, previous ? &*previous : nullptr, wall_clock_ns());
    if (scan.changed) {
        scan.index.scope = scope;
        scan.index.max_chars = max_chars;
        write_index(index_path, scan.index);  // best effort: without it the next call reads every file
    }
    return std::move(scan.corpus);
}

}  // namespace nearscan
