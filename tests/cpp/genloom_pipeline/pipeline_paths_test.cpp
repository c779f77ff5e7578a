#include "genloom/core/pipeline_paths.hpp"

#include <gtest/gtest.h>

#include <string>

namespace gc = genloom::core;

struct PathCase {
    const char* path;
    const char* dir;
    const char* base;
};

class PathParts : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathParts, SplitAtLastSeparator) {
    const PathCase& c = GetParam();
    EXPECT_EQ(gc::dir_part(c.path), c.dir);
    EXPECT_EQ(gc::base_part(c.path), c.base);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathParts,
                         ::testing::Values(PathCase{"model.mod", "", "model.mod"},
                                           PathCase{"out/a/b/model.mod", "out/a/b", "model.mod"},
                                           PathCase{"/model.mod", "/", "model.mod"},
                                           PathCase{"/tmp/x.dat", "/tmp", "x.dat"},
                                           PathCase{"dir/", "dir", ""},
                                           PathCase{"", "", ""},
                                           PathCase{"caf\xc3\xa9/m\xc3\xb6del.mod", "caf\xc3\xa9", "m\xc3\xb6del.mod"}));

TEST(TempSibling, SameDirectoryHiddenAndUniquePerToken) {
    EXPECT_EQ(gc::temp_sibling("out/a/model.mod", 0x1f), "out/a/.model.mod.000000000000001f.tmp");
    EXPECT_EQ(gc::temp_sibling("model.mod", 0), ".model.mod.0000000000000000.tmp");
    EXPECT_EQ(gc::temp_sibling("/m.dat", 0xffffffffffffffffULL), "/.m.dat.ffffffffffffffff.tmp");
    EXPECT_NE(gc::temp_sibling("m.mod", 1), gc::temp_sibling("m.mod", 2));
    EXPECT_EQ(gc::dir_part(gc::temp_sibling("a/b/m.mod", 7)), "a/b");
}
