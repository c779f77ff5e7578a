#include "genloom/bind/registry.hpp"

namespace genloom {
void register_prompts(py::module_& m) {}
}  // namespace genloom
