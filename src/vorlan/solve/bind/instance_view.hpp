// A one-pass view of a compiled instance for code generators (see instance_view.cpp).
#pragma once
#include <pybind11/pybind11.h>

#include "vorlan_core/core/instance.hpp"

namespace vorlan::solve::bind {
namespace py = pybind11;

// {'variables': iterator, 'objective': {'sense', 'label', 'terms': iterator, 'constant'},
// 'rows': iterator}, entries shaped as in QelCompiler.instance(); `owner` keeps `inst` alive.
py::dict instance_view(const py::object& owner, const compiler::Instance& inst);

void register_instance_view(py::module_& m);

}  // namespace vorlan::solve::bind
