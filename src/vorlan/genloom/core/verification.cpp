#include "genloom/core/verification.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/number_text.hpp"

namespace genloom::verification {

using vorlan::text::number_text;

std::string summary_number(double v) {
    if (std::isinf(v)) return v > 0 ? "infinity" : "-infinity";
    if (std::isnan(v)) return "undefined";
    char buf[64];
    if (std::fabs(v) < 1e15 && v == std::nearbyint(v)) {
        std::snprintf(buf, sizeof buf, "%.0f", v == 0 ? 0.0 : v);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.12g", v);
    // %.12g may round to a whole number written with an exponent (999999999999.9 -> 1e+12).
    double back = std::strtod(buf, nullptr);
    if (std::fabs(back) < 1e15 && back == std::nearbyint(back)) std::snprintf(buf, sizeof buf, "%.0f", back);
    return buf;
}

const char* status_name(Status s) {
    switch (s) {
        case Status::Optimal: return "optimal";
        case Status::Feasible: return "feasible";
        case Status::Infeasible: return "infeasible";
        case Status::Unbounded: return "unbounded";
        case Status::InfeasibleOrUnbounded: return "infeasible or unbounded";
        case Status::TimeLimit: return "time limit";
        case Status::Interrupted: return "interrupted";
        case Status::Error: return "error";
    }
    return "error";
}

bool needs_revision(Status s) {
    return s == Status::Infeasible || s == Status::Unbounded || s == Status::InfeasibleOrUnbounded;
}

namespace {

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::size_t bound_count(const Report& r) {
    std::size_t n = 0;
    for (const auto& c : r.conflicts) n += c.is_bound;
    return n;
}

// "3 conflicting constraints", "2 conflicting constraints and 1 bound".
std::string conflict_count(const Report& r) {
    std::size_t bounds = bound_count(r), rows = r.conflicts.size() - bounds;
    if (bounds == 0) return plural(rows, "conflicting constraint", "conflicting constraints");
    if (rows == 0) return plural(bounds, "conflicting bound", "conflicting bounds");
    return plural(rows, "conflicting constraint", "conflicting constraints") + " and " +
           plural(bounds, "bound", "bounds");
}

std::string conflict_line(const Conflict& c) {
    std::string out = c.is_bound ? "- bound " : "- constraint ";
    out += c.name.empty() ? "(unlabelled)" : c.name;
    if (c.line > 0) out += " (line " + std::to_string(c.line) + ")";
    out += ": " + c.condition + "\n";
    return out;
}

void append_conflicts(std::string& out, const Report& r) {
    const std::size_t n = r.conflicts.size();
    if (r.irreducible)
        out += "These " + plural(n, "constraint or bound", "constraints and bounds") +
               " cannot all hold together, and dropping any one of them removes the conflict:\n";
    else
        out += "These " + plural(n, "constraint or bound", "constraints and bounds") +
               " cannot all hold together (a conflicting set; it may hold more than the smallest cause):\n";
    for (std::size_t i = 0; i < n && i < kListedConflicts; ++i) out += conflict_line(r.conflicts[i]);
    if (n > kListedConflicts) out += "- ... and " + std::to_string(n - kListedConflicts) + " more\n";
}

void append_unbounded(std::string& out, const Report& r) {
    const std::size_t n = r.unbounded.size();
    out += "These variables grow without limit along an improving direction; a constraint or bound that "
           "limits them is missing, or has the wrong sign or direction:\n";
    for (std::size_t i = 0; i < n && i < kListedUnbounded; ++i) out += "- " + r.unbounded[i] + "\n";
    if (n > kListedUnbounded) out += "- ... and " + std::to_string(n - kListedUnbounded) + " more\n";
}

void append_expressions(std::string& out, const Report& r) {
    if (r.expressions.empty()) return;
    const std::size_t shown = r.expressions.size() < kSummaryValues ? r.expressions.size() : kSummaryValues;
    out += shown == r.expressions.size() ? "Named expressions (dexpr):\n"
                                         : "Named expressions (dexpr, the first " + std::to_string(shown) + "):\n";
    for (std::size_t i = 0; i < shown; ++i)
        out += r.expressions[i].name + " = " + summary_number(r.expressions[i].value) + "\n";
}

}  // namespace

std::string solution_summary(const Report& r) {
    std::string out = "Solver status: ";
    out += status_name(r.status);
    if (r.status == Status::Feasible) out += " (the model has no objective)";
    out += "\n";
    if (r.objective) out += "Objective value: " + summary_number(*r.objective) + "\n";
    if (r.objectives.size() > 1) {
        out += "Goal values in priority order (lexicographic):";
        for (std::size_t k = 0; k < r.objectives.size(); ++k) out += (k ? ", " : " ") + summary_number(r.objectives[k]);
        out += "\n";
    }
    if (r.nonzero_count == 0) {
        out += "Every variable is zero.\n";
        append_expressions(out, r);
        return out;
    }
    const std::size_t shown = r.values.size() < kSummaryValues ? r.values.size() : kSummaryValues;
    if (shown == r.nonzero_count)
        out += "Non-zero variables (" + std::to_string(r.nonzero_count) + "):\n";
    else
        out += "Non-zero variables (the first " + std::to_string(shown) + " of " + std::to_string(r.nonzero_count) +
               "):\n";
    for (std::size_t i = 0; i < shown; ++i) out += r.values[i].name + " = " + summary_number(r.values[i].value) + "\n";
    append_expressions(out, r);
    return out;
}

std::string findings(const Report& r) {
    std::string out;
    switch (r.status) {
        case Status::Infeasible:
            out = "The solver proved the model infeasible: no values of the variables satisfy all constraints and "
                  "bounds with this data.\n";
            break;
        case Status::Unbounded:
            out = "The solver found the model unbounded: the objective improves without limit.\n";
            break;
        case Status::InfeasibleOrUnbounded:
            out = "The solver found the model infeasible or unbounded (it could not tell which).\n";
            break;
        default:
            out = std::string("Solver status: ") + status_name(r.status) + ".\n";
            break;
    }
    if (!r.conflicts.empty()) append_conflicts(out, r);
    if (!r.unbounded.empty()) append_unbounded(out, r);
    if (r.conflicts.empty() && r.unbounded.empty()) {
        if (r.status == Status::Unbounded)
            out += "Check that every variable in the objective is limited by a constraint or a bound in the "
                   "direction the objective pushes it.\n";
        else if (r.status == Status::Infeasible)
            out += "Check the constraints against the data: a requirement that exceeds what is available, a "
                   "wrong sign or direction, or an equality that should be an inequality.\n";
    }
    if (!r.message.empty()) out += "Note: " + r.message + "\n";
    return out;
}

std::string outcome_message(const Report& r, double time_limit) {
    switch (r.status) {
        case Status::Optimal:
            return r.objective ? "Optimal: objective " + number_text(*r.objective) : std::string("Optimal");
        case Status::Feasible: return "Feasible (no objective)";
        case Status::Infeasible:
            if (r.conflicts.empty()) return "Infeasible; revising...";
            return "Infeasible: " + conflict_count(r) + "; revising...";
        case Status::Unbounded:
            if (r.unbounded.empty()) return "Unbounded; revising...";
            return "Unbounded: " + plural(r.unbounded.size(), "variable", "variables") + " without limit; revising...";
        case Status::InfeasibleOrUnbounded: return "Infeasible or unbounded; revising...";
        case Status::TimeLimit: {
            std::string m = "Solver stopped at the time limit (" + number_text(time_limit) + " s)";
            if (r.objective) m += "; best objective so far " + number_text(*r.objective);
            return m + "; keeping the pair";
        }
        case Status::Interrupted: return "Solve interrupted";
        case Status::Error:
            return r.message.empty() ? std::string("Solver error; keeping the pair")
                                     : "Solver error: " + r.message + "; keeping the pair";
    }
    return "";
}

}  // namespace genloom::verification
