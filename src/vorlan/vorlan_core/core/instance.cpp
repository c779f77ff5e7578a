#include "vorlan_core/core/instance.hpp"

#include <cmath>
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

namespace {

std::string written_value(const IndexValue& v) {
    if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) {
        if (std::isinf(*d)) return *d > 0 ? "infinity" : "-infinity";
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    return "\"" + text::escape_controls(std::get<std::string>(v)) + "\"";
}

}  // namespace

std::string written_name(const Instance& inst, const std::string& name, const std::vector<IndexValue>& index) {
    const IndexLayout* layout = nullptr;
    for (const auto& l : inst.layouts)
        if (l.name == name) layout = &l;
    if (!layout) return name + index_text(index);
    std::string out = name;
    std::size_t at = 0;
    for (const auto& d : layout->dims) {
        if (at + d.width > index.size()) return name + index_text(index);  // not the declared shape
        if (!d.tuple) {
            out += "[" + written_value(index[at]) + "]";
        } else {
            out += "[<";
            for (std::size_t k = 0; k < d.shown.size(); ++k) out += (k ? "," : "") + written_value(index[at + d.shown[k]]);
            out += ">]";
        }
        at += d.width;
    }
    return out;
}

}  // namespace vorlan::compiler
