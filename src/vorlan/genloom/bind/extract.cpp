// extract_json_from_markdown, _json_loads_relaxed, _coalesce_response_text.
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "genloom/bind/llm_util.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/json_extract.hpp"

namespace genloom {

namespace {

using core::JsonError;

py::object require_str(py::handle text) {
    if (!PyUnicode_Check(text.ptr()))
        raise_error(PyExc_TypeError,
                    py::str(std::string("expected string, got ") + Py_TYPE(text.ptr())->tp_name));
    return py::reinterpret_borrow<py::object>(text);
}

// The reply's JSON object text, or the reply itself when none is found.
py::object extract_object_text(py::handle text) {
    Utf8 u(text);
    auto span = core::extract_json_span(u.view());
    if (!span) return py::reinterpret_borrow<py::object>(text);
    return u.slice(span->begin, span->end);
}

// Builds host values straight from the parse events; containers on an explicit stack.
class PySink final : public core::JsonSink {
public:
    bool null_value() override { return add(py::none()); }
    bool boolean(bool v) override { return add(py::bool_(v)); }
    bool integer(int64_t v) override { return add(steal(PyLong_FromLongLong(v))); }
    bool unsigned_integer(uint64_t v) override { return add(steal(PyLong_FromUnsignedLongLong(v))); }
    bool big_integer(std::string_view digits) override {
        std::string d(digits);
        return add(steal(PyLong_FromString(d.c_str(), nullptr, 10)));
    }
    bool floating(double v) override { return add(steal(PyFloat_FromDouble(v))); }
    bool string(std::string_view s) override { return add(decode(s)); }
    bool start_object() override { return open(steal(PyDict_New())); }
    bool key(std::string_view k) override {
        key_ = decode(k);
        return true;
    }
    bool end_object() override {
        stack_.pop_back();
        return true;
    }
    bool start_array() override { return open(steal(PyList_New(0))); }
    bool end_array() override {
        stack_.pop_back();
        return true;
    }

    py::object root;

private:
    static py::object steal(PyObject* o) {
        if (!o) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(o);
    }
    static py::object decode(std::string_view s) {
        return steal(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr));
    }
    bool add(py::object v) {
        if (stack_.empty()) {
            root = std::move(v);
            return true;
        }
        PyObject* top = stack_.back().ptr();
        const int rc = PyList_CheckExact(top) ? PyList_Append(top, v.ptr())
                                              : PyDict_SetItem(top, key_.ptr(), v.ptr());
        if (rc < 0) throw py::error_already_set();
        return true;
    }
    bool open(py::object c) {
        add(c);
        stack_.push_back(std::move(c));
        return true;
    }

    std::vector<py::object> stack_;
    py::object key_;
};

// Parses `doc` strictly; on failure `err` is set and None returned.
py::object parse_doc(const Utf8& u, std::optional<JsonError>& err) {
    PySink sink;
    err = core::parse_json_strict(u.view(), sink);
    if (err) return py::none();
    return sink.root;
}

[[noreturn]] void raise_decode_error(py::handle doc, const Utf8& u, const JsonError& err) {
    std::size_t byte = err.byte_pos ? err.byte_pos - 1 : 0;
    std::size_t pos = core::code_point_index(u.view(), byte);
    py::object cls = py::module_::import("json").attr("JSONDecodeError");
    // The parser's message may quote a partial UTF-8 sequence of the input.
    const std::string& text = err.message.empty() ? std::string("invalid JSON") : err.message;
    py::object msg = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace"));
    if (!msg) throw py::error_already_set();
    py::object exc = cls(msg, doc, pos);
    PyErr_SetObject(cls.ptr(), exc.ptr());
    throw py::error_already_set();
}

py::object json_loads_relaxed(py::handle text_arg) {
    require_str(text_arg);
    py::object stripped = strip_reasoning(py::reinterpret_borrow<py::object>(text_arg));
    py::handle text = stripped;
    // Only an object or null can succeed at the first attempt; any other start would
    // be parsed just to be discarded.
    auto may_be_object_or_null = [](std::string_view v) {
        std::size_t i = v.find_first_not_of(" \t\n\r");
        return i != std::string_view::npos && (v[i] == '{' || v[i] == 'n');
    };
    bool first_done = false;  // the first attempt ran to a parse result or parse error
    std::optional<JsonError> first_err;
    py::object first_value;
    {
        Utf8 u(text);
        if (may_be_object_or_null(u.view())) {
            try {
                first_value = parse_doc(u, first_err);
                if (!first_err && (first_value.is_none() || PyDict_Check(first_value.ptr())))
                    return first_value;
                first_done = true;
            } catch (py::error_already_set& e) {
                if (!is_ordinary(e)) throw;  // the first failure is dropped, whatever its kind
            }
        }
    }
    py::object part = extract_object_text(text);
    Utf8 u(part);
    std::optional<JsonError> err;
    py::object v;
    if (first_done && part.is(text)) {
        // Same text again: the second parse would give the same outcome.
        err = std::move(first_err);
        v = std::move(first_value);
    } else {
        v = parse_doc(u, err);
    }
    if (err) raise_decode_error(part, u, *err);
    if (v.is_none() || PyDict_Check(v.ptr())) return v;
    std::string kind = Py_TYPE(v.ptr())->tp_name;
    raise_error(PyExc_TypeError, py::str("Expected dict, got " + kind.substr(0, 200)));
}

// Step 2 of the reply-text rules: every piece of text across output items and blocks.
// Returns false when no piece was found.
bool join_output_pieces(py::handle resp, py::object& out) {
    py::object output = attr_or_none(resp, "output");
    py::list pieces;
    if (!output.is_none() && truthy(output)) {
        for (py::handle item : output) {
            py::object content = attr_or_none(item, "content");
            if (content.is_none()) {
                if (has_attr(item, "text")) {
                    py::object t = attr_or_none(item, "text");
                    pieces.append(truthy(t) ? t : py::str(""));
                }
                continue;
            }
            for (py::handle block : content) {
                if (has_attr(block, "text")) {
                    py::object t = attr_or_none(block, "text");
                    pieces.append(truthy(t) ? t : py::str(""));
                } else if (PyDict_Check(block.ptr())) {
                    PyObject* t = PyDict_GetItemString(block.ptr(), "text");
                    if (t && PyUnicode_Check(t)) pieces.append(py::handle(t));
                }
            }
        }
    }
    if (pieces.empty()) return false;
    out = py::str("").attr("join")(pieces);
    return true;
}

py::object coalesce_response_text(py::handle resp) {
    py::object ot = attr_or_none(resp, "output_text");
    if (truthy(ot)) return ot;
    try {
        py::object joined;
        if (join_output_pieces(resp, joined)) return joined;
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    try {
        py::object first = resp.attr("output")[py::int_(0)];
        py::object block = first.attr("content")[py::int_(0)];
        if (has_attr(block, "text")) {
            py::object t = block.attr("text");
            return truthy(t) ? t : py::str("");
        }
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        return py::str("");
    }
    return py::str("");
}

}  // namespace

py::object strip_reasoning(const py::object& text) {
    if (!PyUnicode_Check(text.ptr())) return text;
    Utf8 u(text);
    core::Span span = core::strip_reasoning(u.view());
    if (span.begin == 0 && span.end == u.view().size()) return text;
    return u.slice(span.begin, span.end);
}

void register_extract(py::module_& m) {
    m.def(
        "extract_json_from_markdown",
        [](py::handle text) { return extract_object_text(require_str(text)); }, py::arg("text"),
        "The JSON object text inside an LLM reply: the object of a ``` or ```json fence,\n"
        "else the first brace-balanced span, else the text unchanged.");
    m.def("_json_loads_relaxed", &json_loads_relaxed, py::arg("text"),
          "Parse a reply as one JSON object (None for null), falling back to the object\n"
          "text found by extract_json_from_markdown.");
    m.def("_coalesce_response_text", &coalesce_response_text, py::arg("resp"),
          "Plain text of an OpenAI reply object (output_text, else the output blocks).");
}

}  // namespace genloom
