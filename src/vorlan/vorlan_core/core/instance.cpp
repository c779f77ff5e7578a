#include "vorlan_core/core/instance.hpp"

#include <cstdio>

#include "common/text.hpp"

namespace vorlan::compiler {

std::string index_text(const std::vector<IndexValue>& index) {
    std::string out;
    for (const auto& v : index) {
        out += "[";
        if (auto* i = std::get_if<std::int64_t>(&v)) {
            out += std::to_string(*i);
        } else if (auto* d = std::get_if<double>(&v)) {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.15g", *d);
            out += buf;
        } else {
            out += '"';
            out += text::escape_controls(std::get<std::string>(v));
            out += '"';
        }
        out += "]";
    }
    return out;
}

}  // namespace vorlan::compiler
