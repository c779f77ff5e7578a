#include "genloom/bind/registry.hpp"

namespace genloom {
void register_extract(py::module_& m) {}
}  // namespace genloom
