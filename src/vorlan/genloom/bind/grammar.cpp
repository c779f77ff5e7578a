#include "genloom/bind/registry.hpp"

namespace genloom {
void register_grammar(py::module_& m) {}
}  // namespace genloom
