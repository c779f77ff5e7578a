// generative_solve and generative_feedback: the generate-and-repair loop and the one-shot
// feedback call. Every module-level name is looked up at the time of use (G(...)), so a host
// can substitute the compiler, the LLM dispatch or any prompt builder.
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/pipeline_paths.hpp"

namespace genloom {
namespace {

// Concatenation of host strings (keeps any text the host can hold, surrogates included).
py::str cat(std::initializer_list<py::object> parts) {
    py::list l;
    for (const auto& p : parts) l.append(p);
    return py::str("").attr("join")(l);
}

py::str S(const char* s) { return py::str(s); }

void report(const py::object& progress, const py::object& msg) { G("_notify")(progress, msg); }

void debug(const py::object& msg) { G("logger").attr("debug")(msg); }

// Raise `type(msg)` with `cause` as its __cause__ (the host's `raise ... from cause`).
[[noreturn]] void raise_from(PyObject* type, const py::str& msg, py::error_already_set& cause) {
    py::object exc = py::reinterpret_borrow<py::object>(type)(msg);
    exc.attr("__cause__") = cause.value();
    exc.attr("__context__") = cause.value();
    PyErr_SetObject(type, exc.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise(PyObject* type, const py::str& msg) {
    PyErr_SetObject(type, msg.ptr());
    throw py::error_already_set();
}

py::str err_text(py::error_already_set& e) { return py::str(e.value()); }

// Path text of a str, bytes or path-like output path, as used in messages and file operations.
py::str path_text(const py::object& p) { return py::module_::import("os").attr("fsdecode")(p); }

std::uint64_t next_token() {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::random_device rd;
        return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^
               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    return seed ^ (++counter * 0x9E3779B97F4A7C15ULL);
}

void make_parent_dirs(const py::str& path) {
    Utf8 u(path);
    std::string dir = core::dir_part(u.view());
    if (!dir.empty())
        py::module_::import("os").attr("makedirs")(u.make(dir), py::arg("exist_ok") = true);
}

// Read a whole text file in the platform default encoding.
py::object read_text(const py::str& path) {
    py::object f = py::module_::import("io").attr("open")(path);
    try {
        py::object text = f.attr("read")();
        f.attr("close")();
        return text;
    } catch (py::error_already_set&) {
        try {
            f.attr("close")();
        } catch (py::error_already_set&) {
        }
        throw;
    }
}

// Write `text` to a new hidden file beside `path` (same directory, so the later rename stays
// on one file system); returns the temporary path. On failure the temporary file is removed.
py::str write_temp(const py::str& path, const py::object& text) {
    py::module_ os = py::module_::import("os");
    Utf8 u(path);
    py::str tmp;
    py::object fd;
    for (int attempt = 0;; ++attempt) {
        tmp = u.make(core::temp_sibling(u.view(), next_token()));
        try {
            int flags = py::cast<int>(os.attr("O_WRONLY")) | py::cast<int>(os.attr("O_CREAT")) |
                        py::cast<int>(os.attr("O_EXCL"));
            fd = os.attr("open")(tmp, flags, 0666);
            break;
        } catch (py::error_already_set& e) {
            if (attempt < 8 && e.matches(PyExc_FileExistsError)) continue;
            throw;
        }
    }
    try {
        // Keep the permissions of a file being replaced, as truncating it in place would.
        if (py::cast<bool>(os.attr("path").attr("exists")(path)))
            os.attr("chmod")(tmp, py::module_::import("stat").attr("S_IMODE")(
                                      os.attr("stat")(path).attr("st_mode")));
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    py::object f;
    try {
        f = py::module_::import("io").attr("open")(fd, "w");
    } catch (py::error_already_set&) {
        os.attr("close")(fd);
        os.attr("unlink")(tmp);
        throw;
    }
    try {
        f.attr("write")(text);
        f.attr("close")();
    } catch (py::error_already_set&) {
        try {
            f.attr("close")();
        } catch (py::error_already_set&) {
        }
        try {
            os.attr("unlink")(tmp);
        } catch (py::error_already_set&) {
        }
        throw;
    }
    return tmp;
}

// Write the model and data files. Both texts go to temporary files first and are renamed over
// the targets only when both were written, so a failed write leaves the previous pair intact.
void write_pair(const py::object& model_file, const py::object& data_file, const py::object& model_code,
                const py::object& data_code) {
    py::module_ os = py::module_::import("os");
    py::str mpath = path_text(model_file), dpath = path_text(data_file);
    make_parent_dirs(mpath);
    make_parent_dirs(dpath);
    py::str mtmp = write_temp(mpath, model_code);
    py::str dtmp;
    try {
        dtmp = write_temp(dpath, data_code);
    } catch (py::error_already_set&) {
        try {
            os.attr("unlink")(mtmp);
        } catch (py::error_already_set&) {
        }
        throw;
    }
    try {
        os.attr("replace")(mtmp, mpath);
    } catch (py::error_already_set&) {
        for (const py::str& t : {mtmp, dtmp}) {
            try {
                os.attr("unlink")(t);
            } catch (py::error_already_set&) {
            }
        }
        throw;
    }
    try {
        os.attr("replace")(dtmp, dpath);
    } catch (py::error_already_set&) {
        try {
            os.attr("unlink")(dtmp);
        } catch (py::error_already_set&) {
        }
        throw;
    }
}

// int(x) of the host, bounded below by 1; an unconvertible value falls back to the current
// MAX_ITERATIONS, taken as it is.
py::int_ clean_iterations(const py::object& iterations) {
    py::object conv;
    try {
        conv = py::module_::import("builtins").attr("int")(iterations);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        py::object fallback = G("MAX_ITERATIONS");
        PyObject* idx = PyNumber_Index(fallback.ptr());
        if (!idx) throw py::error_already_set();
        py::int_ n = py::reinterpret_steal<py::int_>(idx);
        if (PyObject_RichCompareBool(n.ptr(), py::int_(1).ptr(), Py_LT) == 1)
            // No iteration could run and there would be no pair to read back or assess.
            raise(PyExc_ValueError,
                  cat({S("iterations could not be converted to an integer and MAX_ITERATIONS is "),
                       py::repr(fallback), S("; at least 1 iteration is needed")}));
        return n;
    }
    py::int_ n = py::reinterpret_borrow<py::int_>(conv);
    if (PyObject_RichCompareBool(n.ptr(), py::int_(1).ptr(), Py_LT) == 1) return py::int_(1);
    return n;
}

long long loop_bound(const py::int_& n) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
    if (overflow > 0) return LLONG_MAX;
    if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
    return v;
}

py::object llm_call(const py::object& provider, const py::object& model_name, const py::object& text,
                    const py::object& temperature, const py::object& stop, const py::object& progress) {
    return G("_llm_generate_text")(py::arg("provider") = provider, py::arg("model_name") = model_name,
                                   py::arg("input_text") = text, py::arg("max_tokens") = G("MAX_OUTPUT_TOKENS"),
                                   py::arg("temperature") = temperature, py::arg("stop") = stop,
                                   py::arg("progress") = progress);
}

bool truthy(const py::object& o) {
    int r = PyObject_IsTrue(o.ptr());
    if (r < 0) throw py::error_already_set();
    return r == 1;
}

py::str num(long long v) { return py::str(py::int_(v)); }

py::object generative_solve(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                            py::object mode, py::object iterations_arg, py::object return_statistics,
                            py::object alignment_check, py::object temperature, py::object stop,
                            py::object llm_provider, py::object progress, py::object few_shot) {
    // Preparation.
    py::object grammar_implementation = G("_get_grammar_implementation")(mode);
    py::int_ iterations = clean_iterations(iterations_arg);
    const long long n_iter = loop_bound(iterations);
    const bool do_alignment = alignment_check.is_none() ? truthy(G("ALIGNMENT_CHECK")) : truthy(alignment_check);
    py::object provider = G("_infer_provider")(llm_provider, model_name);
    report(progress, cat({S("Generating with provider="), py::str(provider.attr("value")), S(" model="),
                          py::str(model_name), S(" iterations="), py::str(iterations), S(" alignment="),
                          S(do_alignment ? "on" : "off")}));

    py::object few_shots;
    if (truthy(few_shot))
        few_shots = G("_gather_few_shots")(prompt, py::arg("k") = G("FEW_SHOT_TOP_K"),
                                           py::arg("models_dir") = "qel_models", py::arg("progress") = progress);
    else
        few_shots = py::list();
    py::object user_prompt = G("_build_generation_prompt")(prompt, grammar_implementation,
                                                           py::arg("few_shots") = few_shots);

    const bool has_temp = !temperature.is_none();
    py::object t_align = has_temp ? py::object(py::float_(0.0)) : py::object(py::none());
    py::object t_final = has_temp ? py::object(py::float_(0.2)) : py::object(py::none());

    py::object assessment_text = py::str("");
    py::object model_code = py::str(""), data_code = py::str("");
    py::list syntax_errors;
    long long iteration = 0;
    py::str model_path = path_text(model_file), data_path = path_text(data_file);

    for (iteration = 0; iteration < n_iter; ++iteration) {
        py::str counter = cat({S("Iteration "), num(iteration + 1), S("/"), py::str(iterations)});
        debug(counter);
        report(progress, cat({counter, S(": prompting model")}));

        py::object content = llm_call(provider, model_name, user_prompt, temperature, stop, progress);
        if (!truthy(content)) raise(PyExc_RuntimeError, S("Empty model response."));

        try {
            py::object result = G("_json_loads_relaxed")(content);
            model_code = result[py::str("model")];
            data_code = result[py::str("data")];
            report(progress, S("LLM response parsed (model + data)"));
            debug(S("Model and data generated."));
        } catch (py::error_already_set& e) {
            if (!is_ordinary(e)) throw;
            raise_from(PyExc_RuntimeError,
                       cat({S("Failed to parse model response as JSON: "), err_text(e), S("\nResponse: "),
                            py::str(content)}),
                       e);
        }

        py::object compiler = G("QelCompiler")();
        syntax_errors = py::list();
        try {
            report(progress, S("Compiling model and data"));
            compiler.attr("compile_model")(model_code, data_code);
        } catch (py::error_already_set& e) {
            if (e.matches(G("SemanticError"))) {
                py::str text = err_text(e);
                syntax_errors.append(text);
                debug(cat({S("Semantic error in model: "), text}));
            } else if (is_ordinary(e)) {
                syntax_errors.append(cat({py::str(py::type::handle_of(e.value()).attr("__name__")), S(": "),
                                          err_text(e)}));
            } else {
                throw;
            }
        }

        write_pair(model_file, data_file, model_code, data_code);
        report(progress, cat({S("Wrote files: "), model_path, S(" \u2022 "), data_path}));

        if (!syntax_errors.empty()) {
            report(progress, cat({S("Syntax/semantic errors found: "), num(static_cast<long long>(syntax_errors.size())),
                                  S("; revising...")}));
            debug(S("Model or data has syntax errors; revising..."));
            user_prompt = G("_build_revision_prompt_syntax")(prompt, grammar_implementation, model_code, data_code,
                                                             syntax_errors, py::arg("few_shots") = few_shots);
            continue;
        }
        if (!do_alignment) {
            report(progress, S("Syntax OK; alignment check disabled. Stopping."));
            break;
        }

        debug(S("Checking alignment with original prompt..."));
        report(progress, S("Checking alignment with original prompt..."));
        py::object alignment_prompt =
            G("_build_alignment_prompt")(prompt, grammar_implementation, model_code, data_code);
        py::object alignment_content = llm_call(provider, model_name, alignment_prompt, t_align, stop, progress);
        if (!truthy(alignment_content)) raise(PyExc_RuntimeError, S("Empty alignment response."));
        py::object obj = G("_json_loads_relaxed")(alignment_content);
        bool valid = false;
        py::object aligned, assessment;
        if (PyDict_Check(obj.ptr())) {
            py::dict d = py::reinterpret_borrow<py::dict>(obj);
            aligned = d.attr("get")("aligned");
            assessment = d.attr("get")("assessment");
            valid = PyBool_Check(aligned.ptr()) && PyUnicode_Check(assessment.ptr());
        }
        if (!valid)
            raise(PyExc_RuntimeError, cat({S("Invalid alignment response JSON: "), py::str(alignment_content)}));
        assessment_text = assessment.attr("strip")();
        if (aligned.ptr() == Py_True) {
            report(progress, S("Aligned \u2713 Stopping."));
            debug(S("Model and data are syntactically valid and aligned with the prompt."));
            break;
        }
        report(progress, S("Not aligned; revising per assessment"));
        debug(cat({S("Model and data are syntactically valid but NOT aligned with the prompt. Assessment: "),
                   assessment_text}));
        user_prompt = G("_build_revision_prompt_alignment")(prompt, grammar_implementation, assessment_text,
                                                            model_code, data_code, py::arg("few_shots") = few_shots);
    }
    if (iteration == n_iter) --iteration;  // the loop ran out: index of the last iteration

    // After the loop: the pair as written, then the final assessment where no verdict exists.
    model_code = read_text(model_path);
    data_code = read_text(data_path);
    if (!syntax_errors.empty() || !do_alignment) {
        debug(S("Final assessment of model and data alignment..."));
        report(progress, S("Requesting final assessment"));
        py::object assessment_prompt = G("_build_final_assessment_prompt")(prompt, grammar_implementation,
                                                                           model_code, data_code, syntax_errors);
        py::object reply = llm_call(provider, model_name, assessment_prompt, t_final, stop, progress);
        assessment_text = truthy(reply) ? reply : py::object(py::str(""));
    }
    report(progress, S("Generation complete"));

    py::object stripped = assessment_text.attr("strip")();
    if (truthy(return_statistics)) {
        py::dict stats;
        stats["iterations"] = py::int_(iteration + 1);
        stats["assessment"] = stripped;
        stats["syntax_errors"] = syntax_errors;
        return std::move(stats);
    }
    return stripped;
}

py::object generative_feedback(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                               py::object mode, py::object temperature, py::object stop, py::object llm_provider,
                               py::object progress) {
    py::object provider = G("_infer_provider")(llm_provider, model_name);
    py::object grammar_implementation = G("_get_grammar_implementation")(mode);
    py::object model_code = read_text(path_text(model_file));
    py::object data_code = read_text(path_text(data_file));
    report(progress, S("Generating feedback from LLM"));
    py::object user_prompt = G("_build_feedback_prompt")(prompt, grammar_implementation, model_code, data_code);
    py::object t = temperature.is_none() ? py::object(py::none()) : py::object(py::float_(0.0));
    py::object content = llm_call(provider, model_name, user_prompt, t, stop, progress);
    if (!truthy(content)) raise(PyExc_RuntimeError, S("Empty model response."));
    try {
        report(progress, S("Feedback received; parsing"));
        return G("_json_loads_relaxed")(content);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_from(PyExc_RuntimeError,
                   cat({S("Failed to parse feedback response as JSON: "), err_text(e), S("\nResponse: "),
                        py::str(content)}),
                   e);
    }
}

}  // namespace

void register_pipeline(py::module_& m) {
    py::object bnf = m.attr("Grammar").attr("BNF");
    m.def("generative_solve", &generative_solve, py::arg("prompt"), py::arg("model_file"), py::arg("data_file"),
          py::arg("model_name") = m.attr("MODEL_NAME"), py::arg("mode") = bnf,
          py::arg("iterations") = m.attr("MAX_ITERATIONS"), py::arg("return_statistics") = false,
          py::arg("alignment_check") = py::none(), py::arg("temperature") = py::none(),
          py::arg("stop") = py::none(), py::arg("llm_provider") = m.attr("LLM_PROVIDER"),
          py::arg("progress") = py::none(), py::arg("few_shot") = true,
          "Have the LLM write a model and data pair for the problem description, compile it, repair it\n"
          "in a bounded loop, write both files every iteration and return the assessment text (or the\n"
          "statistics record with return_statistics=True).");
    m.def("generative_feedback", &generative_feedback, py::arg("prompt"), py::arg("model_file"),
          py::arg("data_file"), py::arg("model_name") = m.attr("MODEL_NAME"), py::arg("mode") = bnf,
          py::arg("temperature") = py::none(), py::arg("stop") = py::none(),
          py::arg("llm_provider") = m.attr("LLM_PROVIDER"), py::arg("progress") = py::none(),
          "Ask the LLM a question about an existing model and data pair; returns its parsed JSON reply.");
}

}  // namespace genloom
