// vorlan.linemit: the abstract base class of SciPy code generators.
//
// SciPyCodeGeneratorBase is a host class whose methods are implemented here. Every
// method takes the instance as a plain host object and reaches fields and other
// methods through attribute lookup, so a subclass written in the host language can
// replace fields (`self.c = [...]`) and override methods, and the calls made "through
// the object" reach those overrides. Values handed in are used as they are: the
// declaration maps returned are the caller's own objects.
#include <pybind11/pybind11.h>

#include "common/host.hpp"

namespace py = pybind11;
using namespace vorlan::host;

namespace {

constexpr const char* kClassName = "SciPyCodeGeneratorBase";
constexpr const char* kClassDoc =
    "\n    Abstract base class for SciPy code generators.\n"
    "    Subclasses must implement the required methods.\n    ";

// The module's namespace; names in it are looked up when used, as the host would.
PyObject* g_globals = nullptr;

py::object global(const char* name) {
    PyObject* v = PyDict_GetItemString(g_globals, name);  // borrowed
    if (!v) raise(PyExc_NameError, std::string("name '") + name + "' is not defined");
    return py::reinterpret_borrow<py::object>(v);
}

void init(py::object self, py::object ast, py::object data_dict) {
    self.attr("ast") = ast;
    self.attr("data_dict") = (data_dict.is_none() || !py::bool_(data_dict)) ? py::dict() : data_dict;
    self.attr("scipy_code_lines") = py::list();
    self.attr("indent_level") = py::int_(0);
    self.attr("var_names") = py::list();
    self.attr("var_indices") = py::dict();
    self.attr("bounds") = py::list();
    self.attr("c") = py::list();
    self.attr("A_eq") = py::list();
    self.attr("b_eq") = py::list();
    self.attr("A_ub") = py::list();
    self.attr("b_ub") = py::list();
    self.attr("results_varname") = py::str("results");
    self.attr("integrality") = py::list();
    self.attr("tuple_types") = py::dict();
}

// __init__ is added as a plain C function: the binding library reserves that name for
// its own class kinds and would treat the host instance as one of them.
PyObject* init_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"self", "ast", "data_dict", nullptr};
    PyObject *self = nullptr, *ast = nullptr, *data_dict = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:__init__", const_cast<char**>(kwlist),
                                     &self, &ast, &data_dict))
        return nullptr;
    try {
        init(py::reinterpret_borrow<py::object>(self), py::reinterpret_borrow<py::object>(ast),
             py::reinterpret_borrow<py::object>(data_dict));
    } catch (py::error_already_set& e) {
        e.restore();
        return nullptr;
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyMethodDef g_init_def = {"__init__", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(&init_entry)),
                          METH_VARARGS | METH_KEYWORDS,
                          "__init__($self, ast, data_dict=None)\n--\n\n"
                          "Stores the model, its data and the empty generator state."};

void add_init(py::object& cls) {
    py::object fn = py::reinterpret_steal<py::object>(PyCFunction_NewEx(&g_init_def, nullptr, PyDict_GetItemString(g_globals, "__name__")));
    if (!fn) throw py::error_already_set();
    py::object meth = py::reinterpret_steal<py::object>(PyInstanceMethod_New(fn.ptr()));
    if (!meth) throw py::error_already_set();
    py::setattr(cls, "__init__", meth);
}

py::object indent(py::object self) {
    // Four spaces times the level, with the host's own `str * int` rules (a negative
    // level gives empty text, a non-integer level is a TypeError).
    py::str step("    ");
    py::object level = self.attr("indent_level");
    PyObject* r = PyNumber_Multiply(step.ptr(), level.ptr());
    if (!r) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(r);
}

void add_code_line(py::object self, py::object line) {
    require_text(line, "_add_code_line", "line");
    py::object prefix = self.attr("_indent")();
    PyObject* joined = PyNumber_Add(prefix.ptr(), line.ptr());
    if (!joined) throw py::error_already_set();
    self.attr("scipy_code_lines").attr("append")(py::reinterpret_steal<py::object>(joined));
}

[[noreturn]] void not_implemented(const char* what) {
    raise(PyExc_NotImplementedError, std::string("Subclasses must implement ") + what + "()");
}

bool declaration_matches(py::handle d, py::handle name, py::handle decl_type) {
    if (!host_equal(d.attr("get")("name"), name)) return false;
    return decl_type.is_none() || host_equal(d.attr("get")("type"), decl_type);
}

py::object declarations_of(py::object self) {
    return self.attr("ast").attr("get")("declarations", py::list());
}

py::object find_declaration(py::object self, py::object name, py::object decl_type) {
    require_text(name, "find_declaration", "name");
    require_text(decl_type, "find_declaration", "decl_type", true);
    for (py::handle d : declarations_of(self))
        if (declaration_matches(d, name, decl_type)) return py::reinterpret_borrow<py::object>(d);
    return py::none();
}

py::list find_declarations(py::object self, py::object name, py::object decl_type) {
    require_text(name, "find_declarations", "name");
    require_text(decl_type, "find_declarations", "decl_type", true);
    py::list out;
    for (py::handle d : declarations_of(self))
        if (declaration_matches(d, name, decl_type)) out.append(d);
    return out;
}

py::object normalize_index(py::object idx) {
    if (!PyList_Check(idx.ptr()) && !PyTuple_Check(idx.ptr())) return idx;
    NestingGuard guard(" while normalizing an index");
    // Nested items go through the class attribute, looked up at each call, so the
    // recursion stays the base class's even when a subclass overrides the method.
    py::object recurse = global(kClassName).attr("normalize_index");
    py::list items;
    for (py::handle item : idx) items.append(recurse(item));
    return py::tuple(items);
}

py::object tuple_key(py::object self, py::object elements, py::object env) {
    NestingGuard guard(" while building a tuple key");
    if (env.is_none()) env = py::dict();
    py::list key;
    for (py::handle e : elements) {
        if (!PyDict_Check(e.ptr())) {
            key.append(e);
            continue;
        }
        py::object type = e.attr("get")("type");
        if (host_equal(type, py::str("name"))) {
            py::object name = e[py::str("name")];
            key.append(host_contains(env, name) ? py::object(env[name]) : name);
        } else if (host_equal(type, py::str("number")) || host_equal(type, py::str("string"))) {
            key.append(e[py::str("value")]);
        } else if (host_equal(type, py::str("tuple_literal"))) {
            key.append(self.attr("_tuple_key")(e[py::str("elements")], env));
        } else {
            key.append(e);
        }
    }
    return py::tuple(key);
}

// The message is built with the host's own formatting of both values (text as it is).
py::object make_error(const char* pattern, py::handle context, py::handle detail) {
    return global("SemanticError")(py::str(pattern).format(context, detail));
}

}  // namespace

PYBIND11_MODULE(linemit, m) {
    m.doc() = "Abstract base class of code generators that emit SciPy linear-programming code.";
    m.attr("SemanticError") = py::module_::import("vorlan.semantic_error").attr("SemanticError");
    g_globals = py::object(m.attr("__dict__")).release().ptr();  // kept for the life of the process

    py::object cls = make_host_class(m, kClassName, kClassDoc);

    add_init(cls);
    add_method(cls, "_indent", &indent, "Indentation text for the current level.");
    add_method(cls, "_add_code_line", &add_code_line,
               "Appends one line, prefixed with the current indentation.", py::arg("line"));
    add_method(
        cls, "generate_code", [](py::object) { not_implemented("generate_code"); },
        "Generates the whole program; supplied by subclasses.");
    add_method(
        cls, "_build_variables", [](py::object) { not_implemented("_build_variables"); },
        "Builds the variables; supplied by subclasses.");
    add_method(
        cls, "_build_objective", [](py::object) { not_implemented("_build_objective"); },
        "Builds the objective; supplied by subclasses.");
    add_method(
        cls, "_build_constraints", [](py::object) { not_implemented("_build_constraints"); },
        "Builds the constraints; supplied by subclasses.");
    add_method(cls, "find_declaration", &find_declaration,
               "The first declaration of that name (and kind, when given), or None.",
               py::arg("name"), py::arg("decl_type") = py::none());
    add_method(cls, "find_declarations", &find_declarations,
               "Every declaration of that name (and kind, when given), in order.",
               py::arg("name"), py::arg("decl_type") = py::none());
    add_static(cls, "normalize_index", &normalize_index,
               "The index with every nested list or tuple turned into a tuple.", py::arg("idx"));
    add_method(
        cls, "_normalize_index",
        [](py::object self, py::object idx) { return self.attr("normalize_index")(idx); },
        "Same as normalize_index, called through the instance.", py::arg("idx"));
    add_method(cls, "_tuple_key", &tuple_key,
               "Tuple key of tuple-literal elements, with names bound by env replaced by their values.",
               py::arg("elements"), py::arg("env") = py::none());
    add_method(
        cls, "_find_decl",
        [](py::object self, py::object name, py::object decl_type) {
            return self.attr("find_declaration")(name, decl_type);
        },
        "Same as find_declaration, called through the instance.", py::arg("name"),
        py::arg("decl_type") = py::none());
    add_method(
        cls, "_find_decls",
        [](py::object self, py::object name, py::object decl_type) {
            return self.attr("find_declarations")(name, decl_type);
        },
        "Same as find_declarations, called through the instance.", py::arg("name"),
        py::arg("decl_type") = py::none());
    add_static(
        cls, "_unsupported_type_error",
        [](py::object context, py::object value) {
            return make_error("Unsupported {} type: {}", context, value);
        },
        "A SemanticError for an unsupported type (returned, not raised).", py::arg("context"),
        py::arg("value"));
    add_static(
        cls, "_unsupported_operator_error",
        [](py::object context, py::object op) {
            return make_error("Unsupported {} operator: '{}'", context, op);
        },
        "A SemanticError for an unsupported operator (returned, not raised).", py::arg("context"),
        py::arg("op"));
}
