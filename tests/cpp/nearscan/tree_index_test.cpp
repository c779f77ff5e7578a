#include "nearscan/core/tree_index.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../support/temp_dir.hpp"

namespace fsys = std::filesystem;
using namespace nearscan;

namespace {
constexpr std::size_t kCap = 100000;

int64_t now_ns() {
    struct timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Scans with every entry already settled (no margin), as a later call would see them.
TreeScan settled_scan(const TempDir& t, TreeIndex* prev) {
    return scan_tree(t.root.string(), kCap, prev, now_ns() + 1, 0);
}

// The corpus with every text read, for comparing with read_corpus.
std::vector<std::pair<std::string, std::string>> contents(Corpus c) {
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 0; i < c.paths.size(); ++i) {
        out.emplace_back(c.paths[i], text_of(c, i));
        EXPECT_EQ(c.digests[i], sha256(c.texts[i])) << c.paths[i];
    }
    return out;
}

void sample_tree(const TempDir& t) {
    t.write("a/ship.txt", "ship goods");
    t.write("a/ship.mod", "model");
    t.write("a-b/x.txt", "staff");
    t.write("a/deep/z.txt", "  cut rolls \r\n");
    t.write("blank/empty.txt", " \n ");
    t.write("B.txt", "diet");
    t.write("upper.TXT", "not a description");
    fsys::create_directories(t.root / "dir.txt");
    t.write("dir.txt/inner.txt", "inside a folder named like a description");
    fsys::create_symlink(t.root / "a/ship.txt", t.root / "link.txt");
    fsys::create_symlink(t.root / "a", t.root / "zlinked");  // linked folders are not entered
    fsys::create_symlink(t.root / "missing.txt", t.root / "dangling.txt");
}

// Sets a file's modification time back to what it was, as some tools do after a rewrite.
void keep_mtime(const std::string& path, const std::function<void()>& change) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    change();
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}
}  // namespace

TEST(TreeIndex, ScanFindsWhatReadCorpusFindsAndTrustsASettledIndex) {
    TempDir t("vorlan_tree_index");
    sample_tree(t);
    Corpus plain = read_corpus(t.root.string(), kCap);
    TreeScan first = settled_scan(t, nullptr);
    EXPECT_TRUE(first.changed);
    EXPECT_EQ(first.files_read, 7u);  // the empty one included, the dangling link not
    EXPECT_EQ(contents(first.corpus), contents(plain));

    TreeScan warm = settled_scan(t, &first.index);
    EXPECT_FALSE(warm.changed);
    EXPECT_EQ(warm.files_read + warm.folders_listed, 0u);
    EXPECT_EQ(warm.corpus.paths, plain.paths);
    EXPECT_EQ(warm.corpus.digests, plain.digests);
    EXPECT_EQ(warm.corpus.unread, std::vector<bool>(plain.paths.size(), true));
    EXPECT_EQ(contents(warm.corpus), contents(plain));  // texts read on demand

    // A root reached through a link is scanned like the folder itself.
    TempDir outside("vorlan_tree_link");
    fsys::create_directory_symlink(t.root, outside.root / "via");
    std::string via = (outside.root / "via").string();
    TreeScan linked = scan_tree(via, kCap, nullptr, now_ns() + 1, 0);
    EXPECT_EQ(contents(linked.corpus), contents(read_corpus(via, kCap)));
    EXPECT_EQ(linked.corpus.paths.size(), plain.paths.size());
}

// Every change to the tree is noticed by the next scan, which then equals a full read.
TEST(TreeIndex, EveryKindOfChangeIsNoticed) {
    const std::vector<std::pair<const char*, std::function<void(TempDir&)>>> changes = {
        {"same-size rewrite, modification time put back",
         [](TempDir& t) { keep_mtime((t.root / "a/ship.txt").string(), [&] { t.write("a/ship.txt", "SHIP GOODS"); }); }},
        {"appended", [](TempDir& t) { std::ofstream(t.root / "B.txt", std::ios::app) << " plan"; }},
        {"emptied", [](TempDir& t) { t.write("B.txt", ""); }},
        {"blank file filled", [](TempDir& t) { t.write("blank/empty.txt", "pack"); }},
        {"file added to a folder", [](TempDir& t) { t.write("a/deep/new.txt", "new"); }},
        {"folder added", [](TempDir& t) { t.write("c/d/e.txt", "nested"); }},
        {"file removed", [](TempDir& t) { fsys::remove(t.root / "a-b/x.txt"); }},
        {"folder removed", [](TempDir& t) { fsys::remove_all(t.root / "a/deep"); }},
        {"file renamed", [](TempDir& t) { fsys::rename(t.root / "B.txt", t.root / "C.txt"); }},
        {"file replaced by a rename", [](TempDir& t) {
             keep_mtime((t.root / "a/ship.txt").string(), [&] {
                 t.write("a/tmp", "SHIP GOODS");
                 fsys::rename(t.root / "a/tmp", t.root / "a/ship.txt");
             });
         }},
        {"link pointed elsewhere", [](TempDir& t) {
             fsys::remove(t.root / "link.txt");
             fsys::create_symlink(t.root / "B.txt", t.root / "link.txt");
         }},
        {"dangling link's target created", [](TempDir& t) { t.write("missing.txt", "appears"); }},
        {"link target changed", [](TempDir& t) { t.write("a/ship.txt", "ship many more goods"); }},
        {"folder link becomes a folder", [](TempDir& t) {
             fsys::remove(t.root / "zlinked");
             t.write("zlinked/q.txt", "entered now");
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        TempDir t("vorlan_tree_change");
        sample_tree(t);
        TreeScan before = settled_scan(t, nullptr);
        change(t);
        TreeScan after = settled_scan(t, &before.index);
        EXPECT_TRUE(after.changed);
        EXPECT_EQ(contents(after.corpus), contents(read_corpus(t.root.string(), kCap)));
        TreeScan again = settled_scan(t, &after.index);
        EXPECT_FALSE(again.changed);
        EXPECT_EQ(again.files_read, 0u);
    }
}

TEST(TreeIndex, EntriesChangedWithinTheMarginAreReadAgain) {
    TempDir t("vorlan_tree_recent");
    sample_tree(t);
    // Recorded right after being written: not settled, so never trusted, however equal
    // their stamps look later (a second write within one timestamp tick keeps them equal).
    TreeScan recent = scan_tree(t.root.string(), kCap, nullptr, now_ns(), kSettleMarginNs);
    TreeScan next = scan_tree(t.root.string(), kCap, &recent.index, now_ns(), kSettleMarginNs);
    EXPECT_EQ(next.files_read, recent.files_read);
    EXPECT_EQ(next.folders_listed, recent.folders_listed);
    EXPECT_TRUE(next.changed);
    // Once old enough they are recorded as settled and trusted from then on.
    TreeScan later = scan_tree(t.root.string(), kCap, &next.index, now_ns() + kSettleMarginNs + 1'000'000'000,
                               kSettleMarginNs);
    TreeScan last = scan_tree(t.root.string(), kCap, &later.index, now_ns(), kSettleMarginNs);
    EXPECT_EQ(last.files_read + last.folders_listed, 0u);
}

TEST(TreeIndex, TextOfAnUnreadFileThatChangedIsStale) {
    TempDir t("vorlan_tree_stale");
    sample_tree(t);
    TreeScan first = settled_scan(t, nullptr);
    TreeScan warm = settled_scan(t, &first.index);
    t.write("B.txt", "diet changed after the scan");
    std::size_t i = 0;
    while (warm.corpus.paths[i] != (t.root / "B.txt").string()) ++i;
    EXPECT_THROW(text_of(warm.corpus, i), StaleCorpus);
    std::size_t last = warm.corpus.paths.size() - 1;
    EXPECT_EQ(text_of(warm.corpus, last), read_capped(warm.corpus.paths[last], kCap));
}

TEST(TreeIndex, FileRoundTripAndRejections) {
    TempDir t("vorlan_tree_file");
    sample_tree(t);
    TreeScan scan = settled_scan(t, nullptr);
    scan.index.scope = t.root.string();
    scan.index.max_chars = kCap;
    TempDir cache("vorlan_tree_file_cache");
    std::string path = (cache.root / "x.idx").string();
    ASSERT_TRUE(write_index(path, scan.index));
    auto back = read_index(path, t.root.string(), kCap);
    ASSERT_TRUE(back);
    TreeScan warm = settled_scan(t, &*back);
    EXPECT_EQ(warm.files_read + warm.folders_listed, 0u);

    EXPECT_FALSE(read_index(path, t.root.string() + "/other", kCap));  // another tree
    EXPECT_FALSE(read_index(path, t.root.string(), kCap - 1));         // another cap
    std::ifstream in(path, std::ios::binary);
    std::string good((std::istreambuf_iterator<char>(in)), {});
    for (std::string bad : {std::string(), good.substr(0, good.size() - 1), good.substr(0, 40),
                            std::string("VORLIDX1") + std::string(40, '\0')}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
        EXPECT_FALSE(read_index(path, t.root.string(), kCap)) << bad.size();
    }
    std::string flipped = good;
    flipped[good.size() / 2] ^= 1;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << flipped;
    EXPECT_FALSE(read_index(path, t.root.string(), kCap));

    // A recorded name that is a path would lead the walk out of its folder: the file is refused.
    scan.index.folders[""].entries.folders.push_back("../elsewhere");
    ASSERT_TRUE(write_index(path, scan.index));
    EXPECT_FALSE(read_index(path, t.root.string(), kCap));
}

TEST(TreeIndex, IndexedReadWritesOnlyWhenSomethingChanged) {
    TempDir t("vorlan_tree_indexed");
    t.write("tree/a.txt", "ship");
    std::string tree = (t.root / "tree").string(), idx = (t.root / "cache/t.idx").string();
    Corpus c = read_corpus_indexed(tree, kCap, idx, tree);
    ASSERT_EQ(c.paths.size(), 1u);
    ASSERT_TRUE(fsys::exists(idx));
    EXPECT_EQ(read_corpus_indexed(tree, kCap, "", tree).digests, c.digests);  // no index file: a full read
    // An index that cannot be written only costs speed.
    fsys::remove(idx);
    fsys::create_directories(idx);
    EXPECT_EQ(read_corpus_indexed(tree, kCap, idx, tree).digests, c.digests);
}
