#include "genloom/bind/verify.hpp"

#include <cmath>
#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/registry.hpp"

namespace genloom {
namespace {

namespace vf = genloom::verification;

std::string text(const py::handle& o) { return std::string(Utf8(py::str(o)).view()); }

py::object entry(const py::handle& record, const char* key) {
    return record.attr("get")(key);
}

vf::Status status_of(const std::string& s) {
    for (vf::Status st : {vf::Status::Optimal, vf::Status::Feasible, vf::Status::Infeasible, vf::Status::Unbounded,
                          vf::Status::InfeasibleOrUnbounded, vf::Status::TimeLimit, vf::Status::Interrupted,
                          vf::Status::Error})
        if (s == vf::status_name(st)) return st;
    throw py::value_error("unknown solver status: " + s);
}

}  // namespace

vf::Report report_of(const py::handle& record) {
    vf::Report r;
    r.status = status_of(text(entry(record, "status")));
    py::object obj = entry(record, "objective");
    if (!obj.is_none()) r.objective = py::cast<double>(obj);
    py::object v = entry(record, "objectives");
    if (!v.is_none())
        for (py::handle g : v) r.objectives.push_back(py::cast<double>(g));
    v = entry(record, "seconds");
    if (!v.is_none()) r.seconds = py::cast<double>(v);
    v = entry(record, "message");
    if (!v.is_none()) r.message = text(v);
    v = entry(record, "values");
    if (!v.is_none())
        for (py::handle item : v) r.values.push_back({text(item[py::int_(0)]), py::cast<double>(item[py::int_(1)])});
    v = entry(record, "expressions");
    if (!v.is_none())
        for (py::handle item : v)
            r.expressions.push_back({text(item[py::int_(0)]), py::cast<double>(item[py::int_(1)])});
    v = entry(record, "nonzero_count");
    r.nonzero_count = v.is_none() ? r.values.size() : py::cast<std::size_t>(v);
    v = entry(record, "conflicts");
    if (!v.is_none())
        for (py::handle c : v) {
            vf::Conflict k;
            k.is_bound = text(entry(c, "kind")) == "bound";
            k.name = text(entry(c, "name"));
            py::object line = entry(c, "line");
            k.line = line.is_none() ? 0 : py::cast<int>(line);
            k.condition = text(entry(c, "condition"));
            r.conflicts.push_back(std::move(k));
        }
    v = entry(record, "irreducible");
    r.irreducible = !v.is_none() && truthy(v);
    v = entry(record, "unbounded");
    if (!v.is_none())
        for (py::handle u : v) r.unbounded.push_back(text(u));
    return r;
}

py::dict statistics_entry(const vf::Report& r) {
    py::dict d;
    d["status"] = vf::status_name(r.status);
    d["objective"] = r.objective ? py::object(py::float_(*r.objective)) : py::object(py::none());
    if (!r.objectives.empty()) {
        py::list goals;
        for (double g : r.objectives) goals.append(g);
        d["objectives"] = goals;
    }
    d["seconds"] = r.seconds;
    return d;
}

double time_limit_setting() {
    py::object setting = G("VERIFY_TIME_LIMIT");
    double t = py::cast<double>(py::module_::import("builtins").attr("float")(setting));
    if (!(t > 0)) throw py::value_error("VERIFY_TIME_LIMIT must be a positive number of seconds, not " +
                                        std::string(py::repr(setting)));
    return t;
}

void register_verify(py::module_& m) {
    m.def(
        "_verify_compiled",
        [](py::object compiler, py::object time_limit) {
            py::module_ vs = py::module_::import("vorlan.solve");
            return vs.attr("verify")(compiler, py::arg("time_limit") = time_limit,
                                     py::arg("max_values") = vf::kSummaryValues);
        },
        py::arg("compiler"), py::arg("time_limit") = py::none(),
        "Solve the pair a QelCompiler compiled last and analyse an infeasible or unbounded result\n"
        "(vorlan.solve.verify); the repair loop's solver step.");
}

}  // namespace genloom
