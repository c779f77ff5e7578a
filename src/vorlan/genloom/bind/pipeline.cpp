// generative_solve and generative_feedback. The repair loop itself is the typed core of
// genloom/core/loop.hpp; this file fills its steps with module-level lookups made at the time
// of use (G(...)), so a host can substitute the compiler, the LLM dispatch, any prompt
// builder or the solver step and see the change.
#include <pybind11/pybind11.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "genloom/bind/constrained.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/pair_io.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/bind/replies.hpp"
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
    py::object alignment_prompt(const Pair& p, const std::string* summary, const Pair* previous) override {
        if (!summary && !previous) return G("_build_alignment_prompt")(prompt, grammar, p.model, p.data);
        py::dict kw;
        if (summary) kw["solution_summary"] = from_u8(*summary);
        if (previous) {
            kw["previous_model"] = previous->model;
            kw["previous_data"] = previous->data;
        }
        py::object built = G("_build_alignment_prompt")(prompt, grammar, p.model, p.data, **kw);
        if (previous) deviations_prompt_ = built;
        return built;
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
    py::object repair_prompt(const py::object& asked, const py::object& reply, const std::string& error) override {
        py::object repaired = G("_build_repair_prompt")(asked, reply, from_u8(error));
        if (asked.is(solve_prompt_)) solve_prompt_ = repaired;  // the verdict is still on offer
        if (asked.is(deviations_prompt_)) deviations_prompt_ = repaired;
        return repaired;
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
        const char* contract = call == lp::Call::Alignment
                                   ? (text.is(deviations_prompt_) ? "alignment_deviations" : "alignment")
                               : call == lp::Call::FinalAssessment ? nullptr
                               : text.is(solve_prompt_)            ? "solve_revision"
                                                                   : "pair";
        return strip_reasoning(llm_call(provider, model_name, text, t, stop, progress, contract));
    }
    bool empty(const py::object& reply) override { return !truthy(reply); }

    lp::Reply<py::object> parse_reply(const py::object& content, bool offer_verdict, bool lenient) override {
        lp::Reply<py::object> out;
        if (!constrained_pair_.is_none()) {  // written as two plain texts: nothing to parse
            out.pair = Pair{constrained_pair_[py::int_(0)], constrained_pair_[py::int_(1)]};
            constrained_pair_ = py::none();
            G("_notify")(progress, S("Model and data written under the grammars"));
            return out;
        }
        py::object result;
        try {
            result = G("_json_loads_relaxed")(content);
        } catch (py::error_already_set& e) {
            if (!is_ordinary(e)) throw;
            std::string why = reply_error_text(e);
            if (lenient) {
                out.error = why;
                return out;
            }
            raise_error(PyExc_RuntimeError,
                        cat({S("Failed to parse model response as JSON: "), from_u8(why), S("\nResponse: "),
                             py::str(content)}),
                        &e);
        }
        std::string why;
        if (offer_verdict && (out.verdict = as_described(result, why))) return out;
        if (why.empty()) {
            why = pair_shape_error(result);
            if (why.empty()) {
                out.pair = Pair{result[py::str("model")], result[py::str("data")]};
                G("_notify")(progress, S("LLM response parsed (model + data)"));
                genloom::debug(S("Model and data generated."));
                return out;
            }
        }
        if (lenient) {
            out.error = why;
            return out;
        }
        raise(PyExc_RuntimeError, cat({S("Failed to parse model response as JSON: "), from_u8(why), S("\nResponse: "),
                                       py::str(content)}));
    }

    std::optional<lp::Verdict<py::object>> parse_verdict(const py::object& content, bool lenient,
                                                         std::string& error) override {
        py::object obj;
        if (!lenient) {
            obj = G("_json_loads_relaxed")(content);
        } else {
            try {
                obj = G("_json_loads_relaxed")(content);
            } catch (py::error_already_set& e) {
                if (!is_ordinary(e)) throw;
                error = reply_error_text(e);
                return std::nullopt;
            }
        }
        if (PyDict_Check(obj.ptr())) {
            py::dict d = py::reinterpret_borrow<py::dict>(obj);
            py::object aligned = d.attr("get")("aligned");
            py::object assessment = d.attr("get")("assessment");
            if (PyBool_Check(aligned.ptr()) && PyUnicode_Check(assessment.ptr())) {
                lp::Verdict<py::object> v{aligned.ptr() == Py_True, assessment.attr("strip")(), {}};
                py::object devs = d.attr("get")("deviations");
                if (PyList_Check(devs.ptr()))
                    for (py::handle item : devs)
                        if (PyUnicode_Check(item.ptr()) && truthy(item.attr("strip")())) v.deviations.push_back(u8(item));
                return v;
            }
        }
        if (!lenient) raise(PyExc_RuntimeError, cat({S("Invalid alignment response JSON: "), py::str(content)}));
        error = verdict_shape_error(obj);
        return std::nullopt;
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
    py::object solve_prompt_ = py::none();      // the last solve-revision prompt, whose reply may be a verdict
    py::object deviations_prompt_ = py::none();  // the last review of a solve revision (lists deviations)
    py::object constrained_pair_ = py::none();  // (model, data) of the last constrained generation
    py::object last_compiler_ = py::none();
};

// "rounds": per iteration what prompted it and what came of it.
py::list rounds_entry(const std::vector<lp::RoundRecord>& rounds) {
    py::list out;
    for (const auto& r : rounds) {
        py::dict d;
        d["kind"] = lp::round_name(r.kind);
        d["compile_errors"] = r.compile_errors ? py::object(py::int_(*r.compile_errors)) : py::object(py::none());
        d["status"] = r.status ? py::object(py::str(vf::status_name(*r.status))) : py::object(py::none());
        d["objective"] = r.objective ? py::object(py::float_(*r.objective)) : py::object(py::none());
        d["aligned"] = r.aligned ? py::object(py::bool_(*r.aligned)) : py::object(py::none());
        out.append(d);
    }
    return out;
}

py::list text_list(const std::vector<std::string>& items) {
    py::list out;
    for (const auto& s : items) out.append(from_u8(s));
    return out;
}

// "verdict", "explanation", "conflicts" (the solver's conflicting set of the kept pair, by label
// and index values) and "deviations" (stated values the final model no longer uses as stated).
void add_verdict_entries(py::dict& stats, const lp::Outcome<py::object, py::object>& out) {
    stats["verdict"] = out.as_described ? py::object(py::str(lp::as_described_name(out.as_described->unbounded)))
                                        : py::object(py::none());
    stats["explanation"] = out.as_described ? out.as_described->explanation : py::object(py::none());
    py::list conflicts;
    if (out.as_described && out.solve) {
        for (const auto& c : out.solve->conflicts) {
            std::string line = (c.is_bound ? "bound " : "constraint ") + (c.name.empty() ? "(unlabelled)" : c.name);
            if (c.line > 0) line += " (line " + std::to_string(c.line) + ")";
            conflicts.append(from_u8(line + ": " + c.condition));
        }
        for (const auto& u : out.solve->unbounded) conflicts.append(from_u8("unbounded variable " + u));
    }
    stats["conflicts"] = conflicts;
    stats["deviations"] = text_list(out.deviations);
}

py::object generative_solve(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                            py::object mode, py::object iterations_arg, py::object return_statistics,
                            py::object alignment_check, py::object temperature, py::object stop,
                            py::object llm_provider, py::object progress, py::object few_shot, py::object verify,
                            py::object repair_replies) {
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
    cfg.repair = repair_replies.is_none() ? truthy(G("REPAIR_REPLIES")) : truthy(repair_replies);
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
    if (cfg.verify) {
        stats["solve"] = out.solve ? statistics_entry(*out.solve) : py::object(py::none());
        add_verdict_entries(stats, out);
    }
    stats["rounds"] = rounds_entry(out.rounds);
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
    py::object content = strip_reasoning(llm_call(provider, model_name, user_prompt, t, stop, progress, "feedback"));
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
          py::arg("repair_replies") = py::none(),
          "Have the LLM write a model and data pair for the problem description, compile it, repair it\n"
          "in a bounded loop, write both files every iteration and return the assessment text (or the\n"
          "statistics record with return_statistics=True).\n\n"
          "verify=True (default: the VERIFY setting) also solves every pair that compiles, within\n"
          "VERIFY_TIME_LIMIT seconds: an infeasible or unbounded pair goes back to the LLM with the\n"
          "conflicting constraints or the unbounded variables, a solved one reaches the alignment\n"
          "check with a summary of its solution, and the statistics gain a \"solve\" entry. The LLM may\n"
          "answer a revision request with the verdict that the problem as described has no optimum:\n"
          "the pair is kept and the statistics carry \"verdict\", \"explanation\" and \"conflicts\".\n\n"
          "repair_replies=True (default: the REPAIR_REPLIES setting) turns a reply that cannot be used\n"
          "into one more round that asks for the JSON object again, instead of a failure.");
    m.def("generative_feedback", &generative_feedback, py::arg("prompt"), py::arg("model_file"),
          py::arg("data_file"), py::arg("model_name") = m.attr("MODEL_NAME"), py::arg("mode") = bnf,
          py::arg("temperature") = py::none(), py::arg("stop") = py::none(),
          py::arg("llm_provider") = m.attr("LLM_PROVIDER"), py::arg("progress") = py::none(),
          "Ask the LLM a question about an existing model and data pair; returns its parsed JSON reply.");
}

}  // namespace genloom
