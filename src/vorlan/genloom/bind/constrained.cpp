// A model and data pair written in two grammar-constrained calls: the model file under the
// model grammar, then the data file under the data grammar with the model in the prompt. The
// texts need no JSON wrapper; the loop compiles and repairs them as any other pair.
#include "genloom/bind/constrained.hpp"

#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/core/constrained.hpp"

namespace genloom {

namespace {
namespace cs = genloom::constrained;

py::str text_of(const std::string& s) { return py::str(s); }

// GRAMMAR_FIELD when set, else what the server's model listing says it is (once per server).
py::object grammar_field(py::object client) {
    py::object chosen = G("GRAMMAR_FIELD");
    if (!chosen.is_none()) return chosen;
    py::object base = attr_or_none(client, "base_url");
    py::str where = base.is_none() ? py::str("") : py::str(base);
    py::dict known = G("_GRAMMAR_FIELDS");
    if (known.contains(where)) return known[where];
    std::string owner;
    try {
        for (py::handle entry : client.attr("models").attr("list")()) {
            py::object by = attr_or_none(entry, "owned_by");
            if (PyUnicode_Check(by.ptr())) owner = std::string(Utf8(by).view());
            break;
        }
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;  // a server without a listing takes the common field
    }
    py::str field = text_of(cs::field_for_owner(owner));
    known[where] = field;
    return std::move(field);
}

// Puts the grammar into the request's extra body under the field's path of keys.
void add_grammar_field(py::object client, py::dict record, py::object grammar) {
    py::object name = G("_grammar_field")(client);
    auto path = PyUnicode_Check(name.ptr()) ? cs::field_path(Utf8(name).view()) : std::vector<std::string>{};
    if (path.empty())
        raise_error(PyExc_ValueError, cat({py::str("Invalid GRAMMAR_FIELD: "), py::repr(name),
                                           py::str(" (a field name such as grammar or structured_outputs.grammar)")}));
    if (!record.contains("extra_body")) record["extra_body"] = py::dict();
    py::dict node = record["extra_body"].cast<py::dict>();
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        py::str key(path[i]);
        if (!node.contains(key) || !PyDict_Check(py::object(node[key]).ptr())) node[key] = py::dict();
        node = node[key].cast<py::dict>();
    }
    node[py::str(path.back())] = grammar;
}

py::object generate_constrained_pair(py::object provider, py::object model_name, py::object prompt,
                                     py::object temperature, py::object stop, py::object progress) {
    auto call = [&](const std::string& text, const char* grammar_reader) {
        return G("_llm_generate_text")(py::arg("provider") = provider, py::arg("model_name") = model_name,
                                       py::arg("input_text") = py::str(text),
                                       py::arg("max_tokens") = G("MAX_OUTPUT_TOKENS"),
                                       py::arg("temperature") = temperature, py::arg("stop") = stop,
                                       py::arg("progress") = progress, py::arg("grammar") = G(grammar_reader)());
    };
    Utf8 request(prompt);
    notify(progress, "Writing the model under the model grammar");
    py::object model = call(cs::model_prompt(request.view()), "_read_vorlan_GBNF");
    if (!PyUnicode_Check(model.ptr()) || !truthy(model)) return py::make_tuple(py::str(""), py::str(""));
    notify(progress, "Writing the data under the data grammar");
    py::object data = call(cs::data_prompt(request.view(), Utf8(model).view()), "_read_vorlan_data_GBNF");
    return py::make_tuple(model, data);
}

}  // namespace

bool grammar_constrained(const py::object& provider) {
    py::object value = G("CONSTRAIN");
    if (value.is_none() || py::str("none").equal(value)) return false;
    if (!py::str("grammar").equal(value))
        raise_error(PyExc_ValueError,
                    cat({py::str("CONSTRAIN must be \"none\" or \"grammar\", not "), py::repr(value)}));
    if (!provider.equal(G("LLMProvider").attr("OPENAI")))
        raise_error(PyExc_ValueError,
                    cat({py::str("CONSTRAIN = \"grammar\" needs an OpenAI-compatible server that takes grammars "
                                 "(provider openai, OPENAI_BASE_URL), not provider "),
                         py::str(provider.attr("value"))}));
    return true;
}

void register_constrained(py::module_& m) {
    // "grammar": generation writes the model and the data in two calls constrained by the GBNF
    // grammars (local OpenAI-compatible servers); "none": one JSON reply. Read when a solve starts.
    m.attr("CONSTRAIN") = "none";
    // Request field that carries the grammar ("grammar", "structured_outputs.grammar", ...);
    // None: chosen from the server's model listing, once per server.
    m.attr("GRAMMAR_FIELD") = py::none();
    m.attr("_GRAMMAR_FIELDS") = py::dict();
    m.def("_grammar_field", &grammar_field, py::arg("client"),
          "The request field that carries a grammar for the client's server.");
    m.def("_add_grammar_field", &add_grammar_field, py::arg("client"), py::arg("record"), py::arg("grammar"),
          "Put a grammar into a chat completions request record (its extra_body).");
    m.def("_generate_constrained_pair", &generate_constrained_pair, py::arg("provider"), py::arg("model_name"),
          py::arg("prompt"), py::arg("temperature") = py::none(), py::arg("stop") = py::none(),
          py::arg("progress") = py::none(),
          "(model, data) written in two grammar-constrained calls for a prompt that asks for a pair.");
}

}  // namespace genloom
