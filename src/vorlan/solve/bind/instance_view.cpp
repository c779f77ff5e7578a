// instance_view(compiler): the compiler's flat instance in the shape of QelCompiler.instance(),
// with the variables, the rows and the objective terms as one-pass iterators that build each
// entry when it is reached. A code generator that walks the instance once then needs memory
// for what it keeps, not for a host copy of the whole instance.
#include "solve/bind/instance_view.hpp"

#include <string>

#include "vorlan_core/bind/instance_entries.hpp"

namespace vorlan::solve::bind {

namespace c = vorlan::compiler;
using namespace vorlan::compiler::host_entries;

namespace {

// Walks one vector of the instance; holds the compiler so the instance outlives it.
struct Walk {
    enum class Kind { Variables, Rows, ObjectiveTerms };
    py::object owner;
    const c::Instance* inst = nullptr;
    Kind kind = Kind::Variables;
    std::size_t next = 0;

    std::size_t size() const {
        switch (kind) {
            case Kind::Variables: return inst->variables.size();
            case Kind::Rows: return inst->rows.size();
            case Kind::ObjectiveTerms: return inst->objective.terms.size();
        }
        return 0;
    }
    py::object step() {
        if (next >= size()) throw py::stop_iteration();
        const std::size_t k = next++;
        switch (kind) {
            case Kind::Variables: return variable_entry(inst->variables[k]);
            case Kind::Rows: return row_entry(inst->rows[k]);
            case Kind::ObjectiveTerms: {
                return term_tuple(inst->objective.terms[k]);
            }
        }
        throw py::stop_iteration();
    }
};

}  // namespace

py::dict instance_view(const py::object& owner, const c::Instance& inst) {
    auto walk = [&](Walk::Kind kind) { return py::cast(Walk{owner, &inst, kind, 0}); };
    py::dict out;
    out["variables"] = walk(Walk::Kind::Variables);
    py::dict obj;
    obj["sense"] = sense_name(inst.objective.sense);
    obj["label"] = inst.objective.label;
    obj["terms"] = walk(Walk::Kind::ObjectiveTerms);
    obj["constant"] = inst.objective.constant;
    out["objective"] = obj;
    if (!inst.lower_priority.empty()) out["objectives"] = objectives_list(inst);
    out["rows"] = walk(Walk::Kind::Rows);
    return out;
}

void register_instance_view(py::module_& m) {
    py::class_<Walk>(m, "_InstanceWalk", "One pass over the variables, rows or objective terms of an instance.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Walk::step)
        .def("__len__", &Walk::size);
}

}  // namespace vorlan::solve::bind
