#include "genloom/bind/registry.hpp"

namespace genloom {
void register_pipeline(py::module_& m) {}
}  // namespace genloom
