// list_openai_models, list_gemini_models, list_ollama_models, list_anthropic_models,
// list_models.
#include <pybind11/pybind11.h>

#include "genloom/bind/client_layers.hpp"
#include "genloom/bind/gemini_genai.hpp"
#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/provider_settings.hpp"
#include "genloom/bind/registry.hpp"

namespace genloom {

namespace {

// sorted(set(names)), keeping only those starting with a non-empty prefix.
py::list distinct_sorted(const py::list& names, const py::object& prefix) {
    py::set kept;
    const bool filter = !prefix.is_none() && truthy(prefix);
    for (py::handle n : names)
        if (!filter || truthy(n.attr("startswith")(prefix))) kept.add(n);
    return py::module_::import("builtins").attr("sorted")(kept);
}

py::list list_openai_models(py::object prefix) {
    py::object client = G("_openai_client")();
    py::object resp;
    try {
        resp = client.attr("models").attr("list")();
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_error(PyExc_RuntimeError, cat({py::str("Failed to list OpenAI models: "), error_text(e)}));
    }
    py::object data = attr_or_none(resp, "data");
    py::list items;
    if (PyList_Check(data.ptr()))
        items = py::reinterpret_borrow<py::list>(data);
    else if (!resp.is_none())
        for (py::handle it : resp) items.append(it);
    py::list ids;
    for (py::handle rec : items) {
        py::object id = attr_or_none(rec, "id");
        if ((id.is_none() || !truthy(id)) && PyDict_Check(rec.ptr()))
            id = rec.attr("get")("id");
        if (PyUnicode_Check(id.ptr())) ids.append(id);
    }
    return distinct_sorted(ids, prefix);
}

// google-genai model records: `name` ("models/" then the identifier; the prefix is
// removed where present) and `supported_actions` ("generateContent" marks a text generator).
py::list list_genai_models(const py::object& prefix) {
    py::list names;
    py::str tag("models/");
    for (py::handle rec : genai_model_records()) {
        py::object actions = attr_or_none(rec, "supported_actions");
        if (actions.is_none() || !truthy(actions.attr("__contains__")("generateContent"))) continue;
        py::object name = attr_or_none(rec, "name");
        if (!PyUnicode_Check(name.ptr())) continue;
        if (truthy(name.attr("startswith")(tag))) name = name[py::slice(7, PyUnicode_GetLength(name.ptr()), 1)];
        names.append(name);
    }
    // As on the older client, only names with a non-empty matching prefix are kept.
    if (prefix.is_none() || !truthy(prefix)) return py::list();
    return distinct_sorted(names, prefix);
}

py::list list_gemini_models(py::object prefix) {
    if (gemini_client() == core::GeminiClient::GenAI) return list_genai_models(prefix);
    py::object genai = G("_google_client")();
    py::list models;
    try {
        py::object res = genai.attr("list_models")();
        // The client layer may hand back a lazy pager: read it here so that a failing
        // service request gets the same message as a failing call.
        if (!res.is_none())
            for (py::handle rec : res) models.append(rec);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_error(PyExc_RuntimeError, cat({py::str("Failed to list Gemini models: "), error_text(e)}));
    }
    py::list names;
    py::str tag("models/");
    for (py::handle rec : models) {
        py::object methods = rec.attr("supported_generation_methods");
        if (!truthy(methods.attr("__contains__")("generateContent"))) continue;
        py::object name = attr_or_none(rec, "name");
        if (!PyUnicode_Check(name.ptr()) || !truthy(name.attr("startswith")(tag))) continue;
        names.append(name[py::slice(7, PyUnicode_GetLength(name.ptr()), 1)]);
    }
    return distinct_sorted(names, prefix);
}

py::list list_ollama_models(py::object prefix) {
    OllamaOperation list_op("list");
    py::list names;
    try {
        py::object resp = list_op(py::kwargs());
        for (py::handle rec : resp[py::str("models")]) {
            if (PyDict_Check(rec.ptr()))
                names.append(rec[py::str("model")]);
            else
                names.append(rec.attr("model"));
        }
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_error(PyExc_RuntimeError, cat({py::str("Failed to list Ollama models: "), error_text(e)}));
    }
    return distinct_sorted(names, prefix);
}

py::list list_anthropic_models(py::object prefix) {
    py::object client = G("_anthropic_client")();
    py::list ids;
    try {
        // Iterating the page reads the following pages too.
        for (py::handle rec : client.attr("models").attr("list")()) {
            py::object id = attr_or_none(rec, "id");
            if (PyUnicode_Check(id.ptr())) ids.append(id);
        }
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        raise_error(PyExc_RuntimeError, cat({py::str("Failed to list Anthropic models: "), error_text(e)}));
    }
    return distinct_sorted(ids, prefix);
}

py::object list_models(py::object llm_provider, py::object model_name) {
    py::object provider = G("_infer_provider")(llm_provider, model_name);
    py::object P = G("LLMProvider");
    if (provider.equal(P.attr("OPENAI"))) {
        // Servers reached through chat completions name their models freely: list them all.
        if (openai_api() == core::OpenAIApi::Chat) return G("list_openai_models")(py::none());
        return G("list_openai_models")();
    }
    if (provider.equal(P.attr("GOOGLE"))) return G("list_gemini_models")();
    if (provider.equal(P.attr("ANTHROPIC"))) return G("list_anthropic_models")();
    return G("list_ollama_models")();
}

}  // namespace

void register_listing(py::module_& m) {
    m.def("list_openai_models", &list_openai_models, py::arg("prefix") = "gpt",
          "OpenAI model identifiers starting with prefix, distinct and sorted.");
    m.def("list_gemini_models", &list_gemini_models, py::arg("prefix") = "gemini",
          "Gemini text-generation model names starting with prefix, distinct and sorted.");
    m.def("list_ollama_models", &list_ollama_models, py::arg("prefix") = py::none(),
          "Models of the local Ollama server (starting with prefix when given), distinct and sorted.");
    m.def("list_anthropic_models", &list_anthropic_models, py::arg("prefix") = "claude",
          "Anthropic model identifiers starting with prefix, distinct and sorted.");
    m.def("list_models", &list_models, py::arg("llm_provider") = py::none(),
          py::arg("model_name") = m.attr("MODEL_NAME"),
          "Model names of the provider chosen by llm_provider, else by model_name.");
}

}  // namespace genloom
