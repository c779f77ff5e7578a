// Grammar-constrained generation on local OpenAI-compatible servers (setting CONSTRAIN).
#pragma once
#include <pybind11/pybind11.h>

#include "genloom/bind/registry.hpp"

namespace genloom {

// The CONSTRAIN setting read now: true for "grammar", false for "none" (or None). Any other
// value, or "grammar" with a provider other than OpenAI, raises ValueError.
bool grammar_constrained(const py::object& provider);

// _generate_constrained_pair, _add_grammar_field, _grammar_field, CONSTRAIN, GRAMMAR_FIELD
void register_constrained(py::module_& m);

}  // namespace genloom
