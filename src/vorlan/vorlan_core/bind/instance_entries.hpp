// The host shape of a compiled instance's entries, shared by QelCompiler.instance() and the
// solve module's one-pass view, so both hand code generators the same dicts.
#pragma once
#include <pybind11/pybind11.h>

#include <string>
#include <variant>
#include <vector>

#include "vorlan_core/core/instance.hpp"

namespace vorlan::compiler::host_entries {
namespace py = pybind11;

inline py::list index_list(const std::vector<IndexValue>& idx) {
    py::list l;
    for (const auto& v : idx) l.append(std::visit([](const auto& x) { return py::cast(x); }, v));
    return l;
}

inline py::tuple term_tuple(const Term& t) { return py::make_tuple(t.var, t.coef); }

inline py::list terms_list(const std::vector<Term>& terms) {
    py::list l;
    for (const auto& t : terms) l.append(term_tuple(t));
    return l;
}

inline const char* sense_name(Objective::Sense s) {
    return s == Objective::Sense::Minimize ? "minimize" : s == Objective::Sense::Maximize ? "maximize" : "none";
}

// {sense, label, terms, constant} of one objective.
inline py::dict objective_entry(const Objective& o) {
    py::dict d;
    d["sense"] = sense_name(o.sense);
    d["label"] = o.label;
    d["terms"] = terms_list(o.terms);
    d["constant"] = o.constant;
    return d;
}

// Every goal of a lexicographic objective in priority order, the first one included.
inline py::list objectives_list(const Instance& in) {
    py::list l;
    l.append(objective_entry(in.objective));
    for (const auto& o : in.lower_priority) l.append(objective_entry(o));
    return l;
}

inline py::dict variable_entry(const Variable& v) {
    py::dict d;
    d["name"] = v.name;
    d["index"] = index_list(v.index);
    d["full_name"] = v.full_name();
    d["lower"] = v.lower;
    d["upper"] = v.upper;
    d["integer"] = v.integer;
    return d;
}

inline py::dict row_entry(const Row& r) {
    py::dict d;
    d["label"] = r.label;
    d["index"] = index_list(r.index);
    d["terms"] = terms_list(r.terms);
    d["lower"] = r.lower;
    d["upper"] = r.upper;
    d["line"] = r.line;
    return d;
}

}  // namespace vorlan::compiler::host_entries
