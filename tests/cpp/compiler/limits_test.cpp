// Size limits, and inputs the fuzzer once failed on, replayed byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../../fuzz/fuzz_limits.hpp"
#include "common/text.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace vc = vorlan::compiler;

namespace {

// Every line of a failed compile names its file and position.
void expect_one_problem_per_line(const vc::CompileResult& r) {
    std::istringstream in(r.message());
    std::string line;
    std::size_t n = 0;
    while (std::getline(in, line)) {
        ++n;
        EXPECT_TRUE(line.starts_with("model:") || line.starts_with("data:")) << line;
    }
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, vc::kMaxDiagnostics);
}

}  // namespace

struct LimitCase {
    const char* name;
    void (*set)(vc::Limits&);
    const char* model;
    const char* fragment;
};

class Limits : public testing::TestWithParam<LimitCase> {};

TEST_P(Limits, ReportedAsDiagnostic) {
    const auto& c = GetParam();
    vc::Compiler comp;
    c.set(comp.limits);
    auto r = comp.compile(c.model, "");
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.message().find(c.fragment), std::string::npos) << r.message();
    // The same model compiles under the default limits.
    EXPECT_TRUE(vc::compile(c.model, "").ok()) << vc::compile(c.model, "").message();
}

INSTANTIATE_TEST_SUITE_P(
    Compiler, Limits,
    testing::Values(
        LimitCase{"variables", [](vc::Limits& l) { l.max_variables = 99; },
                  "dvar float x[1..100];\nminimize sum(i in 1..100) x[i];",
                  "more than 99 variables ('x' adds 100)"},
        LimitCase{"rows", [](vc::Limits& l) { l.max_rows = 3; },
                  "dvar float x[1..5];\nminimize sum(i in 1..5) x[i];\nsubject to { forall(i in 1..5) x[i] >= i; }",
                  "more than 3 constraints"},
        LimitCase{"terms", [](vc::Limits& l) { l.max_terms = 10; },
                  "dvar float x[1..20];\nminimize sum(i in 1..20) x[i];", "limit of terms"},
        LimitCase{"cells", [](vc::Limits& l) { l.max_cells = 10; },
                  "float c[i in 1..11] = i;\ndvar float x;\nminimize x;", "array 'c' has too many cells (11)"},
        LimitCase{"set", [](vc::Limits& l) { l.max_set_elements = 10; },
                  "{int} S = {i * 2 | i in 1..11};\ndvar float x;\nminimize x;", "too large to build"},
        LimitCase{"steps", [](vc::Limits& l) { l.max_steps = 1000; },
                  "dvar float x;\nminimize x + sum(i in 1..100, j in 1..100) 0 * x;", "expands to more than 1000"}),
    [](const testing::TestParamInfo<LimitCase>& i) { return std::string(i.param.name); });

TEST(Messages, QuotedStringsStayOnOneLine) {
    // A string with an escaped newline, quoted by a syntax error and by a data error.
    auto r = vc::compile("string s \"a\\nb\";", "");
    ASSERT_FALSE(r.ok());
    expect_one_problem_per_line(r);
    EXPECT_NE(r.message().find("\"a\\nb\""), std::string::npos) << r.message();
    r = vc::compile("{string} S = ...;\ndvar float x;\nminimize x;", "S = {\"a\\tb\", \"a\\tb\"};");
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.message().find("duplicate element \"a\\tb\""), std::string::npos) << r.message();
}

TEST(Messages, EscapeControls) {
    EXPECT_EQ(vorlan::text::escape_controls("a\nb\tc\rd\x01" "e\x7f"), "a\\nb\\tc\\rd\\x01e\\x7f");
    EXPECT_EQ(vorlan::text::escape_controls("plain \"é\""), "plain \"é\"");
}

TEST(FuzzRegressions, EachInputEndsCleanly) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(VORLAN_SOURCE_DIR) / "tests" / "corpus" / "fuzz-regressions";
    std::size_t n = 0;
    for (const auto& f : fs::directory_iterator(dir)) {
        std::ifstream in(f.path(), std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t nul = all.find('\0');
        std::string_view v(all);
        vc::Compiler comp;
        set_fuzz_limits(comp.limits);
        auto r = comp.compile(v.substr(0, nul), nul == std::string::npos ? std::string_view() : v.substr(nul + 1));
        SCOPED_TRACE(f.path().filename().string());
        if (r.ok()) {
            (void)comp.ast();
            (void)comp.data();
        } else {
            expect_one_problem_per_line(r);
        }
        ++n;
    }
    EXPECT_GE(n, 1u);
}
