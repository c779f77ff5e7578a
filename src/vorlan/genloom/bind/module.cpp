// Loading of vorlan.genloom: bound names, logger, settings, enumerations, _notify,
// then the functions in the order of the module's interface.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "genloom/bind/registry.hpp"

namespace genloom {

namespace {
py::module_* g_module = nullptr;
}

py::module_& module() { return *g_module; }

bool is_ordinary(const py::error_already_set& e) { return e.matches(PyExc_Exception); }

void notify(const py::object& progress, const std::string& msg) {
    G("_notify")(progress, py::str(msg));
}

}  // namespace genloom

using namespace genloom;

PYBIND11_MODULE(genloom, m) {
    // Held for the life of the process (the module is never unloaded).
    g_module = new py::module_(m);
    m.doc() = "Generation pipeline, LLM access and prompt construction for Vorlan models.";

    // 1. Standard facilities the functions use.
    py::module_ logging = py::module_::import("logging");
    py::module_ enum_mod = py::module_::import("enum");

    // 2. The compiler component.
    py::module_ core = py::module_::import("vorlan.vorlan_core");
    m.attr("QelCompiler") = core.attr("QelCompiler");
    m.attr("SemanticError") = core.attr("SemanticError");

    // 3. Description ranking, bound under its local name.
    m.attr("rag_rank") = py::module_::import("vorlan.nearscan").attr("rank_problem_descriptions");

    // 4. The module logger.
    m.attr("logger") = logging.attr("getLogger")("vorlan.genloom");

    // 5. _notify, the settings, the enumerations, then the functions.
    m.def(
        "_notify",
        [](py::object progress, py::object msg) {
            try {
                if (!progress.is_none())
                    progress(msg);
                else
                    G("logger").attr("debug")(msg);
            } catch (py::error_already_set& e) {
                if (!is_ordinary(e)) throw;  // interrupts and exit requests pass through
            }
        },
        py::arg("progress"), py::arg("msg"),
        "Hand a progress message to the callback, or log it at debug level without one.\n"
        "A failing callback never reaches the caller.");

    m.attr("MAX_ITERATIONS") = 5;
    m.attr("MAX_OUTPUT_TOKENS") = py::none();
    m.attr("LLM_PROVIDER") = "openai";
    m.attr("MODEL_NAME") = "gpt-5";
    m.attr("ALIGNMENT_CHECK") = true;
    m.attr("FEW_SHOT_TOP_K") = 3;
    m.attr("FEW_SHOT_MAX_CHARS") = 2147483647;
    // Solve every pair that compiles inside the repair loop (generative_solve(verify=None) reads
    // this at call time), with this limit in seconds per solve.
    m.attr("VERIFY") = false;
    m.attr("VERIFY_TIME_LIMIT") = 60.0;
    // A reply that cannot be used (prose, near-JSON, wrong shape) becomes one more round that asks
    // for the JSON object again, within the iteration budget, instead of ending the call.
    m.attr("REPAIR_REPLIES") = false;

    py::object Enum = enum_mod.attr("Enum");
    py::list providers;
    providers.append(py::make_tuple("OPENAI", "openai"));
    providers.append(py::make_tuple("GOOGLE", "google"));
    providers.append(py::make_tuple("OLLAMA", "ollama"));
    providers.append(py::make_tuple("ANTHROPIC", "anthropic"));
    m.attr("LLMProvider") = Enum("LLMProvider", providers, py::arg("module") = "vorlan.genloom");
    m.attr("LLMProvider").attr("__doc__") =
        "The LLM services a call can go to: OpenAI, Google Gemini, a local Ollama server or Anthropic.";
    py::list modes;
    modes.append("NONE");
    modes.append("BNF");
    modes.append("CODE");
    m.attr("Grammar") = Enum("Grammar", modes, py::arg("module") = "vorlan.genloom");
    m.attr("Grammar").attr("__doc__") =
        "Which grammar reference goes into the prompts: none, the grammar document (BNF) or the\n"
        "compiler's source (CODE).";

    register_grammar(m);
    register_fewshot(m);
    register_extract(m);
    register_llm(m);
    register_anthropic(m);
    register_gemini_genai(m);
    register_prompts(m);
    register_pipeline(m);
    register_listing(m);
    register_verify(m);
}
