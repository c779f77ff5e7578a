// What the constructs modellers write expand to (labelled groups, array literals, several
// `with` clauses, byte-order marks, maxint), and how the static kinds, the tuple keys in
// messages and the excerpts of long texts behave.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "vorlan_core/core/compiler.hpp"

using namespace vorlan::compiler;

namespace {

std::vector<std::string> row_names(const Instance& in) {
    std::vector<std::string> out;
    for (auto& r : in.rows) out.push_back(r.label + index_text(r.index));
    return out;
}

const HostValue* entry(const HostValue& map, const HostValue& key) {
    for (auto& e : map.entries)
        if (e.first.kind == key.kind && e.first.i == key.i && e.first.s == key.s) return &e.second;
    return nullptr;
}

std::string message_of(const char* mod, const char* dat = "") { return compile(mod, dat).message(); }

}  // namespace

TEST(Language, LabelledGroupsNameTheirConstraints) {
    Compiler c;
    CompileResult r = c.compile(
        "{string} P = {\"a\", \"b\"};\ndvar float+ x[P];\nmaximize sum(p in P) x[p];\nsubject to {\n"
        "  capacity: { x[\"a\"] <= 1; x[\"b\"] <= 2; };\n"
        "  forall(p in P) perItem: { x[p] <= 5; own: x[p] >= 0.5; }\n"
        "  forall(p in P) { limit[p]: { x[p] <= 6; } }\n}",
        "");
    ASSERT_TRUE(r.ok()) << r.message();
    EXPECT_EQ(row_names(c.instance()),
              (std::vector<std::string>{"capacity", "capacity", "perItem[\"a\"]", "own[\"a\"]", "perItem[\"b\"]",
                                        "own[\"b\"]", "limit[\"a\"]", "limit[\"b\"]"}));
}

TEST(Language, ArrayLiteralsFillCellsInIndexOrder) {
    Compiler c;
    CompileResult r = c.compile(
        "int w[1..3] = [4, 2, 7];\nfloat g[1..2][{\"u\", \"v\"}] = [[1, 2], [3.5, 4]];\n"
        "dvar float x;\nminimize x;",
        "");
    ASSERT_TRUE(r.ok()) << r.message();
    const HostValue* w = entry(c.data(), HostValue::str("w"));
    ASSERT_TRUE(w);
    std::vector<std::int64_t> got;
    for (auto& e : w->entries) got.push_back(e.second.i);
    EXPECT_EQ(got, (std::vector<std::int64_t>{4, 2, 7}));
    const HostValue* g = entry(c.data(), HostValue::str("g"));
    ASSERT_TRUE(g);
    const HostValue* row2 = entry(*g, HostValue::integer(2));
    ASSERT_TRUE(row2);
    const HostValue* cell = entry(*row2, HostValue::str("u"));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->f, 3.5);
}

TEST(Language, SeveralWithClausesCheckEveryField) {
    const char* mod =
        "tuple R { string o; string d; string m; }\n{string} N = ...;\n{string} M = ...;\n"
        "{R} S with o, d in N, m in M = ...;\ndvar float x;\nminimize x;";
    EXPECT_TRUE(compile(mod, "N = {a b}; M = {road}; S = {<a b road>};").ok());
    EXPECT_NE(message_of(mod, "N = {a b}; M = {road};\nS = {<a b rail>};")
                  .find("data:2:1: element <\"a\", \"b\", \"rail\"> of 'S': field 'm' = \"rail\" is not in 'M'"),
              std::string::npos);
    EXPECT_NE(message_of(mod, "N = {a b}; M = {road};\nS = {<a c road>};").find("field 'd' = \"c\" is not in 'N'"),
              std::string::npos);
}

TEST(Language, ByteOrderMarkIsSkippedInBothFiles) {
    EXPECT_TRUE(compile("\xEF\xBB\xBFint n = ...;\ndvar float x;\nminimize x;", "\xEF\xBB\xBFn = 2;").ok());
    // Columns count from after the mark.
    EXPECT_EQ(message_of("int n = ...;\ndvar float x;\nminimize x;", "\xEF\xBB\xBFn = ;"),
              "data:1:5: expected a data value (number, string, <tuple>, {set}, [array] or #[keyed array]#), found ';'");
}

TEST(Language, MaxintIsThe32BitLimitWith64BitArithmetic) {
    Compiler c;
    CompileResult r = c.compile("int m = maxint;\nint twice = maxint * 2;\nint d = ...;\nint p = d * d;\n"
                                "dvar float x;\nminimize x;",
                                "d = -maxint;");
    ASSERT_TRUE(r.ok()) << r.message();
    EXPECT_EQ(entry(c.data(), HostValue::str("m"))->i, 2147483647);
    EXPECT_EQ(entry(c.data(), HostValue::str("twice"))->i, 4294967294);
    EXPECT_EQ(entry(c.data(), HostValue::str("p"))->i, 4611686014132420609);
}

// A range's name as a domain bounds every cell by the range's ends (also when they are
// computed); a dexpr over a tuple pattern binds each component per element.
TEST(Language, RangeDomainsAndTuplePatternDexprs) {
    Compiler c;
    CompileResult r = c.compile(
        "tuple Arc { string o; string d; float c; }\n{Arc} Arcs = ...;\nint n = ...;\nrange F = n - 1..n ^ 2;\n"
        "dvar int f[1..2] in F;\ndvar float+ y[Arcs];\n"
        "dexpr float cost[<i, j, k> in Arcs] = k * y[<i, j, k>] + (i == \"a\" ? 1 : 0) * y[<i, j, k>];\n"
        "minimize sum(t in 1..2) f[t];\nsubject to {\n  forall(a in Arcs) cap: cost[a] <= 9;\n}",
        "Arcs = {<a b 3> <b c 1.5>};\nn = 3;");
    ASSERT_TRUE(r.ok()) << r.message();
    const Instance& in = c.instance();
    for (int k : {0, 1}) {
        EXPECT_EQ(in.variables[k].lower, 2.0);
        EXPECT_EQ(in.variables[k].upper, 9.0);
        EXPECT_TRUE(in.variables[k].integer);
    }
    ASSERT_EQ(in.rows.size(), 2u);
    EXPECT_EQ(in.rows[0].terms[0].coef, 4.0);  // 3 + 1 for the arc from "a"
    EXPECT_EQ(in.rows[1].terms[0].coef, 1.5);
}

// A non-linear statement is rejected before expansion; the data of the same pair is still
// checked in the same round, and the statements that are fine are still expanded.
TEST(StaticKinds, OtherProblemsAreStillReported) {
    std::string m = message_of(
        "{string} P = ...;\nfloat c[P] = ...;\ndvar float x[P];\nminimize sum(p in P) x[p];\n"
        "subject to {\n  forall(p in P) x[p] * x[p] <= 1;\n  c[\"a\"] >= 5;\n}",
        "P = {a b};\nc = [1];");
    EXPECT_NE(m.find("model:6:18: non-linear term 'x[p] * x[p]'"), std::string::npos) << m;
    EXPECT_NE(m.find("data:2:5: expected 2 values for 'c'"), std::string::npos) << m;
}

TEST(StaticKinds, DataOnlyUsesStayAllowed) {
    // Strict comparisons and conditions on data, a dexpr without variables used as a factor,
    // and variables under an untaken branch of data-only code.
    const char* mod =
        "int n = ...;\ndvar float x;\ndexpr float k = n * 2;\ndexpr float t = k * x;\n"
        "minimize t + (n < 3 ? 1 : 2) * x;\nsubject to {\n  forall(i in 1..n : i != 2) x >= i;\n"
        "  if (n > 0 && !(n == 5)) { x <= 10 * k; }\n}";
    CompileResult r = compile(mod, "n = 3;");
    EXPECT_TRUE(r.ok()) << r.message();
}

TEST(StaticKinds, EachFaultIsReportedOnceWhereItArises) {
    // abs(x * y): the product is the fault; the call around it adds no second report.
    std::string m = message_of("dvar float x;\ndvar float y;\nminimize abs(x * y) + x;");
    EXPECT_EQ(m, "model:3:14: non-linear term 'x * y': the product of two decision-variable expressions is not "
                 "linear; multiply a variable only by data");
}

TEST(NamedExpressions, CellsAreKeptForReports) {
    auto r = compile("{string} S = {\"a\", \"b\"};\ndvar float x[S];\ndexpr float total = 2 * x[\"a\"] + 1;\n"
                     "dexpr float twice[s in S] = 2 * x[s];\nminimize total;\nsubject to { forall(s in S) x[s] >= 1; }",
                     "");
    ASSERT_TRUE(r.ok()) << r.message();
    const auto& e = r.instance->expressions;
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].full_name(), "total");
    EXPECT_EQ(e[0].constant, 1.0);
    ASSERT_EQ(e[0].terms.size(), 1u);
    EXPECT_EQ(e[0].terms[0].coef, 2.0);
    EXPECT_EQ(e[2].full_name(), "twice[\"b\"]");
    EXPECT_EQ(r.instance->rows.size(), 2u);  // a named expression is no constraint
}

TEST(NamedExpressions, TupleIndicesReadAsTheModelWritesThem) {
    auto r = compile("tuple Route { key string o; key string d; float cap; }\n{Route} R = ...;\n"
                     "dvar float+ ship[R][1..2];\ndexpr float load[r in R] = ship[r][1];\n"
                     "minimize sum(r in R) load[r];",
                     "R = {<\"A\", \"B\", infinity>};");
    ASSERT_TRUE(r.ok()) << r.message();
    const Instance& in = *r.instance;
    EXPECT_EQ(in.variables[1].full_name(), "ship[\"A\"][\"B\"][inf][2]");
    EXPECT_EQ(written_name(in, in.variables[1].name, in.variables[1].index), "ship[<\"A\",\"B\">][2]");
    EXPECT_EQ(written_name(in, in.expressions[0].name, in.expressions[0].index), "load[<\"A\",\"B\">]");
    EXPECT_EQ(written_name(in, "other", {std::int64_t{1}}), "other[1]");
}

TEST(Messages, ADataItemThatFailsToLoadReportsOnlyItself) {
    // Its uses (a `with` clause, an index set, a sum) add nothing to the first message.
    std::string m = message_of(
        "{string} Nodes = ...;\ntuple Arc { string o; string d; }\n{Arc} Arcs with o, d in Nodes = ...;\n"
        "float cap[Nodes] = ...;\ndvar float+ x[Arcs];\nmaximize sum(a in Arcs) x[a];\n"
        "subject to { forall(n in Nodes) sum(a in Arcs: a.o == n) x[a] <= cap[n]; }",
        "Nodes = {1, 2};\nArcs = {<\"a\", \"b\">};\ncap = [1, 2];");
    EXPECT_EQ(m, "data:1:10: expected string for an element of 'Nodes', found the int 1");
}

TEST(Messages, LongTextsAreQuotedAsExcerpts) {
    std::string big(5'000'000, 'q');
    std::string dat = "S = {\"" + big + "\", \"" + big + "\"};";
    std::string m = message_of("{string} S = ...;\ndvar float x;\nminimize x;", dat.c_str());
    EXPECT_LT(m.size(), 400u);
    EXPECT_NE(m.find("duplicate element \"" + std::string(60, 'q') + "...\" in the set 'S'"), std::string::npos) << m;

    std::string name(5'000'000, 'n');
    std::string mod = "dvar float x;\nminimize x + " + name + ";";
    m = message_of(mod.c_str());
    EXPECT_LT(m.size(), 2100u);
    EXPECT_NE(m.find(" ... "), std::string::npos);
    EXPECT_EQ(m.substr(0, 14), "model:2:14: 'n");
}
