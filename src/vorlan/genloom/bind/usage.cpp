// The usage sink: token counts read from provider replies and the report to the sink.
#include "genloom/bind/usage.hpp"

#include <initializer_list>
#include <optional>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/registry.hpp"

namespace genloom {

namespace {

// obj.name, or obj["name"] for a mapping; None when missing or unreadable.
py::object field(py::handle obj, const char* name) {
    if (obj.is_none()) return py::none();
    try {
        if (PyDict_Check(obj.ptr())) return py::reinterpret_borrow<py::dict>(obj).attr("get")(name);
        return attr_or_none(obj, name);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    return py::none();
}

bool is_count(const py::object& v) { return PyLong_Check(v.ptr()) && !PyBool_Check(v.ptr()); }

// A token count: the field when it is an integer, else None.
py::object count_field(py::handle obj, const char* name) {
    py::object v = field(obj, name);
    return is_count(v) ? v : py::object(py::none());
}

py::object first_count(py::handle obj, const char* name, const char* fallback) {
    py::object v = count_field(obj, name);
    return v.is_none() ? count_field(obj, fallback) : v;
}

// The sum of the counts that are present; None when none is.
py::object sum_present(std::initializer_list<py::object> counts) {
    py::object total = py::none();
    for (const py::object& c : counts)
        if (!c.is_none()) total = total.is_none() ? c : py::object(total + c);
    return total;
}

struct OllamaCounts {
    std::optional<long long> input, output;
};
thread_local OllamaCounts t_ollama;

std::optional<long long> as_long(const py::object& v) {
    if (v.is_none()) return std::nullopt;
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
    if (overflow || (n == -1 && PyErr_Occurred())) {
        PyErr_Clear();
        return std::nullopt;
    }
    return n;
}

py::object from_long(const std::optional<long long>& n) {
    return n ? py::object(py::int_(*n)) : py::object(py::none());
}

// reply[key] for the mapping-like replies of the Ollama client layer; None on failure.
py::object item_or_none(py::handle reply, const char* key) {
    try {
        py::object v = reply[py::str(key)];
        if (is_count(v)) return v;
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    return py::none();
}

}  // namespace

TokenCounts openai_token_counts(py::handle reply) {
    py::object usage = field(reply, "usage");
    return {first_count(usage, "input_tokens", "prompt_tokens"),
            first_count(usage, "output_tokens", "completion_tokens")};
}

TokenCounts gemini_token_counts(py::handle reply) {
    py::object meta = field(reply, "usage_metadata");
    return {count_field(meta, "prompt_token_count"),
            sum_present({count_field(meta, "candidates_token_count"), count_field(meta, "thoughts_token_count")})};
}

TokenCounts anthropic_token_counts(py::handle reply) {
    py::object usage = field(reply, "usage");
    return {sum_present({count_field(usage, "input_tokens"), count_field(usage, "cache_creation_input_tokens"),
                         count_field(usage, "cache_read_input_tokens")}),
            count_field(usage, "output_tokens")};
}

void remember_ollama_counts(py::handle reply) {
    t_ollama.input = as_long(item_or_none(reply, "prompt_eval_count"));
    t_ollama.output = as_long(item_or_none(reply, "eval_count"));
}

void forget_ollama_counts() { t_ollama = {}; }

TokenCounts take_ollama_counts() {
    TokenCounts c{from_long(t_ollama.input), from_long(t_ollama.output)};
    t_ollama = {};
    return c;
}

void report_usage(const char* provider, const py::object& model, const py::object& input_text,
                  const py::object& output_text, const TokenCounts& tokens, double seconds) {
    try {
        py::object var = G("_usage_sink");
        if (var.is_none()) return;
        py::object sink = var.attr("get")();
        if (!PyCallable_Check(sink.ptr())) return;
        py::dict rec;
        rec["provider"] = provider;
        rec["model"] = model;
        rec["input_text"] = input_text;
        rec["output_text"] = output_text;
        rec["input_tokens"] = tokens.input;
        rec["output_tokens"] = tokens.output;
        rec["seconds"] = seconds;
        sink(rec);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;  // interrupts and exit requests pass through
    }
}

}  // namespace genloom
