#include "vorlan_core/core/instance.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

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

namespace vorlan::compiler {

Variables::Variables(std::initializer_list<Variable> vs) {
    for (const auto& v : vs) push_back(v);
}

Variables& Variables::operator=(std::initializer_list<Variable> vs) {
    blocks_.clear();
    size_ = 0;
    for (const auto& v : vs) push_back(v);
    return *this;
}

const Variables::Block& Variables::block_of(std::size_t j) const {
    // Blocks are few (one per declaration): the last one holds most lookups.
    if (j >= blocks_.back().first) return blocks_.back();
    auto it = std::upper_bound(blocks_.begin(), blocks_.end(), j,
                               [](std::size_t x, const Block& b) { return x < b.first; });
    return *(it - 1);
}

double Variables::lower(std::size_t j) const {
    const Block& b = block_of(j);
    return b.lower_of(j - b.first);
}

double Variables::upper(std::size_t j) const {
    const Block& b = block_of(j);
    return b.upper_of(j - b.first);
}

void Variables::append_index(std::size_t j, std::vector<IndexValue>& out) const {
    const Block& b = block_of(j);
    std::size_t rest = j - b.first;
    // Positions from the last dimension (the fastest) back; the values go out in order.
    std::size_t pos[16];
    std::vector<std::size_t> many;
    std::size_t* p = pos;
    if (b.dims.size() > 16) {
        many.resize(b.dims.size());
        p = many.data();
    }
    for (std::size_t d = b.dims.size(); d-- > 0;) {
        p[d] = rest % b.dims[d].count;
        rest /= b.dims[d].count;
    }
    for (std::size_t d = 0; d < b.dims.size(); ++d) {
        const Dim& dim = b.dims[d];
        if (dim.is_range) {
            out.emplace_back(dim.lo + static_cast<std::int64_t>(p[d]));
        } else {
            for (auto k = dim.offsets[p[d]]; k < dim.offsets[p[d] + 1]; ++k) out.push_back(dim.values[k]);
        }
    }
}

Variable Variables::operator[](std::size_t j) const {
    const Block& b = block_of(j);
    Variable v;
    v.name = b.name;
    v.index.reserve(b.dims.size());
    append_index(j, v.index);
    v.lower = b.lower_of(j - b.first);
    v.upper = b.upper_of(j - b.first);
    v.integer = b.integer;
    return v;
}

std::string Variables::full_name(std::size_t j) const {
    std::vector<IndexValue> idx;
    append_index(j, idx);
    return name(j) + index_text(idx);
}

void Variables::push_back(const Variable& v) {
    Block b;
    b.name = v.name;
    b.count = 1;
    if (!v.index.empty()) {
        Dim d;
        d.count = 1;
        d.values = v.index;
        d.offsets = {0, static_cast<std::uint32_t>(v.index.size())};
        b.dims.push_back(std::move(d));
    }
    b.integer = v.integer;
    b.lower = v.lower;
    b.upper = v.upper;
    add_block(std::move(b));
}

void Variables::add_block(Block b) {
    if (b.count == 0) return;
    b.first = size_;
    size_ += b.count;
    blocks_.push_back(std::move(b));
}

void Variables::resize(std::size_t n) {
    if (n < size_) throw std::length_error("Variables::resize: variables are never removed");
    while (size_ < n) push_back(Variable{});
}

}  // namespace vorlan::compiler
