#include "genloom/bind/registry.hpp"

namespace genloom {
void register_fewshot(py::module_& m) {}
}  // namespace genloom
