#include <gtest/gtest.h>

#include "solve/core/matrix.hpp"

namespace c = vorlan::compiler;
namespace s = vorlan::solve;
using c::kInf;

namespace {

TEST(SolveMatrix, RowsColumnsAndBounds) {
    c::Instance in;
    for (int j = 0; j < 3; ++j) {
        c::Variable v;
        v.name = "v";
        v.index = {std::int64_t{j}};
        if (j == 1) v.lower = -kInf;
        if (j == 2) v.upper = 4, v.integer = true;
        in.variables.push_back(v);
    }
    in.objective.sense = c::Objective::Sense::Maximize;
    in.objective.terms = {{2, 1}, {0, 2}, {2, 0.5}};
    in.objective.constant = -3;
    auto row = [](std::vector<c::Term> t, double lo, double hi) {
        c::Row r;
        r.terms = std::move(t);
        r.lower = lo;
        r.upper = hi;
        return r;
    };
    in.rows = {row({{2, 1}, {0, 1}, {2, 2}}, -kInf, 5),  // repeats summed, columns sorted
               row({{1, 1}}, -kInf, kInf),              // free: left out
               row({{0, 1}, {0, -1}, {1, 2}}, 1, 1),    // cancelling column dropped
               row({}, 0, kInf)};                        // empty row kept

    auto m = s::matrix_form(in);
    EXPECT_TRUE(m.maximize);
    EXPECT_EQ(m.c, (std::vector<double>{2, 0, 1.5}));
    EXPECT_EQ(m.offset, -3);
    EXPECT_EQ(m.indptr, (std::vector<std::int64_t>{0, 2, 3, 3}));
    EXPECT_EQ(m.indices, (std::vector<std::int32_t>{0, 2, 1}));
    EXPECT_EQ(m.data, (std::vector<double>{1, 3, 2}));
    EXPECT_EQ(m.row_source, (std::vector<std::int32_t>{0, 2, 3}));
    EXPECT_EQ(m.row_lower, (std::vector<double>{-kInf, 1, 0}));
    EXPECT_EQ(m.row_upper, (std::vector<double>{5, 1, kInf}));
    EXPECT_EQ(m.col_lower, (std::vector<double>{0, -kInf, 0}));
    EXPECT_EQ(m.col_upper, (std::vector<double>{kInf, kInf, 4}));
    EXPECT_EQ(m.integrality, (std::vector<std::uint8_t>{0, 0, 1}));
}

TEST(SolveMatrix, RefusesWhatExportsRefuse) {
    c::Instance in;
    in.variables.resize(1);
    in.objective.terms = {{3, 1}};
    EXPECT_THROW(s::matrix_form(in), std::invalid_argument);
}

}  // namespace
