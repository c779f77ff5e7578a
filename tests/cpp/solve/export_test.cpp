#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "solve/core/export.hpp"

namespace c = vorlan::compiler;
namespace s = vorlan::solve;
using c::kInf;

namespace {

c::Variable var(std::string name, std::vector<c::IndexValue> index, double lo = 0, double hi = kInf,
                bool integer = false) {
    c::Variable v;
    v.name = std::move(name);
    v.index = std::move(index);
    v.lower = lo;
    v.upper = hi;
    v.integer = integer;
    return v;
}

c::Row row(std::string label, std::vector<c::Term> terms, double lo, double hi,
           std::vector<c::IndexValue> index = {}) {
    c::Row r;
    r.label = std::move(label);
    r.index = std::move(index);
    r.terms = std::move(terms);
    r.lower = lo;
    r.upper = hi;
    return r;
}

// Covers every row kind, every bound kind, integer runs, a constant and an empty column.
c::Instance sample() {
    c::Instance in;
    in.variables = {var("x", {std::int64_t{1}}), var("x", {std::int64_t{2}}, -kInf, kInf),
                    var("n", {}, 0, kInf, true), var("m", {}, -2, 5, true), var("f", {}, 3, 3),
                    var("neg", {}, 0, -1), var("low", {}, -kInf, 4), var("unused", {})};
    in.objective.sense = c::Objective::Sense::Maximize;
    in.objective.label = "profit";
    in.objective.terms = {{0, 3}, {2, -1.5}};
    in.objective.constant = 7;
    in.rows = {row("cap", {{0, 1}, {1, 2}}, -kInf, 10, {std::string("a b")}),
               row("", {{2, 1}, {3, 1}}, 1, kInf),
               row("bal", {{0, 1}, {1, -1}}, 2, 2),
               row("rng", {{3, 4}}, -1, 8),
               row("free", {{0, 1}}, -kInf, kInf),
               row("cross", {{6, 1}}, 5, 4)};
    return in;
}

const char* kSampleMps =
    "NAME vorlan\n"
    "OBJSENSE\n"
    "    MAX\n"
    "ROWS\n"
    " N  profit\n"
    " L  cap_a_b\n"
    " G  c2\n"
    " E  bal\n"
    " G  rng\n"
    " G  cross\n"
    " L  cross_hi\n"
    "COLUMNS\n"
    "    x_1  profit  3\n"
    "    x_1  cap_a_b  1\n"
    "    x_1  bal  1\n"
    "    x_2  cap_a_b  2\n"
    "    x_2  bal  -1\n"
    "    MARKER  'MARKER'  'INTORG'\n"
    "    n  profit  -1.5\n"
    "    n  c2  1\n"
    "    m  c2  1\n"
    "    m  rng  4\n"
    "    MARKER  'MARKER'  'INTEND'\n"
    "    f  profit  0\n"
    "    neg  profit  0\n"
    "    low  cross  1\n"
    "    low  cross_hi  1\n"
    "    unused  profit  0\n"
    "RHS\n"
    "    RHS  profit  -7\n"
    "    RHS  cap_a_b  10\n"
    "    RHS  c2  1\n"
    "    RHS  bal  2\n"
    "    RHS  rng  -1\n"
    "    RHS  cross  5\n"
    "    RHS  cross_hi  4\n"
    "RANGES\n"
    "    RNG  rng  9\n"
    "BOUNDS\n"
    " FR BND  x_2\n"
    " LO BND  n  0\n"
    " PL BND  n\n"
    " LO BND  m  -2\n"
    " UP BND  m  5\n"
    " FX BND  f  3\n"
    " LO BND  neg  0\n"
    " UP BND  neg  -1\n"
    " MI BND  low\n"
    " UP BND  low  4\n"
    "ENDATA\n";

const char* kSampleLp =
    "\\ Problem: vorlan\n"
    "Maximize\n"
    " profit: + 3 x_1 - 1.5 n + 7\n"
    "Subject To\n"
    " cap_a_b: + 1 x_1 + 2 x_2 <= 10\n"
    " c2: + 1 n + 1 m >= 1\n"
    " bal: + 1 x_1 - 1 x_2 = 2\n"
    " rng: + 4 m >= -1\n"
    " rng_hi: + 4 m <= 8\n"
    " cross: + 1 low >= 5\n"
    " cross_hi: + 1 low <= 4\n"
    "Bounds\n"
    " x_2 free\n"
    " -2 <= m <= 5\n"
    " f = 3\n"
    " 0 <= neg <= -1\n"
    " -inf <= low <= 4\n"
    "General\n"
    " n m\n"
    "End\n";

TEST(SolveExport, MpsOfSample) { EXPECT_EQ(s::mps_text(sample()), kSampleMps); }

TEST(SolveExport, LpOfSample) { EXPECT_EQ(s::lp_text(sample()), kSampleLp); }

TEST(SolveExport, SanitizeName) {
    struct Case {
        std::string raw, want;
    } cases[] = {
        {"x_1", "x_1"},         {"a-b c[1]", "a_b_c_1_"}, {"2x", "_2x"},     {".5", "_.5"},
        {"e1", "_e1"},          {"Epsilon", "_Epsilon"},  {"free", "_free"}, {"INF", "_INF"},
        {"st", "_st"},          {"s.t.", "_s.t."},        {"", "_"},         {"S\xC3\xA3o", "S_o"},
        {"\xE2\x82\xAC", "_"}, {"a'b\"c:d", "a_b_c_d"},   {"freedom", "freedom"},
    };
    for (const auto& tc : cases) EXPECT_EQ(s::sanitize_name(tc.raw), tc.want) << tc.raw;
    EXPECT_EQ(s::sanitize_name(std::string(1000, 'a')).size(), 240u);
}

TEST(SolveExport, RawNameOfIndices) {
    EXPECT_EQ(s::raw_name("x", {}), "x");
    EXPECT_EQ(s::raw_name("x", {std::int64_t{-3}, 2.5, std::string("NY")}), "x_-3_2.5_NY");
    EXPECT_EQ(s::sanitize_name(s::raw_name("x", {std::int64_t{-3}})), "x__3");
}

TEST(SolveExport, NamesAreUniquePerKind) {
    c::Instance in;
    in.variables = {var("x", {std::int64_t{1}, std::int64_t{2}}), var("x", {std::string("1_2")}),
                    var("x_1_2_2", {}), var("obj", {})};
    in.rows = {row("obj", {}, 0, 1), row("", {}, 0, 1), row("c2", {}, 0, 0), row("r", {}, 0, 1),
               row("r_hi", {}, -kInf, 1)};
    auto n = s::make_names(in);
    EXPECT_EQ(n.columns, (std::vector<std::string>{"x_1_2", "x_1_2_2", "x_1_2_2_2", "obj"}));
    EXPECT_EQ(n.objective, "obj");
    EXPECT_EQ(n.rows, (std::vector<std::string>{"obj_2", "c2", "c2_2", "r", "r_hi_2"}));
    EXPECT_EQ(n.upper_rows, (std::vector<std::string>{"obj_2_hi", "c2_hi", "", "r_hi", ""}));
}

TEST(SolveExport, RowKinds) {
    struct Case {
        double lo, hi;
        s::RowKind want;
    } cases[] = {{-kInf, kInf, s::RowKind::Free}, {1, 1, s::RowKind::Equal},  {-kInf, 3, s::RowKind::Upper},
                 {3, kInf, s::RowKind::Lower},    {1, 3, s::RowKind::Range},  {3, 1, s::RowKind::Crossed}};
    for (const auto& tc : cases) EXPECT_EQ(s::row_kind(row("r", {}, tc.lo, tc.hi)), tc.want) << tc.lo << " " << tc.hi;
}

TEST(SolveExport, RepeatedTermsAreSummedAndZeroSumsDropped) {
    c::Instance in;
    in.variables = {var("x", {}), var("y", {})};
    in.objective.sense = c::Objective::Sense::Minimize;
    in.objective.terms = {{0, 1}, {1, 2}, {0, 2}, {1, -2}};
    in.rows = {row("r", {{1, 1}, {0, 1}, {1, 1}}, -kInf, 3), row("z", {{0, 1}, {0, -1}}, -kInf, 3)};
    std::string lp = s::lp_text(in);
    EXPECT_NE(lp.find(" obj: + 3 x\n"), std::string::npos) << lp;
    EXPECT_NE(lp.find(" r: + 2 y + 1 x <= 3\n"), std::string::npos) << lp;
    EXPECT_NE(lp.find(" z: 0 x <= 3\n"), std::string::npos) << lp;
    std::string mps = s::mps_text(in);
    EXPECT_NE(mps.find("    x  obj  3\n    x  r  1\n    y  r  2\n"), std::string::npos) << mps;
    EXPECT_EQ(mps.find("OBJSENSE"), std::string::npos);
}

TEST(SolveExport, InstanceWithoutVariables) {
    c::Instance in;
    in.rows = {row("", {}, 1, kInf)};
    EXPECT_EQ(s::mps_text(in),
              "NAME vorlan\nROWS\n N  obj\n G  c1\nCOLUMNS\nRHS\n    RHS  c1  1\nBOUNDS\nENDATA\n");
    EXPECT_EQ(s::lp_text(in), "\\ Problem: vorlan\nMinimize\n obj:\nSubject To\n c1: >= 1\nBounds\nEnd\n");
}

TEST(SolveExport, LongLpLinesAreWrapped) {
    c::Instance in;
    for (int i = 0; i < 200; ++i) in.variables.push_back(var("v", {std::int64_t{i}}));
    std::vector<c::Term> terms;
    for (int i = 0; i < 200; ++i) terms.push_back({i, 1});
    in.rows = {row("big", terms, -kInf, 1)};
    std::istringstream lp(s::lp_text(in));
    std::string line;
    int lines = 0;
    while (std::getline(lp, line)) {
        EXPECT_LE(line.size(), 210u);
        ++lines;
    }
    EXPECT_GT(lines, 10);
}

TEST(SolveExport, InvalidInstancesAreRefused) {
    auto base = [] {
        c::Instance in;
        in.variables = {var("x", {})};
        in.rows = {row("r", {{0, 1}}, 0, 1)};
        return in;
    };
    std::vector<std::pair<std::string, c::Instance>> cases;
    auto add = [&](std::string name, auto change) {
        c::Instance in = base();
        change(in);
        cases.emplace_back(std::move(name), std::move(in));
    };
    add("term beyond the variables", [](c::Instance& in) { in.rows[0].terms[0].var = 1; });
    add("negative variable number", [](c::Instance& in) { in.objective.terms = {{-1, 1}}; });
    add("NaN coefficient", [](c::Instance& in) { in.rows[0].terms[0].coef = std::nan(""); });
    add("infinite coefficient", [](c::Instance& in) { in.objective.terms = {{0, kInf}}; });
    add("infinite constant", [](c::Instance& in) { in.objective.constant = -kInf; });
    add("NaN bound", [](c::Instance& in) { in.variables = {var("x", {}, 0, std::nan(""))}; });
    add("NaN row side", [](c::Instance& in) { in.rows[0].lower = std::nan(""); });
    add("row at least +inf", [](c::Instance& in) { in.rows[0].lower = kInf; in.rows[0].upper = kInf; });
    add("row at most -inf", [](c::Instance& in) { in.rows[0].lower = -kInf; in.rows[0].upper = -kInf; });
    for (const auto& [name, in] : cases) {
        EXPECT_THROW(s::mps_text(in), std::invalid_argument) << name;
        EXPECT_THROW(s::lp_text(in), std::invalid_argument) << name;
    }
    EXPECT_NO_THROW(s::mps_text(base()));
}

TEST(SolveExport, FileErrorsNameThePath) {
    auto dir = std::filesystem::temp_directory_path() / "vorlan_no_such_dir_for_export";
    std::filesystem::remove_all(dir);
    try {
        s::write_mps_file(dir / "a.mps", sample());
        FAIL() << "expected an error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("vorlan_no_such_dir_for_export"), std::string::npos);
    }
    auto ok = std::filesystem::temp_directory_path() / "vorlan_export_test.lp";
    s::write_lp_file(ok, sample());
    std::ifstream f(ok);
    std::stringstream got;
    got << f.rdbuf();
    EXPECT_EQ(got.str(), kSampleLp);
    std::filesystem::remove(ok);
}

}  // namespace

// ------------------------------------------------------------------ read back by a solver

namespace {

std::string python() { return std::string(VORLAN_SOURCE_DIR) + "/.venv/bin/python"; }

bool have_solver() {
    static int ok = -1;
    if (ok < 0) {
        std::string cmd = "'" + python() + "' -c 'import highspy' >/dev/null 2>&1";
        ok = std::filesystem::exists(python()) && std::system(cmd.c_str()) == 0;
    }
    return ok == 1;
}

// Reads one file with the solver and returns "STATUS OBJECTIVE".
std::string solve_file(const std::filesystem::path& file) {
    std::string cmd = "'" + python() +
                      "' -c 'import sys, highspy\n"
                      "h = highspy.Highs(); h.setOptionValue(\"output_flag\", False)\n"
                      "assert h.readModel(sys.argv[1]) == highspy.HighsStatus.kOk\n"
                      "h.run(); st = h.modelStatusToString(h.getModelStatus())\n"
                      "print(st, repr(h.getInfo().objective_function_value) if st == \"Optimal\" else \"-\")' '" +
                      file.string() + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

c::Instance lp_max() {
    c::Instance in;
    in.variables = {var("x", {}, 0, 3), var("y", {})};
    in.objective.sense = c::Objective::Sense::Maximize;
    in.objective.terms = {{0, 3}, {1, 2}};
    in.objective.constant = 5;
    in.rows = {row("c", {{0, 1}, {1, 1}}, -kInf, 4), row("d", {{0, 1}, {1, 3}}, -kInf, 6)};
    return in;  // x = 3, y = 1
}

c::Instance milp_min() {
    c::Instance in;
    in.variables = {var("n", {}, 0, kInf, true), var("m", {}, -2, 5, true), var("z", {}, -kInf, kInf),
                    var("f", {}, 3, 3)};
    in.objective.sense = c::Objective::Sense::Minimize;
    in.objective.terms = {{0, 2}, {1, -1}, {2, 1}, {3, 1}};
    in.objective.constant = 1;
    in.rows = {row("r", {{0, 1}, {1, 1}}, 1.5, 4), row("e", {{2, 1}, {0, -1}}, -1, -1),
               row("u", {{1, 1}}, -kInf, 2.5)};
    return in;  // n = 0, m = 2 (2.5 if m were continuous), z = -1
}

c::Instance crossed() {
    c::Instance in;
    in.variables = {var("x", {}, 0, 10)};
    in.objective.sense = c::Objective::Sense::Minimize;
    in.objective.terms = {{0, 1}};
    in.rows = {row("r", {{0, 1}}, 5, 4)};
    return in;
}

TEST(SolveExportReadBack, SolverReadsBothFormatsToTheSameOptimum) {
    if (!have_solver()) GTEST_SKIP() << "no solver in " << python();
    struct Case {
        const char* name;
        c::Instance in;
        std::string want;
    } cases[] = {{"lp_max", lp_max(), "Optimal 16.0"},
                 {"milp_min", milp_min(), "Optimal 1.0"},
                 {"crossed", crossed(), "Infeasible -"}};
    auto dir = std::filesystem::temp_directory_path() / "vorlan_export_readback";
    std::filesystem::create_directories(dir);
    for (const auto& tc : cases) {
        auto mps = dir / (std::string(tc.name) + ".mps");
        auto lp = dir / (std::string(tc.name) + ".lp");
        s::write_mps_file(mps, tc.in);
        s::write_lp_file(lp, tc.in);
        EXPECT_EQ(solve_file(mps), tc.want) << tc.name << "\n" << s::mps_text(tc.in);
        EXPECT_EQ(solve_file(lp), tc.want) << tc.name << "\n" << s::lp_text(tc.in);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
