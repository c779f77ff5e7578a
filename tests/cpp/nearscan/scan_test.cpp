#include "nearscan/core/scan.hpp"

#include <gtest/gtest.h>

#include "../support/temp_dir.hpp"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fsys = std::filesystem;


TEST(FindDescriptions, RecursiveCaseSensitiveComponentOrder) {
    TempDir t("vorlan_nearscan");
    t.write("a-b/x.txt", "1");
    t.write("a/b.txt", "1");
    t.write("a/deep/er/z.txt", "1");
    t.write("B.txt", "1");
    t.write("c.TXT", "1");
    t.write("notes.md", "1");
    t.write(".hidden/h.txt", "1");
    fsys::create_directories(t.root / "dir.txt");  // a folder, not a description
    fsys::create_symlink(t.root / "a/b.txt", t.root / "link.txt");
    fsys::create_symlink(t.root / "a", t.root / "zlinked");  // linked folders are not entered
    auto got = nearscan::find_descriptions(t.root.string());
    std::vector<std::string> want{".hidden/h.txt", "B.txt", "a/b.txt", "a/deep/er/z.txt", "a-b/x.txt", "link.txt"};
    EXPECT_EQ(got, want);
    EXPECT_TRUE(nearscan::find_descriptions((t.root / "missing").string()).empty());
}

TEST(JoinPath, LikePathlib) {
    EXPECT_EQ(nearscan::join_path(".", "a/b.txt"), "a/b.txt");
    EXPECT_EQ(nearscan::join_path("/", "a.txt"), "/a.txt");
    EXPECT_EQ(nearscan::join_path("q", "a.txt"), "q/a.txt");
}

TEST(ReadCapped, CapsDecodesAndStrips) {
    TempDir t("vorlan_nearscan");
    struct Case {
        std::string bytes;
        std::size_t cap;
        std::string want;
    } cases[] = {
        {"  hello world  ", 100, "hello world"},
        {"  hello world", 5, "hel"},
        {"a\r\nb\rc\n", 100, "a\nb\nc"},
        {"x\xff\xc3(y", 100, "x(y"},
        {"\xe2\x82\xac\xe2\x82\xac", 1, "\xe2\x82\xac"},
        {"abc", 0, ""},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string name = "f";
        name += std::to_string(i++);
        EXPECT_EQ(nearscan::read_capped(t.write(name, c.bytes), c.cap), c.want) << c.bytes;
    }
    EXPECT_EQ(nearscan::read_capped((t.root / "none").string(), 10), "");
    EXPECT_EQ(nearscan::read_capped(t.root.string(), 10), "");
}

TEST(ReadCapped, LargeFileReadOnlyToCap) {
    TempDir t("vorlan_nearscan");
    std::string big(300000, 'a');
    big[100000] = 'b';
    EXPECT_EQ(nearscan::read_capped(t.write("big.txt", big), 100000), std::string(100000, 'a'));
}

TEST(LenientDecoder, ChunkBoundariesMatchWholeDecoding) {
    const std::string input = "a\r\n\xe2\x82\xac\r\rb\xff\xf0\x9f\x98\x80\r";
    nearscan::LenientDecoder whole;
    std::string want;
    whole.feed(input, true, want);
    EXPECT_EQ(want, "a\n\xe2\x82\xac\n\nb\xf0\x9f\x98\x80\n");
    for (std::size_t split = 0; split <= input.size(); ++split) {
        for (std::size_t split2 = split; split2 <= input.size(); ++split2) {
            nearscan::LenientDecoder d;
            std::string got;
            d.feed(std::string_view(input).substr(0, split), false, got);
            d.feed(std::string_view(input).substr(split, split2 - split), false, got);
            d.feed(std::string_view(input).substr(split2), true, got);
            ASSERT_EQ(got, want) << split << "," << split2;
        }
    }
}

TEST(Preview, FirstCharsNewlinesToSpaces) {
    EXPECT_EQ(nearscan::preview("a\nb\n"), "a b ");
    std::string long_text;
    for (int i = 0; i < 400; ++i) long_text += "\xc3\xa9";
    EXPECT_EQ(nearscan::preview(long_text).size(), 600u);  // 300 two-byte characters
}

TEST(RankOrder, StableDescendingWithCapAndNaNLast) {
    std::vector<double> s{0.5, 0.9, 0.5, NAN, 0.9, -1.0};
    EXPECT_EQ(nearscan::rank_order(s, 0), (std::vector<std::size_t>{1, 4, 0, 2, 5, 3}));
    EXPECT_EQ(nearscan::rank_order(s, -3).size(), 6u);
    EXPECT_EQ(nearscan::rank_order(s, 2), (std::vector<std::size_t>{1, 4}));
    EXPECT_EQ(nearscan::rank_order(s, 100).size(), 6u);
}

TEST(Printable, EscapesWhatATerminalWouldActOn) {
    EXPECT_EQ(nearscan::printable("plain text, caf\xc3\xa9"), "plain text, caf\xc3\xa9");
    EXPECT_EQ(nearscan::printable("a\x1b[31mb\x07\x7f"), "a\\x1b[31mb\\x07\\x7f");
    EXPECT_EQ(nearscan::printable("\xc2\x9b"), "\\x9b");             // C1 control
    EXPECT_EQ(nearscan::printable("x\xe2\x80\xaey"), "x\\u202ey");  // right-to-left override
    EXPECT_EQ(nearscan::printable("\xff"), "\\xff");                 // not UTF-8
    EXPECT_EQ(nearscan::printable("\n\t"), "\\x0a\\x09");
}
