// Grammar reference texts: the documents beside the package folder and the compiler
// source beside the module, read strictly as UTF-8 on every call.
#include <cerrno>
#include <stdexcept>

#include "common/host.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/resources.hpp"

namespace genloom {
using vorlan::host::utf8_of;
using vorlan::host::str_of;
using vorlan::host::fs_bytes;
using vorlan::host::fs_str;

namespace {
namespace res = genloom::resources;

py::str read_file(const py::object& path) {
    std::string fs = fs_bytes(path);
    res::StrictText r;
    {
        py::gil_scoped_release unlocked;
        r = res::read_text_strict(fs);
    }
    switch (r.status) {
        case res::StrictText::Status::ok:
            return str_of(r.text);
        case res::StrictText::Status::os_error:
            // OSError(errno, strerror, path) becomes FileNotFoundError, IsADirectoryError, ...
            errno = r.error;
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
            throw py::error_already_set();
        case res::StrictText::Status::invalid_utf8:
        default:
            // The host's own codec raises the exact UnicodeDecodeError for these bytes.
            py::bytes(r.bytes).attr("decode")("utf-8");
            throw std::logic_error("invalid UTF-8 decoded without error");
    }
}

// Path text of a resource, formed from the module's current __file__.
py::str resource_path(std::string (*locate)(std::string_view)) {
    return fs_str(locate(fs_bytes(G("__file__"))));
}
}  // namespace

void register_grammar(py::module_& m) {
    m.def("_read_file", &read_file, py::arg("path"),
          "Whole content of a UTF-8 text file (strict decoding, universal newlines).");
    m.def(
        "_read_vorlan_GBNF",
        [] {
            py::str grammar_path = resource_path(&res::grammar_gbnf_path);
            return G("_read_file")(grammar_path);
        },
        "Content of docs/grammars/Vorlan_GBNF beside the package folder.");
    m.def(
        "_read_vorlan_data_GBNF",
        [] { return G("_read_file")(resource_path(&res::data_gbnf_path)); },
        "Content of docs/grammars/Vorlan_data_GBNF beside the package folder.");
    m.def(
        "_read_vorlan_grammar",
        [] {
            py::str grammar_path = resource_path(&res::grammar_markdown_path);
            return G("_read_file")(grammar_path);
        },
        "Content of docs/grammars/Vorlan grammar.md beside the package folder.");
    m.def(
        "_read_vorlan_code",
        [] {
            py::str code_path = resource_path(&res::compiler_source_path);
            return G("_read_file")(code_path);
        },
        "Source text of the compiler component (vorlan_core.cpp beside the module).");
    m.def(
        "_get_grammar_implementation",
        [](py::object mode) -> py::object {
            py::object grammar = G("Grammar");
            if (mode.equal(grammar.attr("NONE"))) return py::str("");
            if (mode.equal(grammar.attr("BNF"))) return G("_read_vorlan_grammar")();
            if (mode.equal(grammar.attr("CODE"))) return G("_read_vorlan_code")();
            throw py::value_error("Invalid mode: " + utf8_of(py::str(mode)));
        },
        py::arg("mode"), "Grammar reference text for a Grammar mode (empty for NONE).");
}

}  // namespace genloom
