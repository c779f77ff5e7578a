// vorlan.solve: compile a model and data pair, then solve its flat instance in-process
// (SciPy's milp, HiGHS underneath) or export it as MPS / LP for other solvers.
//
// SciPy and NumPy are an optional extra: they are imported inside the operations that
// need them, so the module loads and the exports work without them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <chrono>
#include <cstdint>
#include <cmath>

#include "solve/core/export.hpp"
#include "solve/core/matrix.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace py = pybind11;
namespace c = vorlan::compiler;
namespace s = vorlan::solve;

namespace {

constexpr const char* kExtraHint = "solving needs SciPy and NumPy; install them with: pip install 'vorlan[solve]'";

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Compiles without the GIL and raises the compiler's own error kinds on failure.
std::shared_ptr<const c::Instance> compile_instance(const std::string& model, const std::string& data,
                                                    double* elapsed = nullptr) {
    c::CompileResult r;
    {
        py::gil_scoped_release nogil;
        auto t0 = Clock::now();
        r = c::compile(model, data);
        if (elapsed) *elapsed = seconds_since(t0);
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

py::object import_with_hint(const char* name) {
    try {
        return py::module_::import(name);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        py::object err = py::reinterpret_borrow<py::object>(PyExc_ModuleNotFoundError)(kExtraHint);
        err.attr("__cause__") = e.value();
        PyErr_SetObject(PyExc_ModuleNotFoundError, err.ptr());
        throw py::error_already_set();
    }
}

template <typename T>
py::array_t<T> array(const std::vector<T>& v) {
    return py::array_t<T>(static_cast<py::ssize_t>(v.size()), v.data());
}

py::tuple index_tuple(const std::vector<c::IndexValue>& index) {
    py::tuple t(index.size());
    for (std::size_t k = 0; k < index.size(); ++k)
        t[k] = std::visit([](const auto& x) { return py::cast(x); }, index[k]);
    return t;
}

// The arrays of milp's problem form.
py::dict arrays_of(const s::MatrixForm& m) {
    import_with_hint("numpy");  // the arrays below need it
    py::dict out;
    out["maximize"] = m.maximize;
    out["c"] = array(m.c);
    out["offset"] = m.offset;
    // 32-bit offsets when they fit: the sparse matrix then needs no index conversion.
    if (!m.indptr.empty() && m.indptr.back() <= INT32_MAX) {
        py::array_t<std::int32_t> ip(static_cast<py::ssize_t>(m.indptr.size()));
        auto* p = ip.mutable_data();
        for (std::size_t k = 0; k < m.indptr.size(); ++k) p[k] = static_cast<std::int32_t>(m.indptr[k]);
        out["indptr"] = ip;
    } else {
        out["indptr"] = array(m.indptr);
    }
    out["indices"] = array(m.indices);
    out["data"] = array(m.data);
    out["row_lower"] = array(m.row_lower);
    out["row_upper"] = array(m.row_upper);
    out["col_lower"] = array(m.col_lower);
    out["col_upper"] = array(m.col_upper);
    out["integrality"] = array(m.integrality);
    return out;
}

// The arrays plus the (name, index) of every column and kept row.
py::dict matrices_of(const c::Instance& inst) {
    s::MatrixForm m = s::matrix_form(inst);
    py::dict out = arrays_of(m);
    py::list columns;
    for (const auto& v : inst.variables) columns.append(py::make_tuple(v.name, index_tuple(v.index)));
    out["columns"] = columns;
    py::list rows;
    for (auto i : m.row_source) {
        const auto& r = inst.rows[i];
        rows.append(py::make_tuple(r.label, index_tuple(r.index)));
    }
    out["rows"] = rows;
    return out;
}

const char* status_name(int code) {
    switch (code) {
        case 0: return "optimal";
        case 1: return "limit";
        case 2: return "infeasible";
        case 3: return "unbounded";
        default: return "error";
    }
}

py::dict solve_instance(const c::Instance& inst, py::object time_limit, double compile_seconds) {
    // Imported first so that a first call's import time is not counted as matrix time.
    py::module_ opt = import_with_hint("scipy.optimize");
    py::module_ sparse = import_with_hint("scipy.sparse");
    auto t0 = Clock::now();
    py::dict timings;
    timings["compile"] = compile_seconds;
    s::MatrixForm form;
    {
        py::gil_scoped_release nogil;
        form = s::matrix_form(inst);
    }
    py::dict mats = arrays_of(form);
    const bool maximize = mats["maximize"].cast<bool>();
    const double offset = mats["offset"].cast<double>();
    const std::size_t n = inst.variables.size();

    py::dict result;
    result["status"] = "optimal";
    result["message"] = "";
    result["objective"] = py::none();
    result["values"] = py::list();
    result["timings"] = timings;
    if (n == 0) {
        timings["matrix"] = seconds_since(t0);
        timings["solver"] = 0.0;
        // Nothing to decide: optimal unless a constant row cannot hold.
        for (const auto& r : inst.rows)
            if (r.lower > 0 || r.upper < 0) {
                result["status"] = "infeasible";
                return result;
            }
        result["objective"] = offset;
        return result;
    }

    py::object cvec = mats["c"];
    if (maximize) cvec = cvec.attr("__neg__")();
    py::dict kwargs;
    kwargs["integrality"] = mats["integrality"];
    kwargs["bounds"] = opt.attr("Bounds")(mats["col_lower"], mats["col_upper"]);
    py::object row_lower = mats["row_lower"];
    if (py::len(row_lower) > 0) {
        py::object a = sparse.attr("csr_array")(
            py::make_tuple(mats["data"], mats["indices"], mats["indptr"]),
            py::arg("shape") = py::make_tuple(py::len(row_lower), n));
        kwargs["constraints"] = opt.attr("LinearConstraint")(a, row_lower, mats["row_upper"]);
    }
    py::dict options;
    if (!time_limit.is_none()) options["time_limit"] = time_limit;
    kwargs["options"] = options;
    timings["matrix"] = seconds_since(t0);
    t0 = Clock::now();
    py::object res = opt.attr("milp")(cvec, **kwargs);
    timings["solver"] = seconds_since(t0);

    int code = res.attr("status").cast<int>();
    result["status"] = status_name(code);
    result["message"] = res.attr("message");
    py::object x = res.attr("x");
    if (x.is_none()) return result;
    std::vector<double> xs = x.attr("tolist")().cast<std::vector<double>>();
    double fun = res.attr("fun").cast<double>();
    result["objective"] = (maximize ? -fun : fun) + offset;
    py::list values;
    for (std::size_t j = 0; j < n; ++j) {
        double v = xs[j];
        if (inst.variables[j].integer) v = std::nearbyint(v);
        if (std::fabs(v) <= 1e-9) continue;
        const auto& var = inst.variables[j];
        values.append(py::make_tuple(var.name, index_tuple(var.index), v));
    }
    result["values"] = values;
    return result;
}

}  // namespace

PYBIND11_MODULE(solve, m) {
    m.doc() = "Solving and export of compiled Vorlan models.";
    m.def(
        "matrices",
        [](const std::string& model, const std::string& data) { return matrices_of(*compile_instance(model, data)); },
        py::arg("model_code"), py::arg("data_code"),
        "Compiles the pair and returns the flat instance as milp-style arrays: c, offset, maximize,\n"
        "the constraint matrix in CSR form (data, indices, indptr) with row_lower/row_upper,\n"
        "col_lower/col_upper, integrality, and the (name, index) of every column and row.");
    m.def(
        "solve",
        [](const std::string& model, const std::string& data, py::object time_limit) {
            double compile_seconds = 0;
            auto inst = compile_instance(model, data, &compile_seconds);
            return solve_instance(*inst, time_limit, compile_seconds);
        },
        py::arg("model_code"), py::arg("data_code"), py::arg("time_limit") = py::none(),
        "Compiles the pair and solves it in-process. Returns {'status': 'optimal' | 'infeasible' |\n"
        "'unbounded' | 'limit' | 'error', 'message', 'objective' (None without a solution),\n"
        "'values': [(name, index, value), ...] for the non-zero variables in declaration order,\n"
        "'timings': seconds spent in 'compile' (parse, check, expand), 'matrix' (solver arrays)\n"
        "and 'solver'}.");
    m.def(
        "write_mps",
        [](const std::string& model, const std::string& data, const std::filesystem::path& path) {
            auto inst = compile_instance(model, data);
            py::gil_scoped_release nogil;
            s::write_mps_file(path, *inst);
        },
        py::arg("model_code"), py::arg("data_code"), py::arg("path"),
        "Compiles the pair and writes its flat instance as a free-format MPS file.");
    m.def(
        "write_lp",
        [](const std::string& model, const std::string& data, const std::filesystem::path& path) {
            auto inst = compile_instance(model, data);
            py::gil_scoped_release nogil;
            s::write_lp_file(path, *inst);
        },
        py::arg("model_code"), py::arg("data_code"), py::arg("path"),
        "Compiles the pair and writes its flat instance as an LP file.");
    m.def(
        "export_names",
        [](const std::string& model, const std::string& data) {
            auto names = s::make_names(*compile_instance(model, data));
            return py::make_tuple(names.columns, names.rows, names.objective);
        },
        py::arg("model_code"), py::arg("data_code"),
        "The column names, row names and objective name the exports use.");
}
