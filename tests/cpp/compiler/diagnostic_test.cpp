#include <gtest/gtest.h>

#include "vorlan_core/core/compiler.hpp"

TEST(Diagnostic, TextHasFileLineColumn) {
    vorlan::compiler::Diagnostic d{vorlan::compiler::Diagnostic::Kind::Syntax, "model", 3, 7, "expected ';'"};
    EXPECT_EQ(d.text(), "model:3:7: expected ';'");
}
