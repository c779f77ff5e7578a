// Model forms and texts of the infeasibility / unboundedness analysis.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "../support/temp_dir.hpp"
#include "common/number_text.hpp"
#include "common/replace_file.hpp"
#include "solve/core/analysis.hpp"
#include "solve/core/matrix.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace {

namespace c = vorlan::compiler;
namespace s = vorlan::solve;
using Side = s::ConflictMember::Side;

c::Instance compiled(const char* model, const char* data = "") {
    auto r = c::compile(model, data);
    if (!r.ok()) throw std::runtime_error(r.message());
    return *r.instance;
}

// x, y >= 0; cap: x + y <= 4; need: x >= 6 (a conflict); band: 1 <= y <= 3; eq: x - y == 0.
const char* kModel =
    "dvar float+ x;\n"
    "dvar float+ y;\n"
    "minimize o: x + 2*y;\n"
    "subject to {\n"
    "  cap: x + y <= 4;\n"
    "  need: x >= 6;\n"
    "  band: 1 <= y <= 3;\n"
    "  eq: x - y == 0;\n"
    "}\n";

TEST(ConflictAnalysis, ElasticFormAddsOneSlackPerFiniteSide) {
    auto inst = compiled(kModel);
    auto m = s::matrix_form(inst);
    auto e = s::elastic_form(m);
    // cap and need have one finite side, band and eq two: 6 slacks after the 2 columns
    ASSERT_EQ(e.cols(), 8u);
    EXPECT_EQ(e.rows(), m.rows());
    EXPECT_FALSE(e.maximize);
    EXPECT_EQ(std::vector<double>(e.c.begin(), e.c.begin() + 2), (std::vector<double>{0, 0}));
    for (std::size_t j = 2; j < 8; ++j) EXPECT_EQ(e.c[j], 1.0);
    // cap (upper only) gets -1, need (lower only) +1, eq both
    EXPECT_EQ(std::vector<double>(e.data.begin() + e.indptr[0], e.data.begin() + e.indptr[1]),
              (std::vector<double>{1, 1, -1}));
    EXPECT_EQ(std::vector<double>(e.data.begin() + e.indptr[1], e.data.begin() + e.indptr[2]),
              (std::vector<double>{1, 1}));
    EXPECT_EQ(e.indptr[4] - e.indptr[3], 4);
}

TEST(ConflictAnalysis, CertificateSupportRestrictionAndLift) {
    auto inst = compiled(kModel);
    auto m = s::matrix_form(inst);
    // duals of a phase-one optimum: need tight at its lower side, cap at its upper side,
    // y's lower bound tight
    auto members = s::certificate_support(m, {-1, 1, 0, 1e-12}, {0, 1});
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ((std::tuple{members[0].is_bound, members[0].index, members[0].side}), (std::tuple{false, 0, Side::Upper}));
    EXPECT_EQ((std::tuple{members[1].is_bound, members[1].index, members[1].side}), (std::tuple{false, 1, Side::Lower}));
    EXPECT_EQ((std::tuple{members[2].is_bound, members[2].index, members[2].side}), (std::tuple{true, 1, Side::Lower}));

    // only the need row and y's bound: the sub-model has y as its first column
    auto sub = s::restrict_to(m, {{true, 1, Side::Lower}, {false, 1, Side::Lower}});
    EXPECT_EQ(sub.cols, (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(sub.rows, (std::vector<std::int32_t>{1}));
    EXPECT_EQ(sub.form.col_lower[0], 0);               // the member bound is kept
    EXPECT_EQ(sub.form.col_lower[1], -c::kInf);        // every other bound is free
    EXPECT_EQ(sub.form.row_upper[0], c::kInf);
    auto back = s::lift(sub, {{false, 0, Side::Lower}, {true, 0, Side::Lower}});
    EXPECT_EQ(back[0].index, 1);
    EXPECT_EQ(back[1].index, 1);
    EXPECT_TRUE(back[1].is_bound);
}

TEST(ConflictAnalysis, RaySupportTakesTheOrientationThatFitsTheFiniteSides) {
    // out: x + y <= 3 and need: x + y >= 5 over x, y >= 0 (a ray weighs both rows equally)
    auto inst = compiled("dvar float+ x;\ndvar float+ y;\nminimize o: x;\n"
                         "subject to { out: x + y <= 3; need: x + y >= 5; }\n");
    auto m = s::matrix_form(inst);
    for (double sign : {1.0, -1.0}) {  // either sign convention gives the same members
        auto members = s::ray_support(m, {-sign, sign});
        ASSERT_EQ(members.size(), 2u);
        EXPECT_EQ((std::tuple{members[0].index, members[0].side}), (std::tuple{0, Side::Upper}));
        EXPECT_EQ((std::tuple{members[1].index, members[1].side}), (std::tuple{1, Side::Lower}));
    }
    // with need: x - y >= 5 and out: x <= 3 the ray leans on y's lower bound as well
    auto bounded = compiled("dvar float+ x;\ndvar float+ y;\nminimize o: x;\n"
                            "subject to { out: x <= 3; need: x - y >= 5; }\n");
    auto mb = s::matrix_form(bounded);
    auto members = s::ray_support(mb, {-1, 1});
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ((std::tuple{members[2].is_bound, members[2].index, members[2].side}), (std::tuple{true, 1, Side::Lower}));
    EXPECT_EQ(s::ray_columns({0, 2e-12, -3, 0.5}), (std::vector<std::int32_t>{2, 3}));
}

TEST(ConflictAnalysis, DescriptionsUseModelNames) {
    auto inst = compiled(
        "{string} W = ...;\n"
        "dvar float+ x[W];\n"
        "dvar float z in -1..5;\n"
        "minimize o: sum(w in W) x[w];\n"
        "subject to {\n"
        "  forall(w in W) lim: 2*x[w] - z <= 3;\n"
        "  total: sum(w in W) x[w] >= 100;\n"
        "  eq: z == 2;\n"
        "}\n",
        "W = {\"a\", \"b\", \"c\", \"d\", \"e\", \"f\", \"g\", \"h\"};\n");
    auto m = s::matrix_form(inst);
    auto lim = s::describe(inst, m, {false, 1, Side::Upper});
    EXPECT_EQ(lim.name, "lim[\"b\"]");
    EXPECT_EQ(lim.line, 6);
    EXPECT_EQ(lim.condition, "2*x[\"b\"] - z <= 3");
    auto total = s::describe(inst, m, {false, 8, Side::Lower});
    EXPECT_EQ(total.name, "total");
    EXPECT_EQ(total.condition,
              "x[\"a\"] + x[\"b\"] + x[\"c\"] + x[\"d\"] + x[\"e\"] + x[\"f\"] + ... (8 terms in all) >= 100");
    EXPECT_EQ(s::describe(inst, m, {false, 9, Side::Both}).condition, "z == 2");
    auto bound = s::describe(inst, m, {true, 8, Side::Upper});
    EXPECT_TRUE(bound.is_bound);
    EXPECT_EQ(bound.name, "z");
    EXPECT_EQ(bound.condition, "z <= 5");
    EXPECT_EQ(s::describe(inst, m, {true, 8, Side::Both}).condition, "z >= -1, z <= 5");
}

TEST(ConflictAnalysis, UnboundedColumnsFromTheBox) {
    auto inst = compiled(
        "dvar float x;\ndvar float+ y;\ndvar float w in 0..7;\nmaximize o: x + y - w;\n"
        "subject to { c: x - y <= 1; }\n");
    auto m = s::matrix_form(inst);
    const double box = s::box_limit(m);
    EXPECT_EQ(box, 7e6);
    auto b = s::boxed_form(m, box);
    EXPECT_EQ(b.col_lower[0], -box);
    EXPECT_EQ(b.col_upper[1], box);
    EXPECT_EQ(b.col_upper[2], 7);
    EXPECT_EQ(s::columns_at_box(m, {box, box, 7}, box), (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(s::columns_at_box(m, {3, -box, 0}, box), (std::vector<std::int32_t>{}));  // y's lower bound is 0
    EXPECT_EQ(s::free_objective_columns(m), (std::vector<std::int32_t>{0, 1}));
}

TEST(ReplaceFile, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    auto path = dir.root / "m.lp";
    std::ofstream(path) << "good";
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_THROW(vorlan::files::write_replacing(path, [](std::ostream& o) {
                     o << "half";
                     throw std::runtime_error("disk full");
                 }),
                 std::runtime_error);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "good");
    vorlan::files::write_replacing(path, [](std::ostream& o) { o << "new"; });
    std::ifstream again(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "new");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root), {}), 1);  // no temporary left
    try {
        vorlan::files::write_replacing(dir.root / "missing" / "m.lp", [](std::ostream&) {});
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
    }
}

TEST(NumberText, ShortestRoundTrip) {
    for (auto [v, t] : std::vector<std::pair<double, std::string>>{
             {7, "7"}, {-0.0, "0"}, {0.1, "0.1"}, {1e21, "1e+21"}, {54378, "54378"}, {-2.5e-7, "-2.5e-07"}})
        EXPECT_EQ(vorlan::text::number_text(v), t);
}

}  // namespace
