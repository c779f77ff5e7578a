// Why a compiled model has no optimum: the model forms a solver is run on to find a
// conflicting set of constraints and bounds (infeasible) or the variables along an improving
// ray (unbounded), and their description in the model's own names.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "solve/core/matrix.hpp"
#include "vorlan_core/core/instance.hpp"

namespace vorlan::solve {

// A constraint row side or a column bound taking part in a conflict, in MatrixForm indices.
struct ConflictMember {
    enum class Side { Lower, Upper, Both };
    bool is_bound = false;
    std::int32_t index = 0;  // kept row of the MatrixForm, or column
    Side side = Side::Both;
};

// Phase-one form of `m`: each finite row side gets a slack column (cost 1, at least 0) that can
// make up any violation, the original objective and integrality are dropped and column bounds
// stay as they are. Its optimum is the least total violation; a positive one proves `m`
// infeasible, and its duals certify it.
MatrixForm elastic_form(const MatrixForm& m);

// The rows with a non-zero dual and the column bounds with a non-zero reduced cost at a
// phase-one optimum (row_dual over m's rows, col_dual over m's columns, minimisation signs):
// the support of the infeasibility certificate. Each member names the side that is tight.
std::vector<ConflictMember> certificate_support(const MatrixForm& m, const std::vector<double>& row_dual,
                                                const std::vector<double>& col_dual, double tol = 1e-7);

// The support of a dual ray (a Farkas certificate over m's rows, as a solver reports it after
// proving an LP infeasible): the rows it weighs and the column bounds that A^T y leans on.
// Solvers differ in the ray's sign; the orientation that fits the finite sides is taken.
std::vector<ConflictMember> ray_support(const MatrixForm& m, const std::vector<double>& dual_ray);

// Columns moving along a primal ray (an improving direction of an unbounded LP).
std::vector<std::int32_t> ray_columns(const std::vector<double>& primal_ray);

// The model restricted to a conflicting set: its rows, over the columns they touch (plus the
// columns of bound members), with only the members' bounds kept and every other bound free.
// `rows` and `cols` map the sub-model's rows and columns back to `m`.
struct SubModel {
    MatrixForm form;
    std::vector<std::int32_t> rows, cols;
};
SubModel restrict_to(const MatrixForm& m, const std::vector<ConflictMember>& members);

// The members of a sub-model conflict (indices into sub.form) in the indices of the model it
// was cut from.
std::vector<ConflictMember> lift(const SubModel& sub, const std::vector<ConflictMember>& members);

// A box for an unbounded model: every infinite column bound becomes +-limit, where limit is
// 1e6 times the largest finite magnitude among bounds and row sides (at least 1e6).
double box_limit(const MatrixForm& m);
MatrixForm boxed_form(const MatrixForm& m, double limit);
// Columns of `m` with an infinite bound that a solution of the boxed form pushed to the box.
std::vector<std::int32_t> columns_at_box(const MatrixForm& m, const std::vector<double>& x, double limit);
// Fallback when no ray is known: objective columns that are free in their improving direction.
std::vector<std::int32_t> free_objective_columns(const MatrixForm& m);

// A member in the model's names: constraint label with index values (or a variable), its model
// line, and the condition that cannot hold, e.g. `x["a"] + 2*y >= 40`.
struct ConflictText {
    bool is_bound = false;
    std::string name;
    int line = 0;
    std::string condition;
};
ConflictText describe(const compiler::Instance& inst, const MatrixForm& m, const ConflictMember& c);

// The left-hand side of a row in model names, the first `max_terms` terms and a count of the rest.
std::string row_expression(const compiler::Instance& inst, const compiler::Row& row, std::size_t max_terms = 6);

}  // namespace vorlan::solve
