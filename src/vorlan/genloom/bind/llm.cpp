#include "genloom/bind/registry.hpp"

namespace genloom {
void register_llm(py::module_& m) {}
}  // namespace genloom
