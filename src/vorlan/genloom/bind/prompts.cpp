// The prompt builders: argument checks and host-object conversion here, the
// template texts in the core.
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "common/quote.hpp"
#include "common/host.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/prompts.hpp"

namespace genloom {
using vorlan::host::utf8_of;
using vorlan::host::str_of;
using vorlan::host::require_str;

namespace {
namespace pr = genloom::prompts;

// Checks a text argument and returns its UTF-8.
std::string text_arg(py::handle v, const char* name) {
    require_str(v, name);
    return utf8_of(v);
}

// A shallow copy of a host list: str() of an entry could run host code that changes it.
py::list copy_list(py::handle l) {
    auto c = py::reinterpret_steal<py::list>(PyList_GetSlice(l.ptr(), 0, PY_SSIZE_T_MAX));
    if (!c) throw py::error_already_set();
    return c;
}

std::string entry_text(py::handle v) { return utf8_of(py::str(v)); }

// few_shots: a list of example records, or None.
pr::Examples examples_arg(py::handle few_shots) {
    pr::Examples out;
    if (few_shots.is_none()) return out;
    if (!PyList_Check(few_shots.ptr()))
        throw py::type_error("few_shots must be a list or None, not " +
                             std::string(py::str(py::type::handle_of(few_shots).attr("__name__"))));
    py::list items = copy_list(few_shots);
    out.reserve(items.size());
    for (py::handle ex : items) {
        pr::FewShotExample e;
        py::object get = ex.attr("get");
        e.desc_path = entry_text(get("desc_path", ""));
        e.model_path = entry_text(get("model_path", ""));
        e.data_path = entry_text(get("data_path", ""));
        e.description = entry_text(ex[py::str("description")]);
        e.model = entry_text(ex[py::str("model")]);
        e.data = entry_text(ex[py::str("data")]);
        out.push_back(std::move(e));
    }
    return out;
}

// syntax_errors: a list of texts.
std::vector<std::string> errors_arg(py::handle errors) {
    if (!PyList_Check(errors.ptr()))
        throw py::type_error("syntax_errors must be a list of str, not " +
                             std::string(py::str(py::type::handle_of(errors).attr("__name__"))));
    std::vector<std::string> out;
    for (py::handle e : copy_list(errors)) out.push_back(text_arg(e, "syntax_errors items"));
    return out;
}
}  // namespace

void register_prompts(py::module_& m) {
    m.def(
        "_build_generation_prompt",
        [](py::object prompt, py::object grammar_implementation, py::object few_shots) {
            auto p = text_arg(prompt, "prompt");
            auto g = text_arg(grammar_implementation, "grammar_implementation");
            auto ex = examples_arg(few_shots);
            return str_of(pr::generation(p, g, ex));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("few_shots") = py::none(),
        "Prompt asking for a model and data pair for a problem description.");
    m.def(
        "_build_alignment_prompt",
        [](py::object prompt, py::object grammar_implementation, py::object model_code, py::object data_code,
           py::object solution_summary, py::object previous_model, py::object previous_data) {
            auto p = text_arg(prompt, "prompt");
            auto g = text_arg(grammar_implementation, "grammar_implementation");
            auto mc = text_arg(model_code, "model_code");
            auto dc = text_arg(data_code, "data_code");
            if (previous_model.is_none() != previous_data.is_none())
                throw py::type_error("previous_model and previous_data go together");
            std::string summary, pm, pd;
            if (!solution_summary.is_none()) {
                summary = text_arg(solution_summary, "solution_summary");
                if (summary.empty() || summary.back() != '\n') summary += '\n';
            }
            if (!previous_model.is_none()) {
                pm = text_arg(previous_model, "previous_model");
                pd = text_arg(previous_data, "previous_data");
            }
            std::string_view sv = summary;
            pr::PreviousPair prev{pm, pd};
            return str_of(pr::alignment(p, g, mc, dc, solution_summary.is_none() ? nullptr : &sv,
                                        previous_model.is_none() ? nullptr : &prev));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("solution_summary") = py::none(), py::arg("previous_model") = py::none(),
        py::arg("previous_data") = py::none(),
        "Prompt asking whether a compiled pair matches the problem description. With a\n"
        "solution_summary (from the verification stage) it also shows the solver's result; with the\n"
        "previous pair of a solve revision it asks for the stated values the revision no longer uses.");
    m.def(
        "_build_repair_prompt",
        [](py::object asked, py::object reply, py::object error) {
            auto a = text_arg(asked, "asked");
            auto r = text_arg(reply, "reply");
            auto e = text_arg(error, "error");
            return str_of(pr::reply_repair(a, r, e));
        },
        py::arg("asked"), py::arg("reply"), py::arg("error"),
        "The prompt that got an unusable reply, with a section quoting the reply's start and why it\n"
        "could not be used, asking for the JSON object alone.");
    m.def(
        "_build_revision_prompt_alignment",
        [](py::object prompt, py::object grammar_implementation, py::object assessment_text, py::object model_code,
           py::object data_code, py::object few_shots) {
            auto p = text_arg(prompt, "prompt");
            auto g = text_arg(grammar_implementation, "grammar_implementation");
            auto a = text_arg(assessment_text, "assessment_text");
            auto mc = text_arg(model_code, "model_code");
            auto dc = text_arg(data_code, "data_code");
            auto ex = examples_arg(few_shots);
            return str_of(pr::revision_alignment(p, g, a, mc, dc, ex));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("assessment_text"), py::arg("model_code"),
        py::arg("data_code"), py::arg("few_shots") = py::none(),
        "Prompt asking to revise a pair after a negative alignment verdict.");
    m.def(
        "_build_revision_prompt_syntax",
        [](py::object prompt, py::object grammar_implementation, py::object model_code, py::object data_code,
           py::object syntax_errors, py::object few_shots) {
            auto p = text_arg(prompt, "prompt");
            auto g = text_arg(grammar_implementation, "grammar_implementation");
            auto mc = text_arg(model_code, "model_code");
            auto dc = text_arg(data_code, "data_code");
            auto errs = errors_arg(syntax_errors);
            auto ex = examples_arg(few_shots);
            return str_of(pr::revision_syntax(p, g, mc, dc, errs, ex));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"), py::arg("few_shots") = py::none(),
        "Prompt asking to fix the compiler errors of a pair.");
    m.def(
        "_build_revision_prompt_solve",
        [](py::object prompt, py::object grammar_implementation, py::object model_code, py::object data_code,
           py::object solver_findings, py::object few_shots) {
            auto p = text_arg(prompt, "prompt");
            auto g = text_arg(grammar_implementation, "grammar_implementation");
            auto mc = text_arg(model_code, "model_code");
            auto dc = text_arg(data_code, "data_code");
            auto f = text_arg(solver_findings, "solver_findings");
            if (f.empty() || f.back() != '\n') f += '\n';
            auto ex = examples_arg(few_shots);
            return str_of(pr::revision_solve(p, g, mc, dc, f, ex));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("solver_findings"), py::arg("few_shots") = py::none(),
        "Prompt asking to revise a pair that compiles but that the solver found infeasible or unbounded.");
    m.def(
        "_build_final_assessment_prompt",
        [](py::object prompt, py::object grammar_implementation, py::object model_code, py::object data_code,
           py::object syntax_errors) {
            auto p = text_arg(prompt, "prompt");
            auto g = text_arg(grammar_implementation, "grammar_implementation");
            auto mc = text_arg(model_code, "model_code");
            auto dc = text_arg(data_code, "data_code");
            auto errs = errors_arg(syntax_errors);
            return str_of(pr::final_assessment(p, g, mc, dc, errs));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"), "Prompt asking for a plain-text assessment of the final pair.");
    m.def(
        "_build_feedback_prompt",
        [](py::object user_prompt_text, py::object grammar_implementation, py::object model_code,
           py::object data_code) {
            auto q = text_arg(user_prompt_text, "user_prompt_text");
            auto g = text_arg(grammar_implementation, "grammar_implementation");
            auto mc = text_arg(model_code, "model_code");
            auto dc = text_arg(data_code, "data_code");
            return str_of(pr::feedback(q, g, mc, dc));
        },
        py::arg("user_prompt_text"), py::arg("grammar_implementation"), py::arg("model_code"),
        py::arg("data_code"), "Prompt answering a user's question about an existing pair.");
}

}  // namespace genloom
