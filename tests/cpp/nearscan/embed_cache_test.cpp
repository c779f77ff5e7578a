#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/temp_dir.hpp"
#include "nearscan/core/embed_cache.hpp"
#include "nearscan/core/model_files.hpp"
#include "nearscan/core/scan.hpp"
#include "nearscan/core/sha256.hpp"

namespace fsys = std::filesystem;
using namespace nearscan;

namespace {
std::vector<float> unit(std::initializer_list<float> v) {
    std::vector<float> r(v);
    double n = 0;
    for (float x : r) n += double(x) * x;
    for (float& x : r) x = static_cast<float>(x / std::sqrt(n));
    return r;
}

EmbeddingTable table_of(const std::vector<std::pair<std::string, std::vector<float>>>& rows) {
    EmbeddingTable t(rows.front().second.size());
    for (const auto& [text, row] : rows) t.put(sha256(text), row.data());
    return t;
}

std::string bytes_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put_bytes(const std::string& path, const std::string& b) { std::ofstream(path, std::ios::binary) << b; }

struct EnvVar {
    std::string name;
    EnvVar(const char* n, const std::string& v) : name(n) { ::setenv(n, v.c_str(), 1); }
    ~EnvVar() { ::unsetenv(name.c_str()); }
};
}  // namespace

TEST(Sha256, KnownVectors) {
    EXPECT_EQ(hex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    std::string million(1000000, 'a');
    EXPECT_EQ(hex(sha256(million)), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Fed in uneven pieces, the digest is the same.
    Sha256 s;
    for (std::size_t i = 0; i < million.size(); i += 997) s.update(std::string_view(million).substr(i, 997));
    EXPECT_EQ(s.finish(), sha256(million));
    EXPECT_EQ(hex(sha256("abc"), 4), "ba7816bf");
}

TEST(EmbedStore, RoundTripOnlyForTheSameModelRevisionAndScope) {
    TempDir t("vorlan_emb");
    StoreId id{"org/model", "rev1", "/trees/a"};
    auto table = table_of({{"x", unit({1, 2, 2})}, {"y", unit({0, 0, 1})}, {"z", unit({3, 4, 0})}});
    std::string path = (t.root / "sub/dir/a.emb").string();
    ASSERT_TRUE(write_table(path, id, table));
    auto back = read_table(path, id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dim(), 3u);
    EXPECT_EQ(back->size(), 3u);
    for (const char* text : {"x", "y", "z"})
        EXPECT_EQ(std::vector<float>(back->find(sha256(text)), back->find(sha256(text)) + 3),
                  std::vector<float>(table.find(sha256(text)), table.find(sha256(text)) + 3));
    EXPECT_EQ(back->find(sha256("w")), nullptr);
    for (StoreId other : {StoreId{"org/other", "rev1", "/trees/a"}, StoreId{"org/model", "rev2", "/trees/a"},
                          StoreId{"org/model", "", "/trees/a"}, StoreId{"org/model", "rev1", "/trees/b"}})
        EXPECT_FALSE(read_table(path, other)) << other.model << " " << other.revision << " " << other.scope;
    // No temporary file is left beside the result.
    EXPECT_EQ(std::distance(fsys::directory_iterator(t.root / "sub/dir"), fsys::directory_iterator{}), 1);
}

TEST(EmbedStore, DamagedFilesAreNeverRead) {
    TempDir t("vorlan_emb");
    StoreId id{"m", "", ""};
    std::string path = (t.root / "a.emb").string();
    ASSERT_TRUE(write_table(path, id, table_of({{"x", unit({1, 0})}, {"y", unit({1, 1})}})));
    const std::string good = bytes_of(path);
    ASSERT_TRUE(read_table(path, id));
    std::vector<std::string> bad{
        "",
        good.substr(0, good.size() - 1),  // truncated
        good.substr(0, 20),
        good + "x",                        // trailing bytes
        std::string("not an embedding file at all, just text"),
    };
    for (std::size_t i : {0ul, 8ul, 12ul, good.size() / 2, good.size() - 9, good.size() - 1}) {
        std::string flipped = good;
        flipped[i] ^= 0x10;  // one bit anywhere: header, row or checksum
        bad.push_back(flipped);
    }
    for (const auto& b : bad) {
        put_bytes(path, b);
        EXPECT_FALSE(read_table(path, id)) << b.size();
    }
    EXPECT_FALSE(read_table((t.root / "missing.emb").string(), id));
    EXPECT_FALSE(read_table(t.root.string(), id));  // a folder
}

TEST(EmbedStore, RowsThatAreNotUnitLengthAreRefused) {
    float ok[2] = {0.6f, 0.8f}, zero[2] = {0, 0}, long_row[2] = {1, 1}, nan_row[2] = {NAN, 0};
    EXPECT_TRUE(is_unit_row(ok, 2));
    EXPECT_TRUE(is_unit_row(zero, 2));
    EXPECT_FALSE(is_unit_row(long_row, 2));
    EXPECT_FALSE(is_unit_row(nan_row, 2));
}

TEST(EmbedStore, UnwritablePlaceFailsCleanly) {
    TempDir t("vorlan_emb");
    t.write("file", "x");
    EXPECT_FALSE(write_table((t.root / "file/under/a.emb").string(), StoreId{"m", "", ""}, table_of({{"x", unit({1})}})));
    EXPECT_FALSE(write_table((t.root / "a.emb").string(), StoreId{"m", "", ""}, EmbeddingTable(0)));
}

TEST(EmbeddingCache, TreeFileFirstThenShippedThenMissing) {
    TempDir t("vorlan_emb");
    StoreId tree_id{"m", "r", "/tree"}, ship_id{"m", "r", ""};
    std::string tree = (t.root / "tree.emb").string(), ship = (t.root / "ship.emb").string();
    ASSERT_TRUE(write_table(tree, tree_id, table_of({{"a", unit({1, 0})}})));
    ASSERT_TRUE(write_table(ship, ship_id, table_of({{"a", unit({0, 1})}, {"b", unit({1, 1})}})));
    EmbeddingCache c({tree, tree_id}, {ship, ship_id});
    std::vector<Digest> ds{sha256("a"), sha256("b"), sha256("c")};
    auto rows = c.lookup(ds);
    ASSERT_TRUE(rows[0] && rows[1]);
    EXPECT_EQ(rows[0][0], 1.0f);  // the tree's own file wins
    EXPECT_EQ(rows[2], nullptr);
    EXPECT_EQ(c.dim(), 2u);
    EXPECT_FALSE(c.tree_file_stale(ds));
    EXPECT_TRUE(c.tree_file_stale({sha256("b")}));  // "a" left the tree
    // Two files with one text count once.
    ASSERT_TRUE(write_table(tree, tree_id, table_of({{"a", unit({1, 0})}, {"b", unit({0, 1})}})));
    EmbeddingCache two({tree, tree_id}, {"", {}});
    EXPECT_TRUE(two.tree_file_stale({sha256("a"), sha256("a")}));
    EXPECT_FALSE(two.tree_file_stale({sha256("b"), sha256("a"), sha256("b")}));
}

TEST(EmbeddingCache, SaveKeepsExactlyTheGivenRowsAndHealsADamagedFile) {
    TempDir t("vorlan_emb");
    StoreId id{"m", "", "/tree"};
    std::string tree = (t.root / "c/tree.emb").string();
    EmbeddingCache absent({tree, id}, {"", {}});
    EXPECT_FALSE(absent.tree_file_stale({sha256("a")}));  // nothing to rewrite without a file
    auto a = unit({1, 0}), b = unit({0, 1});
    float not_unit[2] = {2, 2};
    ASSERT_TRUE(absent.save({sha256("a"), sha256("b"), sha256("c")}, {a.data(), b.data(), not_unit}, 2));
    auto back = read_table(tree, id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->size(), 2u);  // the row a read would refuse is not stored
    put_bytes(tree, "garbage");
    EmbeddingCache damaged({tree, id}, {"", {}});
    EXPECT_EQ(damaged.lookup({sha256("a")})[0], nullptr);
    EXPECT_TRUE(damaged.tree_file_stale({sha256("a")}));
}

TEST(EmbeddingCache, ShippedRowsOfAnotherWidthAreIgnored) {
    TempDir t("vorlan_emb");
    StoreId tree_id{"m", "", "/t"}, ship_id{"m", "", ""};
    std::string tree = (t.root / "t.emb").string(), ship = (t.root / "s.emb").string();
    ASSERT_TRUE(write_table(tree, tree_id, table_of({{"a", unit({1, 0})}})));
    ASSERT_TRUE(write_table(ship, ship_id, table_of({{"b", unit({1, 0, 0})}})));
    EmbeddingCache c({tree, tree_id}, {ship, ship_id});
    EXPECT_EQ(c.lookup({sha256("b")})[0], nullptr);
}

TEST(CosineScores, DoubleSumRoundedToFloat) {
    auto q = unit({1, 1, 0});
    auto a = unit({1, 1, 0}), b = unit({1, 0, 0}), c = unit({0, 0, 1});
    auto s = cosine_scores({a.data(), b.data(), c.data()}, q.data(), 3);
    EXPECT_NEAR(s[0], 1.0, 1e-7);
    EXPECT_EQ(s[1], static_cast<double>(static_cast<float>(s[1])));
    EXPECT_NEAR(s[1], std::sqrt(0.5), 1e-7);
    EXPECT_EQ(s[2], 0.0);
}

TEST(ReadCorpus, NonEmptyTextsWithTheirDigests) {
    TempDir t("vorlan_emb");
    t.write("b/x.txt", "  beta \n");
    t.write("a.txt", "alpha");
    t.write("blank.txt", " \n ");
    auto c = read_corpus(t.root.string(), 100);
    EXPECT_EQ(c.paths, (std::vector<std::string>{(t.root / "a.txt").string(), (t.root / "b/x.txt").string()}));
    EXPECT_EQ(c.texts, (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(c.digests, (std::vector<Digest>{sha256("alpha"), sha256("beta")}));
}

TEST(ModelFiles, CacheFolderFromTheEnvironment) {
    ::unsetenv("VORLAN_CACHE_DIR");
    {
        EnvVar home("HOME", "/home/u");
        {
            EnvVar xdg("XDG_CACHE_HOME", "relative/ignored");
            EXPECT_EQ(embedding_cache_dir(), "/home/u/.cache/vorlan/embeddings");
        }
        {
            EnvVar xdg("XDG_CACHE_HOME", "/xdg");
            EXPECT_EQ(embedding_cache_dir(), "/xdg/vorlan/embeddings");
            EnvVar mine("VORLAN_CACHE_DIR", "/mine");
            EXPECT_EQ(embedding_cache_dir(), "/mine/embeddings");
            EXPECT_EQ(tree_index_dir(), "/mine/trees");
        }
    }
    for (const char* off : {"0", "off", "No", "FALSE"}) {
        EnvVar v("VORLAN_EMBEDDING_CACHE", off);
        EXPECT_TRUE(embedding_cache_disabled()) << off;
    }
    EnvVar on("VORLAN_EMBEDDING_CACHE", "1");
    EXPECT_FALSE(embedding_cache_disabled());
}

TEST(ModelFiles, RevisionFromHubRefsOrLocalFolder) {
    TempDir t("vorlan_emb");
    EnvVar hub("HF_HUB_CACHE", t.root.string());
    t.write("models--org--m/refs/main", "abc123\n");
    t.write("models--org--m/snapshots/abc123/modules.json", "[]");
    EXPECT_EQ(model_revision("org/m"), "abc123");
    EXPECT_TRUE(hub_cache_has_model("org/m"));
    EXPECT_EQ(model_revision("org/unknown"), "");
    EXPECT_FALSE(hub_cache_has_model("org/unknown"));
    t.write("models--org--m/refs/main", "../../x");
    EXPECT_EQ(model_revision("org/m"), "");
    EXPECT_FALSE(hub_cache_has_model("org/m"));

    std::string local = t.write("local/config.json", "{}");
    std::string folder = (t.root / "local").string();
    std::string before = model_revision(folder);
    EXPECT_EQ(before.rfind("local:", 0), 0u);
    EXPECT_EQ(model_revision(folder), before);
    t.write("local/model.bin", "weights");
    EXPECT_NE(model_revision(folder), before);  // changed files give a new revision
}

TEST(ModelFiles, CacheFileNamesSeparateModelsRevisionsAndTrees) {
    std::string a = tree_cache_file("/c", "m", "r", "/t");
    EXPECT_EQ(a.rfind("/c/", 0), 0u);
    EXPECT_EQ(a.substr(a.size() - 4), ".emb");
    EXPECT_NE(a, tree_cache_file("/c", "m", "r2", "/t"));
    EXPECT_NE(a, tree_cache_file("/c", "m2", "r", "/t"));
    EXPECT_NE(a, tree_cache_file("/c", "m", "r", "/t2"));
    EXPECT_NE(tree_cache_file("/c", "ab", "c", "/t"), tree_cache_file("/c", "a", "bc", "/t"));
    EXPECT_EQ(shipped_file_name("sentence-transformers/all-MiniLM-L6-v2"), "sentence-transformers_all-MiniLM-L6-v2.emb");
    EXPECT_EQ(shipped_file_name("../x"), ".._x.emb");
}
