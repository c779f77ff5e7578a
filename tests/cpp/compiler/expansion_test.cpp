// Expansion of small models into the flat instance, checked against hand-computed rows.
#include <gtest/gtest.h>

#include "vorlan_core/core/compiler.hpp"

using namespace vorlan::compiler;

namespace {
const Instance& expand(Compiler& c, const char* mod, const char* dat = "") {
    CompileResult r = c.compile(mod, dat);
    EXPECT_TRUE(r.ok()) << r.message();
    return c.instance();
}
std::vector<std::pair<int, double>> terms(const std::vector<Term>& t) {
    std::vector<std::pair<int, double>> out;
    for (auto& x : t) out.emplace_back(x.var, x.coef);
    return out;
}
}  // namespace

TEST(Expansion, TransportRows) {
    Compiler c;
    const Instance& in = expand(c,
        "{string} S = ...; {string} D = ...;\nfloat cost[S][D] = ...;\nfloat sup[S] = ...;\n"
        "dvar float+ x[S][D];\nminimize sum(s in S, d in D) cost[s][d] * x[s][d];\n"
        "subject to { forall(s in S) supply: sum(d in D) x[s][d] <= sup[s];\n"
        "  forall(d in D) sum(s in S) x[s][d] >= 1; }",
        "S = {a b};\nD = {u v w};\ncost = [[1 2 3] [4 5 6]];\nsup = [10 20];");
    ASSERT_EQ(in.variables.size(), 6u);
    EXPECT_EQ(in.variables[4].full_name(), "x[\"b\"][\"v\"]");
    EXPECT_EQ(in.objective.sense, Objective::Sense::Minimize);
    EXPECT_EQ(terms(in.objective.terms), (std::vector<std::pair<int, double>>{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}));
    ASSERT_EQ(in.rows.size(), 5u);
    EXPECT_EQ(in.rows[1].label, "supply");
    EXPECT_EQ(index_text(in.rows[1].index), "[\"b\"]");
    EXPECT_EQ(terms(in.rows[1].terms), (std::vector<std::pair<int, double>>{{3, 1}, {4, 1}, {5, 1}}));
    EXPECT_EQ(in.rows[1].upper, 20.0);
    EXPECT_EQ(in.rows[1].lower, -kInf);
    EXPECT_EQ(terms(in.rows[3].terms), (std::vector<std::pair<int, double>>{{1, 1}, {4, 1}}));
    EXPECT_EQ(in.rows[3].lower, 1.0);
    EXPECT_EQ(in.rows[3].line, 7);
}

TEST(Expansion, TermsMergedConstantsMovedAndZerosDropped) {
    Compiler c;
    const Instance& in = expand(c,
        "dvar float x; dvar float y;\nmaximize 2*x - x + 3 + 0*y;\n"
        "subject to { r: 3*x + 2 <= x + y - y + 8; 1 <= x + y <= 4; x - y == 2 * (x - 1); }");
    EXPECT_EQ(terms(in.objective.terms), (std::vector<std::pair<int, double>>{{0, 1}}));
    EXPECT_EQ(in.objective.constant, 3.0);
    ASSERT_EQ(in.rows.size(), 3u);
    EXPECT_EQ(terms(in.rows[0].terms), (std::vector<std::pair<int, double>>{{0, 2}}));  // 3x - x
    EXPECT_EQ(in.rows[0].upper, 6.0);
    EXPECT_EQ(in.rows[1].lower, 1.0);
    EXPECT_EQ(in.rows[1].upper, 4.0);
    // x - y - 2x + 2 == 0  ->  -x - y == -2
    EXPECT_EQ(terms(in.rows[2].terms), (std::vector<std::pair<int, double>>{{0, -1}, {1, -1}}));
    EXPECT_EQ(in.rows[2].lower, -2.0);
    EXPECT_EQ(in.rows[2].upper, -2.0);
}

TEST(Expansion, VariableBoundsAndIntegrality) {
    Compiler c;
    const Instance& in = expand(c,
        "float cap[1..2] = ...;\ndvar float a; dvar float+ b; dvar int+ k; dvar boolean z;\n"
        "dvar float s[i in 1..2] in -1..cap[i];\ndvar int m in 0.5..3.7;",
        "cap = [5 7];");
    struct Want {
        double lo, hi;
        bool integer;
    } want[] = {{-kInf, kInf, false}, {0, kInf, false}, {0, kInf, true}, {0, 1, true},
                {-1, 5, false},       {-1, 7, false},   {1, 3, true}};
    ASSERT_EQ(in.variables.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(in.variables[i].lower, want[i].lo) << i;
        EXPECT_EQ(in.variables[i].upper, want[i].hi) << i;
        EXPECT_EQ(in.variables[i].integer, want[i].integer) << i;
    }
}

TEST(Expansion, FiltersPatternsAndLabels) {
    Compiler c;
    const Instance& in = expand(c,
        "tuple E { int i; int j; }\n{E} Es = {<1, 2>, <1, 3>, <2, 3>};\nrange N = 1..3;\n"
        "dvar float+ y[Es];\nsubject to {\n"
        "  forall(i in N) out: sum(<i, j> in Es) y[<i, j>] <= 1;\n"
        "  forall(<a, b> in Es : b - a == 1) step[a]: y[<a, b>] >= 0.5;\n}");
    // out[3] has no arcs: 0 <= 1 always holds and gives no row.
    ASSERT_EQ(in.rows.size(), 4u);
    EXPECT_EQ(in.rows[0].label, "out");
    EXPECT_EQ(terms(in.rows[0].terms), (std::vector<std::pair<int, double>>{{0, 1}, {1, 1}}));
    EXPECT_EQ(terms(in.rows[1].terms), (std::vector<std::pair<int, double>>{{2, 1}}));
    EXPECT_EQ(in.rows[2].label, "step");
    EXPECT_EQ(index_text(in.rows[2].index), "[1]");
    EXPECT_EQ(index_text(in.rows[3].index), "[2]");
}

TEST(Expansion, FailedCompileKeepsLastInstance) {
    Compiler c;
    expand(c, "dvar float x; minimize x;");
    EXPECT_FALSE(c.compile("dvar float x; minimize x * x;", "").ok());
    EXPECT_EQ(c.instance().variables.size(), 1u);
}

TEST(Expansion, DataFaultsNamed) {
    struct Case {
        const char* mod;
        const char* dat;
        const char* want;
    } cases[] = {
        {"float a[1..3] = ...;", "a = [1 2];", "data:1:5: expected 3 values for 'a' (one per element of '1..3'), found 2"},
        {"range R = 1..2;\ndvar float x[R];\nsubject to { x[3] >= 0; }", "", "model:3:16: index out of range: 3 is not in 'R'"},
        {"int n = 0;\nfloat r = 1 / n;", "", "model:2:15: division by zero in '1 / n'"},
        {"dvar float x in 3..1;", "", "model:1:17: empty bounds for variable 'x': 3..1"},
        {"int n = 2;\nsubject to { n >= 3; }", "", "model:2:14: the constraint at line 2 can never hold: 'n >= 3' is 2 >= 3"},
    };
    for (auto& cs : cases) {
        CompileResult r = compile(cs.mod, cs.dat);
        EXPECT_NE(r.message().find(cs.want), std::string::npos) << r.message();
    }
}

// Sums of one variable per term are expanded by stepping through the arrays; a filter sends
// the same sum element by element. Both must give the same rows, term for term.
TEST(Expansion, SumsMatchTheirElementByElementForm) {
    const std::string decls =
        "range I = 1..3;\nrange J = 0..4;\n{int} K = {3, 1, 2};\n{string} S = {\"a\", \"b\"};\n"
        "float c[I][I] = [[1, 2, 3], [4, 5, 6], [7, 8, 9]];\nint ci[J] = [1, 0, -2, 3, 4];\n"
        "float cs[S] = [1.5, 0];\nint ck[K] = [5, 6, 7];\nfloat k = 2.5;\n"
        "dvar float+ x[I][I];\ndvar float y[J];\ndvar int z[S];\ndvar float w[K];\n";
    struct Case {
        const char* iters;  // the last iterator takes the filter
        const char* body;
    } cases[] = {
        {"i in I, j in I", "c[i][j] * x[i][j]"},
        {"i in I, j in I", "x[j][i] * c[i][j]"},  // transposed: terms out of variable order
        {"i, j in I", "k * x[i][j]"},
        {"i in 2..3, j in 1..2", "x[i][j] * 2"},  // ranges inside the dimensions' range
        {"j in 1..3", "ci[j] * y[j]"},            // a range inside a larger range
        {"i in I, j in I", "x[i][i]"},            // repeated variables merge
        {"j in J", "ci[j] * y[j]"},               // a zero coefficient drops its term
        {"i in K", "ck[i] * w[i]"},
        {"s in S", "z[s] * cs[s]"},
        {"i in I", "x[m][i] * c[i][m]"},  // m bound by the forall outside
        {"i in 1..0", "y[i]"},             // no terms
    };
    for (const Case& cs : cases) {
        auto model = [&](const char* filter) {
            return decls + "minimize sum(m in I, " + cs.iters + filter + ") " + cs.body + ";\n" +
                   "subject to { forall(m in I) sum(" + cs.iters + filter + ") " + cs.body + " <= m; }";
        };
        Compiler direct, general;
        ASSERT_TRUE(direct.compile(model(""), "").ok()) << cs.body;
        ASSERT_TRUE(general.compile(model(": 1 == 1"), "").ok()) << cs.body;
        const Instance& a = direct.instance();
        const Instance& b = general.instance();
        EXPECT_EQ(terms(a.objective.terms), terms(b.objective.terms)) << cs.iters << " | " << cs.body;
        ASSERT_EQ(a.rows.size(), b.rows.size()) << cs.body;
        for (std::size_t r = 0; r < a.rows.size(); ++r) {
            EXPECT_EQ(terms(a.rows[r].terms), terms(b.rows[r].terms)) << cs.iters << " | " << cs.body;
            EXPECT_EQ(a.rows[r].upper, b.rows[r].upper);
        }
    }
}

// The step limit is met where the element-by-element expansion meets it, with its message.
TEST(Expansion, SumsReachTheStepLimitWhereTheyAlwaysDid) {
    Compiler c;
    c.limits.max_steps = 150;  // the variables take 110 steps, the sum 110 more
    CompileResult r = c.compile("range I = 1..10;\ndvar float x[I][I];\nminimize sum(i in I, j in I) x[i][j];", "");
    EXPECT_EQ(r.message(), "model:3:22: the model expands to more than 150 iterations; the instance is too large");
}

// A row whose terms come in two ordered runs (a sum, then the other side) is merged in one
// pass; a variable on both sides still gets one summed coefficient, and none when it cancels.
TEST(Expansion, RowsOfTwoOrderedRunsMerge) {
    Compiler c;
    const Instance& in = expand(c,
        "range I = 1..3;\ndvar float+ x[I];\ndvar float+ y[I];\nfloat cap[I] = [4, 5, 6];\n"
        "subject to {\n  forall(i in 2..3) sum(j in I) x[j] <= cap[i] * y[i];\n"
        "  sum(j in I) y[j] <= 2 * y[2];\n  sum(j in I) y[j] <= y[2] + 1;\n  y[3] + x[1] >= x[2];\n}");
    using T = std::vector<std::pair<int, double>>;
    ASSERT_EQ(in.rows.size(), 5u);
    EXPECT_EQ(terms(in.rows[0].terms), (T{{0, 1}, {1, 1}, {2, 1}, {4, -5}}));
    EXPECT_EQ(terms(in.rows[1].terms), (T{{0, 1}, {1, 1}, {2, 1}, {5, -6}}));
    EXPECT_EQ(terms(in.rows[2].terms), (T{{3, 1}, {4, -1}, {5, 1}}));
    EXPECT_EQ(terms(in.rows[3].terms), (T{{3, 1}, {5, 1}}));
    EXPECT_EQ(in.rows[3].upper, 1.0);
    EXPECT_EQ(terms(in.rows[4].terms), (T{{0, 1}, {1, -1}, {5, 1}}));
}
