// The flat linear instance a compiled model expands to: every forall, sum and filter
// evaluated over the data. Solvers and exporters read this and nothing else.
#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <variant>
#include <vector>

namespace vorlan::compiler {

// One component of an index tuple: an integer, a float or a string value.
using IndexValue = std::variant<std::int64_t, double, std::string>;

// Text form of an index tuple as it appears in reports: [1]["a"] -> `[1]["a"]`.
std::string index_text(const std::vector<IndexValue>& index);

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Variable {
    std::string name;                // declared name, e.g. "x"
    std::vector<IndexValue> index;   // index values, empty for a scalar variable
    double lower = 0.0;              // -kInf when unbounded below
    double upper = kInf;             // kInf when unbounded above
    bool integer = false;            // int, int+ and boolean variables
    std::string full_name() const { return name + index_text(index); }
};

struct Term {
    std::int32_t var;  // position in Instance::variables
    double coef;
};

// lower <= sum(terms) <= upper; equality when lower == upper.
struct Row {
    std::string label;               // constraint label, or "" when unlabelled
    std::vector<IndexValue> index;   // index values of the label (forall iterators)
    std::vector<Term> terms;         // merged: each variable at most once, no zero coefficients
    double lower = -kInf;
    double upper = kInf;
    int line = 0;                    // model line of the constraint
};

struct Objective {
    enum class Sense { None, Minimize, Maximize };
    Sense sense = Sense::None;       // None: a feasibility model
    std::string label;
    std::vector<Term> terms;         // merged as in Row
    double constant = 0.0;
};

// A cell of a named expression (dexpr), kept so that a solution report can give its value.
struct NamedExpression {
    std::string name;
    std::vector<IndexValue> index;
    std::vector<Term> terms;         // as written: a variable may occur more than once
    double constant = 0.0;
    std::string full_name() const { return name + index_text(index); }
};

// Named-expression cells kept for reports, at most (the first in model order).
constexpr std::size_t kReportedExpressions = 200;

// How the flat index of a variable or named expression indexed by a set of tuples reads as the
// model writes it: per dimension the number of flat values it takes and, for a tuple, which of
// them are its key fields (all fields when the tuple type has no key).
struct IndexLayout {
    struct Dim {
        std::size_t width = 1;
        bool tuple = false;
        std::vector<std::size_t> shown;  // positions within the dimension's values
    };
    std::string name;
    std::vector<Dim> dims;
};

struct Instance {
    std::vector<Variable> variables;
    Objective objective;
    // lexicographic(e1, e2, ...): objective holds e1, these the later goals in priority order
    // (same sense and label); empty for a model with one objective.
    std::vector<Objective> lower_priority;
    std::vector<Row> rows;
    std::vector<NamedExpression> expressions;  // the first kReportedExpressions dexpr cells
    std::vector<IndexLayout> layouts;          // declarations indexed by a set of tuples
};

// `name` with its index as the model writes it: `ship[<"A","B">]` for a tuple-set index (key
// fields only), `x["a"][2]` otherwise; infinite values read "infinity".
std::string written_name(const Instance& inst, const std::string& name, const std::vector<IndexValue>& index);

}  // namespace vorlan::compiler
