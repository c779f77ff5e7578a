// vorlan.solve: solve a compiled model in-process with HiGHS, analyse a model that has no
// optimum, or export it as MPS / LP for other solvers.
//
// Every operation takes either a model and data text pair (compiled here) or a QelCompiler
// that has compiled one (nothing is compiled twice). HiGHS (highspy) and NumPy are an optional
// extra, imported inside the operations that need them, so the module loads and the exports
// work without them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

#include "solve/bind/highs.hpp"
#include "solve/bind/instance_view.hpp"
#include "solve/bind/results.hpp"
#include "solve/core/export.hpp"
#include "solve/core/matrix.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace py = pybind11;
namespace c = vorlan::compiler;
namespace s = vorlan::solve;
namespace sb = vorlan::solve::bind;

namespace {

using Clock = std::chrono::steady_clock;

// Compiles without the GIL and raises the compiler's own error kinds on failure.
std::shared_ptr<const c::Instance> compile_instance(const std::string& model, const std::string& data,
                                                    double* elapsed = nullptr) {
    c::CompileResult r;
    {
        py::gil_scoped_release nogil;
        auto t0 = Clock::now();
        r = c::compile(model, data);
        if (elapsed) *elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    if (!r.ok()) {
        py::module_ core = py::module_::import("vorlan.vorlan_core");
        py::object kind = r.has_syntax_error() && py::hasattr(core, "VorlanSyntaxError")
                              ? core.attr("VorlanSyntaxError")
                              : core.attr("SemanticError");
        PyErr_SetString(kind.ptr(), r.message().c_str());
        throw py::error_already_set();
    }
    if (!r.instance) throw std::runtime_error("the compiler produced no instance");
    return r.instance;
}

// The instance a QelCompiler holds; one that has compiled nothing yet is an error.
const c::Instance& compiled_instance(const c::Compiler& compiler) {
    const c::Instance& inst = compiler.instance();
    if (inst.variables.empty() && inst.rows.empty() && inst.objective.sense == c::Objective::Sense::None &&
        inst.objective.terms.empty())
        throw py::value_error("the QelCompiler has not compiled a model yet (call compile_model first)");
    return inst;
}

double seconds_or_inf(const py::object& time_limit) {
    if (time_limit.is_none()) return std::numeric_limits<double>::infinity();
    double t = py::cast<double>(py::module_::import("builtins").attr("float")(time_limit));
    if (!(t > 0)) throw py::value_error("time_limit must be a positive number of seconds");
    return t;
}

// A NumPy array over v's buffer, which it takes over: no copy of a large matrix.
template <typename T>
py::array_t<T> array(std::vector<T>&& v) {
    if (v.empty()) return py::array_t<T>(0);
    auto* owned = new std::vector<T>(std::move(v));
    py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
}

py::tuple index_tuple(const std::vector<c::IndexValue>& index) {
    py::tuple t(index.size());
    for (std::size_t k = 0; k < index.size(); ++k)
        t[k] = std::visit([](const auto& x) { return py::cast(x); }, index[k]);
    return t;
}

py::object index_object(const c::IndexValue& v) {
    return std::visit([](const auto& x) -> py::object { return py::cast(x); }, v);
}

// (name, index tuple) of every variable. A block's name and the values of each position of
// its sets are made once and shared by the tuples of all its variables.
py::list column_keys(const c::Variables& vars) {
    py::list out(static_cast<py::ssize_t>(vars.size()));
    for (const auto& b : vars.blocks()) {
        py::str name(b.name);
        std::vector<std::vector<std::vector<py::object>>> parts(b.dims.size());  // dim, position, values
        for (std::size_t d = 0; d < b.dims.size(); ++d) {
            const auto& dim = b.dims[d];
            parts[d].resize(dim.count);
            for (std::size_t k = 0; k < dim.count; ++k) {
                if (dim.is_range) {
                    parts[d][k].push_back(py::int_(dim.lo + static_cast<std::int64_t>(k)));
                } else {
                    for (auto q = dim.offsets[k]; q < dim.offsets[k + 1]; ++q)
                        parts[d][k].push_back(index_object(dim.values[q]));
                }
            }
        }
        std::vector<std::size_t> pos(b.dims.size(), 0);
        for (std::size_t j = 0; j < b.count; ++j) {
            std::size_t width = 0;
            for (std::size_t d = 0; d < pos.size(); ++d) width += parts[d][pos[d]].size();
            py::tuple index(width);
            std::size_t at = 0;
            for (std::size_t d = 0; d < pos.size(); ++d)
                for (const auto& o : parts[d][pos[d]]) PyTuple_SET_ITEM(index.ptr(), at++, o.inc_ref().ptr());
            PyList_SET_ITEM(out.ptr(), static_cast<py::ssize_t>(b.first + j), py::make_tuple(name, index).release().ptr());
            for (std::size_t d = pos.size(); d-- > 0;) {
                if (++pos[d] < b.dims[d].count) break;
                pos[d] = 0;
            }
        }
    }
    return out;
}

// The arrays of milp's problem form plus, with names, the (name, index) of every column and
// kept row.
py::dict matrices_of(const c::Instance& inst, bool names) {
    sb::import_solver_module("numpy");
    s::MatrixForm m = s::matrix_form(inst);
    py::dict out;
    out["maximize"] = m.maximize;
    out["c"] = array(std::move(m.c));
    out["offset"] = m.offset;
    // 32-bit offsets when they fit: the sparse matrix then needs no index conversion.
    if (!m.indptr.empty() && m.indptr.back() <= INT32_MAX) {
        py::array_t<std::int32_t> ip(static_cast<py::ssize_t>(m.indptr.size()));
        auto* p = ip.mutable_data();
        for (std::size_t k = 0; k < m.indptr.size(); ++k) p[k] = static_cast<std::int32_t>(m.indptr[k]);
        out["indptr"] = ip;
    } else {
        out["indptr"] = array(std::move(m.indptr));
    }
    out["indices"] = array(std::move(m.indices));
    out["data"] = array(std::move(m.data));
    out["row_lower"] = array(std::move(m.row_lower));
    out["row_upper"] = array(std::move(m.row_upper));
    out["col_lower"] = array(std::move(m.col_lower));
    out["col_upper"] = array(std::move(m.col_upper));
    out["integrality"] = array(std::move(m.integrality));
    if (!names) return out;
    out["columns"] = column_keys(inst.variables);
    py::list rows;
    for (auto i : m.row_source) {
        const auto& r = inst.rows[i];
        rows.append(py::make_tuple(r.label, index_tuple(r.index)));
    }
    out["rows"] = rows;
    return out;
}

std::string write_export(const c::Instance& inst, const std::filesystem::path& path, bool mps) {
    {
        py::gil_scoped_release nogil;
        if (mps)
            s::write_mps_file(path, inst);
        else
            s::write_lp_file(path, inst);
    }
    return s::dropped_goals_note(inst);
}

constexpr const char* kSolveDoc =
    "Solves the pair in-process with HiGHS. Returns {'status': 'optimal' | 'feasible' (a model\n"
    "without objective) | 'infeasible' | 'unbounded' | 'infeasible or unbounded' | 'time limit' |\n"
    "'interrupted' (Ctrl-C) | 'limit' | 'error', 'message', 'objective' (None without a solution\n"
    "or objective), 'bound' (a MIP's best bound, or None), 'values': [(name, index, value), ...]\n"
    "for the non-zero variables in declaration order (the best solution found so far after a\n"
    "time limit or Ctrl-C), 'names': their full names (x[\"a\"][1]), 'timings': seconds spent in 'compile' (parse, check, expand; 0 for a\n"
    "QelCompiler), 'matrix' (solver arrays) and 'solver'}. A lexicographic objective is solved goal\n"
    "after goal and adds 'objectives' (every goal's value in priority order; 'objective' is the\n"
    "first; None without a solution) and, when it ends without optimum, 'goal' (the goal, from 1,\n"
    "it stopped at, also named in 'message').";

constexpr const char* kVerifyDoc =
    "Solves the pair a QelCompiler compiled and explains a result without optimum: for an\n"
    "infeasible model the conflicting constraints and bounds ('conflicts': [{'kind': 'row' |\n"
    "'bound', 'name', 'line', 'condition'}], 'irreducible': True when no member can be dropped),\n"
    "for an unbounded one the variables along an improving ray ('unbounded': [name]). Also\n"
    "'status', 'message', 'objective', 'bound', 'values': [(name, value)] of the first\n"
    "max_values non-zero variables, 'nonzero_count', 'expressions': [(name, value)] of the first\n"
    "max_values dexpr cells at the solution, 'seconds' and 'timings'; 'objectives' and 'goal' as\n"
    "solve gives them for a lexicographic objective.";

}  // namespace

PYBIND11_MODULE(solve, m) {
    m.doc() = "Solving, analysis and export of compiled Vorlan models.";
    // QelCompiler arguments are the compiler module's own objects.
    py::module_::import("vorlan.vorlan_core");

    m.def(
        "matrices",
        [](const std::string& model, const std::string& data, bool names) {
            return matrices_of(*compile_instance(model, data), names);
        },
        py::arg("model_code"), py::arg("data_code"), py::arg("names") = true,
        "Compiles the pair and returns the flat instance as milp-style arrays: c, offset, maximize,\n"
        "the constraint matrix in CSR form (data, indices, indptr) with row_lower/row_upper,\n"
        "col_lower/col_upper, integrality, and the (name, index) of every column and row ('columns'\n"
        "and 'rows'; left out with names=False, which saves building a tuple per column).");

    m.def(
        "solve",
        [](const c::Compiler& compiler, py::object time_limit) {
            return sb::solve_instance(compiled_instance(compiler), seconds_or_inf(time_limit), 0.0);
        },
        py::arg("compiler"), py::arg("time_limit") = py::none(), kSolveDoc);
    m.def(
        "solve",
        [](const std::string& model, const std::string& data, py::object time_limit) {
            double limit = seconds_or_inf(time_limit);
            double compile_seconds = 0;
            auto inst = compile_instance(model, data, &compile_seconds);
            return sb::solve_instance(*inst, limit, compile_seconds);
        },
        py::arg("model_code"), py::arg("data_code"), py::arg("time_limit") = py::none(), kSolveDoc);

    m.def(
        "verify",
        [](const c::Compiler& compiler, py::object time_limit, py::object max_values) {
            std::size_t cap = max_values.is_none() ? std::numeric_limits<std::size_t>::max()
                                                   : py::cast<std::size_t>(max_values);
            return sb::verify_instance(compiled_instance(compiler), seconds_or_inf(time_limit), cap);
        },
        py::arg("compiler"), py::arg("time_limit") = py::none(), py::arg("max_values") = py::none(), kVerifyDoc);

    for (bool mps : {true, false}) {
        const char* name = mps ? "write_mps" : "write_lp";
        const char* doc = mps ? "Writes the flat instance as a free-format MPS file (through a temporary file, so a\n"
                                "failed write leaves an existing file as it was). Returns what the file leaves out\n"
                                "(the later goals of a lexicographic objective), or ''."
                              : "Writes the flat instance as an LP file (through a temporary file, so a failed\n"
                                "write leaves an existing file as it was). Returns what the file leaves out (the\n"
                                "later goals of a lexicographic objective), or ''.";
        m.def(
            name,
            [mps](const c::Compiler& compiler, const std::filesystem::path& path) {
                return write_export(compiled_instance(compiler), path, mps);
            },
            py::arg("compiler"), py::arg("path"), doc);
        m.def(
            name,
            [mps](const std::string& model, const std::string& data, const std::filesystem::path& path) {
                return write_export(*compile_instance(model, data), path, mps);
            },
            py::arg("model_code"), py::arg("data_code"), py::arg("path"), doc);
    }

    sb::register_instance_view(m);
    m.def(
        "instance_view",
        [](py::object compiler) {
            return sb::instance_view(compiler, compiled_instance(py::cast<const c::Compiler&>(compiler)));
        },
        py::arg("compiler"),
        "The flat instance of a QelCompiler in the shape of its instance(), with the variables, the\n"
        "rows and the objective terms as one-pass iterators built entry by entry (for generators that\n"
        "walk a large instance once).");
    m.def(
        "export_names",
        [](const std::string& model, const std::string& data) {
            auto names = s::make_names(*compile_instance(model, data));
            return py::make_tuple(names.columns, names.rows, names.objective);
        },
        py::arg("model_code"), py::arg("data_code"),
        "The column names, row names and objective name the exports use.");
}
