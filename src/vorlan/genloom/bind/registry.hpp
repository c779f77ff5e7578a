// Shared plumbing of the genloom binding files.
//
// genloom behaves like a module written in the host language: every module-level
// name (settings, bound names, the module's own functions) is looked up in the
// module's namespace when it is used, so a host that rebinds one sees the change.
#pragma once
#include <pybind11/pybind11.h>

#include <string>

namespace genloom {
namespace py = pybind11;

// The module object, set once at load.
py::module_& module();

// Current value of a module-level name: G("MAX_OUTPUT_TOKENS"), G("_llm_generate_text").
inline py::object G(const char* name) { return module().attr(name); }

// Report a progress message through the module's own _notify.
void notify(const py::object& progress, const std::string& msg);

// True for an error of the host's general error class (not an interrupt or exit).
bool is_ordinary(const py::error_already_set& e);

// A reply text without its reasoning blocks (<think>...</think> and the like); the same
// object when there are none, and anything that is not text unchanged.
py::object strip_reasoning(const py::object& text);

// Registration of each group of functions, called at load in interface-table order.
void register_grammar(py::module_& m);    // _read_file ... _get_grammar_implementation
void register_fewshot(py::module_& m);    // _safe_read_text, _find_pair_in_folder, _gather_few_shots
void register_extract(py::module_& m);    // extract_json_from_markdown, _json_loads_relaxed, _coalesce_response_text
void register_llm(py::module_& m);        // _openai_client ... _llm_generate_text, then:
void register_openai_call(py::module_& m);  // _call_openai_with_retry
void register_anthropic(py::module_& m);  // _anthropic_client, _build_anthropic_params
void register_gemini_genai(py::module_& m);  // GEMINI_CLIENT, _genai_client, _build_genai_config
void register_prompts(py::module_& m);    // the _build_*_prompt functions
void register_pipeline(py::module_& m);   // generative_solve, generative_feedback
void register_listing(py::module_& m);    // list_openai_models ... list_models
void register_verify(py::module_& m);     // _verify_compiled, the repair loop's solver step
}  // namespace genloom
