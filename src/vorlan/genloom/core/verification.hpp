// What solving a compiled pair found, and the texts the repair loop makes of it: the short
// solution summary shown to the reviewer and the findings shown in a revision prompt.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace genloom::verification {

enum class Status {
    Optimal,
    Feasible,               // a solution of a model without objective
    Infeasible,
    Unbounded,
    InfeasibleOrUnbounded,  // the solver could not tell which
    TimeLimit,
    Interrupted,
    Error,
};

// Status as the statistics record and the command line spell it ("optimal", "time limit", ...).
const char* status_name(Status s);
// A status the LLM can act on: the pair is sent back for revision.
bool needs_revision(Status s);

struct NamedValue {
    std::string name;  // model name with index, e.g. x["a",1]
    double value = 0;
};

// One member of a conflicting set: a constraint row or a variable bound.
struct Conflict {
    bool is_bound = false;
    std::string name;        // constraint label or variable, with index values
    int line = 0;            // model line of the constraint (0 when unknown)
    std::string condition;   // what must hold, e.g. `x["a"] + x["b"] >= 40` or `<= 5`
};

struct Report {
    Status status = Status::Error;
    std::optional<double> objective;
    std::vector<double> objectives;       // lexicographic: every goal's value in priority order
    double seconds = 0;                   // solve plus conflict analysis
    std::string message;                  // the solver's words, or why no conflict set is given
    std::vector<NamedValue> values;       // non-zero variables in model order (may be capped)
    std::size_t nonzero_count = 0;        // all non-zero variables, shown or not
    std::vector<NamedValue> expressions;  // named expressions (dexprs) at the solution (may be capped)
    std::vector<Conflict> conflicts;      // infeasible: the conflicting rows and bounds
    bool irreducible = false;             // conflicts is minimal (drop any one and the rest hold)
    std::vector<std::string> unbounded;   // unbounded: variables along an improving ray
};

// At most this many variables in a summary and conflicts in a revision prompt.
constexpr std::size_t kSummaryValues = 20;
constexpr std::size_t kListedConflicts = 30;
constexpr std::size_t kListedUnbounded = 30;

// A number as the reviewer reads it: whole numbers without exponent or fraction (100000), others
// with 12 significant digits (1000.0000000000001 -> 1000), infinities as "infinity".
std::string summary_number(double v);

// Status, objective and the leading non-zero variables, for the alignment prompt.
std::string solution_summary(const Report& r);

// What went wrong and what to look at, for the solve-revision prompt.
std::string findings(const Report& r);

// The progress message after a solve ("Optimal: objective 7", "Infeasible: 3 conflicting
// constraints; revising...").
std::string outcome_message(const Report& r, double time_limit);

}  // namespace genloom::verification
