// Reply schemas on provider requests (see reply_format.hpp).
#include "genloom/bind/reply_format.hpp"

#include <string>

namespace genloom {

namespace {
namespace rp = genloom::replies;

rp::Contract contract_of(py::handle name) {
    if (PyUnicode_Check(name.ptr()))
        if (auto c = rp::contract_named(Utf8(name).view())) return *c;
    raise_error(PyExc_ValueError, cat({py::str("Unknown reply contract: "), py::repr(name),
                                       py::str(" (pair, alignment, solve_revision, feedback or alignment_deviations)")}));
}

py::object schema_value(rp::Contract c, rp::Dialect d) {
    return py::module_::import("json").attr("loads")(py::str(rp::reply_schema(c, d)));
}

// The set of refused scopes, a module-level name so a host (or a test) can clear it.
bool refused(const std::string& scope) { return truthy(G("_REPLY_FORMAT_REFUSED").attr("__contains__")(scope)); }

std::string openai_scope(py::handle client, py::handle model_name, bool chat) {
    py::object base = attr_or_none(client, "base_url");
    std::string where = base.is_none() ? std::string() : std::string(Utf8(py::str(base)).view());
    return format_scope(chat ? "openai chat" : "openai responses", model_name) + " " + where;
}

py::str reply_schema_text(py::object contract, py::object dialect) {
    auto d = PyUnicode_Check(dialect.ptr()) ? rp::dialect_named(Utf8(dialect).view()) : std::nullopt;
    if (!d)
        raise_error(PyExc_ValueError, cat({py::str("Unknown schema dialect: "), py::repr(dialect),
                                           py::str(" (json_schema, object, openai_strict or gemini)")}));
    return py::str(rp::reply_schema(contract_of(contract), *d));
}

}  // namespace

std::string format_scope(const char* provider, py::handle model_name) {
    return std::string(provider) + " " + std::string(Utf8(py::str(model_name)).view());
}

void remember_format_refusal(const std::string& scope, const char* label, const py::object& progress) {
    G("_REPLY_FORMAT_REFUSED").attr("add")(scope);
    notify(progress, std::string("[LLM] ") + label +
                         ": the server did not accept the reply schema; continuing without it for this run");
}

bool add_openai_reply_format(py::dict& record, py::handle client, py::handle contract, bool chat) {
    if (contract.is_none() || refused(openai_scope(client, record["model"], chat))) return false;
    const rp::Contract c = contract_of(contract);
    py::dict named;
    named["name"] = py::str(std::string(rp::contract_name(c)));
    named["schema"] = schema_value(c, rp::Dialect::OpenAIStrict);
    named["strict"] = true;
    py::dict format;
    format["type"] = "json_schema";
    if (chat) {
        format["json_schema"] = named;
        record["response_format"] = format;
    } else {
        format.attr("update")(named);
        py::dict text;
        text["format"] = format;
        record["text"] = text;
    }
    return true;
}

bool drop_refused_openai_format(py::dict& params, py::handle client, bool chat, const py::str& error_text,
                                const py::object& progress) {
    py::str key(chat ? "response_format" : "text");
    if (!params.contains(key) || !params.contains("model")) return false;
    if (chat) {  // today's chat requests carry no response_format; only a schema one is ours
        py::object value = params[key];
        if (!PyDict_Check(value.ptr()) || !py::str("json_schema").equal(value.attr("get")("type"))) return false;
    }
    if (!rp::names_reply_format(Utf8(error_text).view())) return false;
    PyDict_DelItem(params.ptr(), key.ptr());
    remember_format_refusal(openai_scope(client, params["model"], chat), "OpenAI", progress);
    return true;
}

py::object openai_reply_in_contract(py::handle contract, const py::object& text) {
    if (contract.is_none() || !PyUnicode_Check(text.ptr())) return text;
    Utf8 u(text);
    std::string shaped = rp::without_strict_nulls(contract_of(contract), u.view());
    return shaped == u.view() ? text : py::object(u.make(shaped));
}

bool add_gemini_reply_format(py::dict& settings, py::handle model_name, py::handle contract) {
    if (contract.is_none() || refused(format_scope("google", model_name))) return false;
    settings["response_mime_type"] = "application/json";
    settings["response_schema"] = schema_value(contract_of(contract), rp::Dialect::Gemini);
    return true;
}

py::object provider_reply_schema(py::handle contract, const std::string& scope, rp::Dialect dialect) {
    if (contract.is_none() || refused(scope)) return py::none();
    return schema_value(contract_of(contract), dialect);
}

py::object ollama_reply_format(py::handle model_name, py::handle contract) {
    return provider_reply_schema(contract, format_scope("ollama", model_name), rp::Dialect::JsonSchema);
}

void register_reply_format(py::module_& m) {
    // Ask every provider for the reply's JSON shape (schema) where the call has a reply contract;
    // read at every call. Off: every request is exactly as without it.
    m.attr("STRUCTURED_OUTPUT") = false;
    // Scopes (provider, model, endpoint) whose server refused a reply schema in this process.
    m.attr("_REPLY_FORMAT_REFUSED") = py::set();
    m.def("_reply_schema", &reply_schema_text, py::arg("contract"), py::arg("dialect") = "json_schema",
          "JSON text of the schema of a reply contract (pair, alignment, solve_revision, feedback) in a\n"
          "dialect: json_schema (as the prompts show), object (one root object), openai_strict, gemini.");
}

}  // namespace genloom
