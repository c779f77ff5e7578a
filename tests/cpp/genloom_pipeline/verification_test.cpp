// Texts the repair loop makes of a solver report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "genloom/core/verification.hpp"

namespace {

namespace vf = genloom::verification;

TEST(VerificationText, SummaryIsCapped) {
    vf::Report r;
    r.status = vf::Status::Optimal;
    r.objective = 3.5;
    for (int i = 0; i < 25; ++i) r.values.push_back({"x[" + std::to_string(i) + "]", 1.0 * i + 1});
    r.nonzero_count = 1000;
    std::string s = vf::solution_summary(r);
    EXPECT_EQ(s.rfind("Solver status: optimal\nObjective value: 3.5\nNon-zero variables (the first 20 of 1000):\n"
                      "x[0] = 1\n", 0), 0u);
    EXPECT_NE(s.find("x[19] = 20\n"), std::string::npos);
    EXPECT_EQ(s.find("x[20]"), std::string::npos);

    r.values.resize(1);
    r.nonzero_count = 1;
    r.expressions = {{"totalRent", 1000.0000000000001}};
    EXPECT_EQ(vf::solution_summary(r), "Solver status: optimal\nObjective value: 3.5\nNon-zero variables (1):\n"
                                       "x[0] = 1\nNamed expressions (dexpr):\ntotalRent = 1000\n");

    vf::Report f;
    f.status = vf::Status::Feasible;
    EXPECT_EQ(vf::solution_summary(f), "Solver status: feasible (the model has no objective)\nEvery variable is zero.\n");
}

TEST(VerificationText, SummaryListsEveryGoalOfALexicographicObjective) {
    vf::Report r;
    r.status = vf::Status::Optimal;
    r.objective = 0;
    r.objectives = {0, -21, 4};
    r.values = {{"a", 6}};
    r.nonzero_count = 1;
    EXPECT_NE(vf::solution_summary(r).find("Goal values in priority order (lexicographic): 0, -21, 4\n"),
              std::string::npos);
    r.objectives = {};  // one objective: no such line
    EXPECT_EQ(vf::solution_summary(r).find("Goal values"), std::string::npos);
}

TEST(VerificationText, FindingsNameConflictsAndUnboundedVariables) {
    vf::Report r;
    r.status = vf::Status::Infeasible;
    r.conflicts = {{false, "demand[\"s1\"]", 12, "x[\"w1\",\"s1\"] + x[\"w2\",\"s1\"] >= 40"},
                   {true, "x[\"w1\",\"s1\"]", 0, "x[\"w1\",\"s1\"] <= 5"},
                   {false, "", 9, "y >= 1"}};
    r.irreducible = true;
    std::string f = vf::findings(r);
    EXPECT_NE(f.find("These 3 constraints and bounds cannot all hold together, and dropping any one"), std::string::npos);
    EXPECT_NE(f.find("- constraint demand[\"s1\"] (line 12): x[\"w1\",\"s1\"] + x[\"w2\",\"s1\"] >= 40\n"
                     "- bound x[\"w1\",\"s1\"]: x[\"w1\",\"s1\"] <= 5\n- constraint (unlabelled) (line 9): y >= 1\n"),
              std::string::npos);
    EXPECT_EQ(vf::outcome_message(r, 60), "Infeasible: 2 conflicting constraints and 1 bound; revising...");

    r.irreducible = false;
    r.conflicts.assign(45, {false, "c", 1, "x >= 1"});
    f = vf::findings(r);
    EXPECT_NE(f.find("(a conflicting set; it may hold more than the smallest cause)"), std::string::npos);
    EXPECT_NE(f.find("- ... and 15 more\n"), std::string::npos);

    vf::Report u;
    u.status = vf::Status::Unbounded;
    EXPECT_NE(vf::findings(u).find("Check that every variable in the objective is limited"), std::string::npos);
    EXPECT_EQ(vf::outcome_message(u, 60), "Unbounded; revising...");
    u.unbounded = {"x", "y"};
    EXPECT_EQ(vf::outcome_message(u, 60), "Unbounded: 2 variables without limit; revising...");
    EXPECT_NE(vf::findings(u).find("- x\n- y\n"), std::string::npos);
}

}  // namespace

namespace {

TEST(VerificationText, SummaryNumbersReadAsTheModelMeansThem) {
    const std::vector<std::pair<double, std::string>> cases = {
        {100000, "100000"}, {1e13, "10000000000000"}, {1000.0000000000001, "1000"}, {-0.0, "0"},
        {0.1, "0.1"}, {2.5e-7, "2.5e-07"}, {1e300, "1e+300"}, {1.0 / 0.0, "infinity"}, {-1.0 / 0.0, "-infinity"},
        {999999999999.99, "1000000000000"}};
    for (const auto& [v, text] : cases) EXPECT_EQ(vf::summary_number(v), text) << v;
}

}  // namespace
