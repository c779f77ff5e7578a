#include <gtest/gtest.h>

#include "../support/temp_dir.hpp"

#include <filesystem>
#include <fstream>
#include <string>

#include "genloom/core/fewshot.hpp"
#include "genloom/core/resources.hpp"

namespace fsys = std::filesystem;
using namespace genloom;


TEST(GrammarPaths, DirnameLikeHost) {
    struct {
        const char *in, *out;
    } cases[] = {{"/a/b/c.so", "/a/b"}, {"c.so", ""}, {"/c.so", "/"}, {"a//b", "a"},
                 {"//x", "//"},         {"a/b/", "a/b"}, {"./m.so", "."}};
    for (auto c : cases) EXPECT_EQ(resources::dirname(c.in), c.out) << c.in;
}

TEST(GrammarPaths, ResourceLocations) {
    EXPECT_EQ(resources::grammar_markdown_path("/s/vorlan/genloom.so"), "/s/docs/grammars/Vorlan grammar.md");
    EXPECT_EQ(resources::grammar_gbnf_path("/s/vorlan/genloom.so"), "/s/docs/grammars/Vorlan_GBNF");
    EXPECT_EQ(resources::compiler_source_path("/s/vorlan/genloom.so"), "/s/vorlan/vorlan_core.cpp");
    // Relative paths stay relative and unnormalised.
    EXPECT_EQ(resources::grammar_markdown_path("vorlan/genloom.so"), "docs/grammars/Vorlan grammar.md");
    EXPECT_EQ(resources::compiler_source_path("genloom.so"), "vorlan_core.cpp");
}

TEST(StrictRead, NewlinesNormalisedAndErrorsReported) {
    TempDir t("vorlan_prompts");
    auto r = resources::read_text_strict(t.write("a.md", "  one\r\ntwo\rthree\n\n"));
    ASSERT_EQ(r.status, resources::StrictText::Status::ok);
    EXPECT_EQ(r.text, "  one\ntwo\nthree\n\n");
    EXPECT_EQ(resources::read_text_strict(t.write("e.md", "")).text, "");
    auto bad = resources::read_text_strict(t.write("b.md", "ok\xff"));
    EXPECT_EQ(bad.status, resources::StrictText::Status::invalid_utf8);
    EXPECT_EQ(bad.bytes, "ok\xff");
    auto missing = resources::read_text_strict((t.root / "nope.md").string());
    EXPECT_EQ(missing.status, resources::StrictText::Status::os_error);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(resources::read_text_strict(t.root.string()).error, EISDIR);
}

TEST(SafeRead, CapBeforeStripAndLenientDecoding) {
    TempDir t("vorlan_prompts");
    EXPECT_EQ(fewshot::safe_read_text(t.write("a.txt", "  hello world"), 5), "hel");
    EXPECT_EQ(fewshot::safe_read_text(t.write("b.txt", " a\xff\xfe" "b\r\nc \n"), 100), "ab\nc");
    EXPECT_EQ(fewshot::safe_read_text(t.write("c.txt", "\xc3\xa9t\xc3\xa9"), 2), "\xc3\xa9t");
    EXPECT_EQ(fewshot::safe_read_text(t.write("d.txt", " \t\n "), 100), "");
    EXPECT_EQ(fewshot::safe_read_text((t.root / "missing").string(), 100), "");
    EXPECT_EQ(fewshot::safe_read_text(t.root.string(), 100), "");
}

TEST(Stem, LastSuffixOnly) {
    struct {
        const char *in, *out;
    } cases[] = {{"knapsack.txt", "knapsack"}, {"a.b.txt", "a.b"}, {".notes", ".notes"}, {"x.", "x."}, {"x", "x"}};
    for (auto c : cases) EXPECT_EQ(fewshot::stem_of(c.in), c.out) << c.in;
}

TEST(FindPair, StemMatchPreferredEachFallsBackAlone) {
    TempDir t("vorlan_prompts");
    t.write("x.txt", "d");
    t.write("x.mod", "m");
    t.write("y.dat", "d");
    t.write("a.dat", "d");
    auto r = fewshot::find_pair_names(t.root.string(), "x");
    EXPECT_EQ(r.model, std::optional<std::string>("x.mod"));
    EXPECT_EQ(r.data, std::optional<std::string>("a.dat"));
}

TEST(FindPair, FallbackByNameAndAbsent) {
    TempDir t("vorlan_prompts");
    t.write("q.txt", "d");
    t.write("p.mod", "m");
    t.write("a.mod", "m");
    t.write("b.dat", "d");
    t.write("Z/inner.dat", "d");  // subfolders are not searched
    auto r = fewshot::find_pair_names(t.root.string(), "q");
    EXPECT_EQ(r.model, std::optional<std::string>("a.mod"));
    EXPECT_EQ(r.data, std::optional<std::string>("b.dat"));
    TempDir u;
    u.write("q.txt", "d");
    u.write("q.MOD", "m");
    auto none = fewshot::find_pair_names(u.root.string(), "q");
    EXPECT_FALSE(none.model.has_value());
    EXPECT_FALSE(none.data.has_value());
}

TEST(FindPair, DirectoryNamedLikeStemFallsBack) {
    TempDir t("vorlan_prompts");
    fsys::create_directories(t.root / "x.mod");  // not a regular file
    t.write("b.mod", "m");
    t.write("x.dat", "d");
    auto r = fewshot::find_pair_names(t.root.string(), "x");
    EXPECT_EQ(r.model, std::optional<std::string>("b.mod"));
    EXPECT_EQ(r.data, std::optional<std::string>("x.dat"));
}
