#include "genloom/bind/registry.hpp"

namespace genloom {
void register_listing(py::module_& m) {}
}  // namespace genloom
