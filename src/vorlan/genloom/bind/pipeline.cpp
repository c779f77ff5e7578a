// generative_solve and generative_feedback. The repair loop itself is the typed core of
// genloom/core/loop.hpp; this file fills its steps with module-level lookups made at the time
// of use (G(...)), so a host can substitute the compiler, the LLM dispatch, any prompt
// builder or the solver step and see the change.
#include <pybind11/pybind11.h>

#include <climits>
#include <string>

#include "genloom/bind/constrained.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/pair_io.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/bind/verify.hpp"
#include "genloom/core/loop.hpp"

namespace genloom {
namespace {

namespace lp = genloom::loop;
namespace vf = genloom::verification;

py::str S(const char* s) { return py::str(s); }

void debug(const py::object& msg) { G("logger").attr("debug")(msg); }

[[noreturn]] void raise(PyObject* type, const py::str& msg) {
    PyErr_SetObject(type, msg.ptr());
    throw py::error_already_set();
}

// UTF-8 of a host str with lone surrogates kept, and back: texts pass through the typed
// core unchanged.
std::string u8(const py::handle& s) { return std::string(Utf8(s).view()); }
py::str from_u8(const std::string& s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogatepass");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
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

// `contract` names the reply's JSON shape; it is asked for only when STRUCTURED_OUTPUT is on,
// so with it off every call is exactly as before.
py::object llm_call(const py::object& provider, const py::object& model_name, const py::object& text,
                    const py::object& temperature, const py::object& stop, const py::object& progress,
                    const char* contract = nullptr) {
    py::kwargs kw;
    if (contract && truthy(G("STRUCTURED_OUTPUT"))) kw["reply_contract"] = contract;
    return G("_llm_generate_text")(py::arg("provider") = provider, py::arg("model_name") = model_name,
                                   py::arg("input_text") = text, py::arg("max_tokens") = G("MAX_OUTPUT_TOKENS"),
                                   py::arg("temperature") = temperature, py::arg("stop") = stop,
                                   py::arg("progress") = progress, **kw);
}

// The loop's steps for one generative_solve call.
class HostSteps final : public lp::Steps<py::object, py::object> {
public:
    using Pair = lp::Pair<py::object>;

    py::object prompt, grammar, model_file, data_file, provider, model_name, temperature, stop, progress;
    py::object few_shots;
    bool constrained = false;  // CONSTRAIN = "grammar": generation in two constrained calls

    void report(const std::string& msg) override { G("_notify")(progress, from_u8(msg)); }
    void debug(const std::string& msg) override { genloom::debug(from_u8(msg)); }
    std::string text_of(const py::object& t) override { return u8(py::str(t)); }
    py::object empty_text() override { return py::str(""); }

    void gather_examples(bool few_shot) override {
        if (few_shot)
            few_shots = G("_gather_few_shots")(prompt, py::arg("k") = G("FEW_SHOT_TOP_K"),
                                               py::arg("models_dir") = "qel_models", py::arg("progress") = progress);
        else
            few_shots = py::list();
    }
    py::object generation_prompt() override {
        return G("_build_generation_prompt")(prompt, grammar, py::arg("few_shots") = few_shots);
    }
    py::object syntax_revision_prompt(const Pair& p, const py::object& errors) override {
        return G("_build_revision_prompt_syntax")(prompt, grammar, p.model, p.data, errors,
                                                  py::arg("few_shots") = few_shots);
    }
    py::object alignment_prompt(const Pair& p, const std::string* summary) override {
        if (!summary) return G("_build_alignment_prompt")(prompt, grammar, p.model, p.data);
        return G("_build_alignment_prompt")(prompt, grammar, p.model, p.data,
                                            py::arg("solution_summary") = from_u8(*summary));
    }
    py::object alignment_revision_prompt(const py::object& assessment, const Pair& p) override {
        return G("_build_revision_prompt_alignment")(prompt, grammar, assessment, p.model, p.data,
                                                     py::arg("few_shots") = few_shots);
    }
    py::object solve_revision_prompt(const Pair& p, const std::string& findings) override {
        solve_prompt_ = G("_build_revision_prompt_solve")(prompt, grammar, p.model, p.data, from_u8(findings),
                                                          py::arg("few_shots") = few_shots);
        return solve_prompt_;
    }
    py::object final_assessment_prompt(const Pair& p, const py::object& errors) override {
        return G("_build_final_assessment_prompt")(prompt, grammar, p.model, p.data, errors);
    }
    py::object errors_of(const std::string& finding) override {
        py::list l;
        l.append(from_u8(finding));
        return std::move(l);
    }

    py::object generate(lp::Call call, const py::object& text) override {
        const bool has_temp = !temperature.is_none();
        py::object t = temperature;
        if (call == lp::Call::Alignment) t = has_temp ? py::object(py::float_(0.0)) : py::object(py::none());
        if (call == lp::Call::FinalAssessment) t = has_temp ? py::object(py::float_(0.2)) : py::object(py::none());
        if (call == lp::Call::Generation && constrained) {
            constrained_pair_ = G("_generate_constrained_pair")(provider, model_name, text, t, stop, progress);
            return constrained_pair_[py::int_(0)];
        }
        const char* contract = call == lp::Call::Alignment       ? "alignment"
                               : call == lp::Call::FinalAssessment ? nullptr
                               : text.is(solve_prompt_)            ? "solve_revision"
                                                                   : "pair";
        return llm_call(provider, model_name, text, t, stop, progress, contract);
    }
    bool empty(const py::object& reply) override { return !truthy(reply); }

    Pair parse_pair(const py::object& content) override {
        if (!constrained_pair_.is_none()) {  // written as two plain texts: nothing to parse
            Pair p{constrained_pair_[py::int_(0)], constrained_pair_[py::int_(1)]};
            constrained_pair_ = py::none();
            G("_notify")(progress, S("Model and data written under the grammars"));
            last_content_ = content;
            return p;
        }
        try {
            py::object result = G("_json_loads_relaxed")(content);
            Pair p{result[py::str("model")], result[py::str("data")]};
            G("_notify")(progress, S("LLM response parsed (model + data)"));
            genloom::debug(S("Model and data generated."));
            last_content_ = content;
            return p;
        } catch (py::error_already_set& e) {
            if (!is_ordinary(e)) throw;
            raise_error(PyExc_RuntimeError,
                        cat({S("Failed to parse model response as JSON: "), error_text(e), S("\nResponse: "),
                             py::str(content)}),
                        &e);
        }
    }

    lp::Verdict<py::object> parse_verdict(const py::object& content) override {
        py::object obj = G("_json_loads_relaxed")(content);
        if (PyDict_Check(obj.ptr())) {
            py::dict d = py::reinterpret_borrow<py::dict>(obj);
            py::object aligned = d.attr("get")("aligned");
            py::object assessment = d.attr("get")("assessment");
            if (PyBool_Check(aligned.ptr()) && PyUnicode_Check(assessment.ptr()))
                return {aligned.ptr() == Py_True, assessment.attr("strip")()};
        }
        raise(PyExc_RuntimeError, cat({S("Invalid alignment response JSON: "), py::str(content)}));
    }

    lp::Compiled<py::object> compile(const Pair& p) override {
        py::object compiler = G("QelCompiler")();
        py::list errors;
        last_compiler_ = py::none();
        try {
            G("_notify")(progress, S("Compiling model and data"));
            compiler.attr("compile_model")(p.model, p.data);
            last_compiler_ = compiler;
        } catch (py::error_already_set& e) {
            if (e.matches(G("SemanticError"))) {
                py::str text = error_text(e);
                errors.append(text);
                genloom::debug(cat({S("Semantic error in model: "), text}));
            } else if (is_ordinary(e)) {
                errors.append(cat({py::str(py::type::handle_of(e.value()).attr("__name__")), S(": "), error_text(e)}));
            } else {
                throw;
            }
        }
        return {errors, errors.size()};
    }

    void write_pair(const Pair& p) override {
        // A reply whose "model" or "data" is not text cannot be written; say what was wrong with it.
        for (auto [key, value] : {std::pair{"model", &p.model}, std::pair{"data", &p.data}}) {
            if (PyUnicode_Check(value->ptr())) continue;
            raise(PyExc_TypeError,
                  cat({S("Failed to parse model response as JSON: the reply had the wrong shape: \""), S(key),
                       S("\" must be text, not "), py::str(py::type::handle_of(*value).attr("__name__")),
                       S("\nResponse: "), py::str(last_content_)}));
        }
        genloom::write_pair(model_file, data_file, p.model, p.data);
    }

    Pair read_pair() override {
        return {read_text(path_text(model_file)), read_text(path_text(data_file))};
    }

    vf::Report solve(double time_limit) override {
        py::object record = G("_verify_compiled")(last_compiler_, py::arg("time_limit") = time_limit);
        vf::Report r = report_of(record);
        if (r.status == vf::Status::Interrupted) {
            // The user asked to stop: end the whole call, not just this solve.
            PyErr_SetNone(PyExc_KeyboardInterrupt);
            throw py::error_already_set();
        }
        return r;
    }

private:
    py::object last_content_ = py::str("");
    py::object solve_prompt_ = py::none();      // the last solve-revision prompt, whose reply may be a verdict
    py::object constrained_pair_ = py::none();  // (model, data) of the last constrained generation
    py::object last_compiler_ = py::none();
};

py::object generative_solve(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                            py::object mode, py::object iterations_arg, py::object return_statistics,
                            py::object alignment_check, py::object temperature, py::object stop,
                            py::object llm_provider, py::object progress, py::object few_shot, py::object verify) {
    // Preparation: the arguments are resolved in this order, each failing before any work.
    py::object grammar_implementation = G("_get_grammar_implementation")(mode);
    py::int_ iterations = clean_iterations(iterations_arg);
    lp::Settings cfg;
    cfg.iterations = loop_bound(iterations);
    cfg.iterations_text = u8(py::str(iterations));
    cfg.alignment = alignment_check.is_none() ? truthy(G("ALIGNMENT_CHECK")) : truthy(alignment_check);
    py::object provider = G("_infer_provider")(llm_provider, model_name);
    cfg.verify = verify.is_none() ? truthy(G("VERIFY")) : truthy(verify);
    if (cfg.verify) cfg.time_limit = time_limit_setting();
    cfg.provider = u8(py::str(provider.attr("value")));
    cfg.model_name = u8(py::str(model_name));
    cfg.few_shot = truthy(few_shot);
    cfg.model_path = u8(path_text(model_file));
    cfg.data_path = u8(path_text(data_file));

    HostSteps steps;
    steps.prompt = prompt;
    steps.grammar = grammar_implementation;
    steps.model_file = model_file;
    steps.data_file = data_file;
    steps.provider = provider;
    steps.model_name = model_name;
    steps.temperature = temperature;
    steps.stop = stop;
    steps.progress = progress;
    steps.constrained = grammar_constrained(provider);

    lp::Outcome<py::object, py::object> out;
    try {
        out = lp::run(steps, cfg);
    } catch (const lp::Failure& f) {
        raise(PyExc_RuntimeError, from_u8(f.what()));
    }

    py::object stripped = out.assessment.attr("strip")();
    if (!truthy(return_statistics)) return stripped;
    py::dict stats;
    stats["iterations"] = py::int_(out.iterations);
    stats["assessment"] = stripped;
    stats["syntax_errors"] = out.syntax_errors;
    if (cfg.verify) stats["solve"] = out.solve ? statistics_entry(*out.solve) : py::object(py::none());
    return std::move(stats);
}

py::object generative_feedback(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                               py::object mode, py::object temperature, py::object stop, py::object llm_provider,
                               py::object progress) {
    py::object provider = G("_infer_provider")(llm_provider, model_name);
    py::object grammar_implementation = G("_get_grammar_implementation")(mode);
    py::object model_code = read_text(path_text(model_file));
    py::object data_code = read_text(path_text(data_file));
    notify_obj(progress, S("Generating feedback from LLM"));
    py::object user_prompt = G("_build_feedback_prompt")(prompt, grammar_implementation, model_code, data_code);
    py::object t = temperature.is_none() ? py::object(py::none()) : py::object(py::float_(0.0));
    py::object content = llm_call(provider, model_name, user_prompt, t, stop, progress, "feedback");
    if (!truthy(content)) raise(PyExc_RuntimeError, S("Empty model response."));
    try {
        notify_obj(progress, S("Feedback received; parsing"));
        return G("_json_loads_relaxed")(content);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_error(PyExc_RuntimeError,
                    cat({S("Failed to parse feedback response as JSON: "), error_text(e), S("\nResponse: "),
                         py::str(content)}),
                    &e);
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
          py::arg("progress") = py::none(), py::arg("few_shot") = true, py::arg("verify") = py::none(),
          "Have the LLM write a model and data pair for the problem description, compile it, repair it\n"
          "in a bounded loop, write both files every iteration and return the assessment text (or the\n"
          "statistics record with return_statistics=True).\n\n"
          "verify=True (default: the VERIFY setting) also solves every pair that compiles, within\n"
          "VERIFY_TIME_LIMIT seconds: an infeasible or unbounded pair goes back to the LLM with the\n"
          "conflicting constraints or the unbounded variables, a solved one reaches the alignment\n"
          "check with a summary of its solution, and the statistics gain a \"solve\" entry.");
    m.def("generative_feedback", &generative_feedback, py::arg("prompt"), py::arg("model_file"),
          py::arg("data_file"), py::arg("model_name") = m.attr("MODEL_NAME"), py::arg("mode") = bnf,
          py::arg("temperature") = py::none(), py::arg("stop") = py::none(),
          py::arg("llm_provider") = m.attr("LLM_PROVIDER"), py::arg("progress") = py::none(),
          "Ask the LLM a question about an existing model and data pair; returns its parsed JSON reply.");
}

}  // namespace genloom
