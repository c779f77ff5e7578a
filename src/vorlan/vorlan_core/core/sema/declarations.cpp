// Declarations evaluated in model order: index sets, data, decision variables and dexprs.
#include "vorlan_core/core/sema/sema.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vorlan::compiler {

std::vector<std::shared_ptr<SetV>> Sema::eval_dims(const std::vector<Dim>& dims) {
    std::vector<std::shared_ptr<SetV>> out;
    for (auto& d : dims) {
        Value v = eval(*d.set);
        auto s = as_set(v, *d.set);
        if (s->name.empty() || s->name.front() == '\'') {
            auto copy = std::make_shared<SetV>(*s);
            std::string q = quote(*d.set);
            copy->name = q.size() >= 2 ? q.substr(1, q.size() - 2) : q;
            s = copy;
        }
        out.push_back(s);
    }
    return out;
}

// Calls fn(flat, positions) for every cell of dims, with binders bound: pos[k] is the
// cell's position in dimension k.
void Sema::each_cell(const std::vector<Dim>& dims, const std::vector<std::shared_ptr<SetV>>& sets,
                     FunctionRef<void(std::size_t, const std::vector<std::size_t>&)> fn) {
    std::vector<std::size_t> pos(sets.size());
    each_cell_from(dims, sets, 0, 0, pos, fn);
}

// The cells below dimension k, whose position among the cells of dims[0..k) is flat.
void Sema::each_cell_from(const std::vector<Dim>& dims, const std::vector<std::shared_ptr<SetV>>& sets,
                          std::size_t k, std::size_t flat, std::vector<std::size_t>& pos,
                          FunctionRef<void(std::size_t, const std::vector<std::size_t>&)> fn) {
    if (k == sets.size()) return fn(flat, pos);
    const SetV& s = *sets[k];
    bool bound = !dims[k].binder.empty();
    const std::size_t mark = env_.size();
    for (std::size_t i = 0, size = s.size(); i < size; ++i) {
        step(dims[k].pos);
        pos[k] = i;
        if (bound) bind_element(dims[k].binder, s, i);
        if (!dims[k].pattern.empty()) bind_components(dims[k], s, i);
        each_cell_from(dims, sets, k + 1, flat * size + i, pos, fn);
        env_.erase(env_.begin() + static_cast<std::ptrdiff_t>(mark), env_.end());
    }
}

// `[<i, j> in S]`: binds each pattern name to its component of element i of s.
void Sema::bind_components(const Dim& d, const SetV& s, std::size_t i) {
    if (s.is_range || s.elems[i].k != Value::K::Tuple)
        fail(d.pos, "a tuple pattern <...> needs a set of tuples, but " + quote(*d.set) + " holds " +
                        kind_word(s.is_range ? Value::K::Int : s.elems[i].k) + " elements");
    const Value& el = s.elems[i];
    if (el.tup->size() != d.pattern.size())
        fail(d.pos, "the tuple pattern has " + std::to_string(d.pattern.size()) + " components but the elements of " +
                        quote(*d.set) + " have " + std::to_string(el.tup->size()));
    for (std::size_t j = 0; j < d.pattern.size(); ++j) {
        env_.emplace_back(d.pattern[j], (*el.tup)[j], nullptr, 0);
        if (j == 0) env_.back().element = &el;
        else env_.back().element_part = true;
    }
}

void Sema::eval_data(const Item& it, Symbol& sym) {
    if (sym.postsolve) return;
    auto sets = eval_dims(it.dims);
    DataAssign* a = it.external ? assigns_[it.name] : nullptr;
    if (sets.empty()) {
        if (a) sym.value = convert(*a->value, it.type, "'" + it.name + "'");
        else if (it.value) sym.value = coerce(eval(*it.value), it.type, it.name, it.value->pos);
        else sym.value = zero_of(it.type);
        if (sym.value.k == Value::K::Set) {
            auto named = std::make_shared<SetV>(*sym.value.set);
            named->name = it.name;
            sym.value.set = named;
        }
    } else {
        auto arr = std::make_shared<ArrV>();
        arr->name = it.name;
        arr->dims = sets;
        std::size_t n = arr->size();
        if (n > lim_.max_cells) fail(it.pos, "array '" + it.name + "' has too many cells (" + count_text(n) + ")");
        arr->allocate(it.type.kind == TypeRef::K::Float ? ArrV::Store::Floats
                      : it.type.kind == TypeRef::K::Int ? ArrV::Store::Ints
                                                         : ArrV::Store::Values,
                      n);
        if (a) {
            std::vector<std::size_t> pos(sets.size(), 0);
            convert_array(*a->value, sets, 0, it.type, it.name, pos, *arr, 0);
        } else if (it.value && it.value->kind == Expr::K::ArrayLit) {
            std::vector<std::size_t> pos(sets.size(), 0);
            fill_from_literal(*it.value, sets, 0, it.type, it.name, pos, *arr, 0);
        } else if (it.value) {
            each_cell(it.dims, sets, [&](std::size_t flat, const std::vector<std::size_t>&) {
                arr->put(flat, coerce(eval(*it.value), it.type, it.name, it.value->pos));
            });
        } else {
            Value z = zero_of(it.type);
            for (std::size_t k = 0; k < n; ++k) arr->put(k, z);
        }
        sym.value = array_value(arr);
    }
    if (!it.with.empty()) check_with(it, sym.value, a);
    // The data file's value is converted; its tree is not read again.
    if (a) a->value.reset();
    sym.ready = true;
}

// An array literal `[...]` (nested, one level per dimension) checked against the index
// sets and stored cell by cell; pos holds, per dimension above k, the position being filled.
void Sema::fill_from_literal(const Expr& e, const std::vector<std::shared_ptr<SetV>>& dims, std::size_t k,
                             const TypeRef& et, const std::string& name, std::vector<std::size_t>& pos, ArrV& out,
                             std::size_t base) {
    if (k == dims.size()) {
        if (e.kind == Expr::K::ArrayLit)
            fail(e.pos, "'" + cell_name(name, dims, pos, k) + "' is one value, but the literal nests deeper than the " +
                            std::to_string(dims.size()) + " dimension" + (dims.size() == 1 ? "" : "s") + " of '" +
                            name + "'");
        out.put(base, coerce(eval(e), et, cell_name(name, dims, pos, k), e.pos));
        return;
    }
    const SetV& s = *dims[k];
    std::size_t stride = 1;
    for (std::size_t j = k + 1; j < dims.size(); ++j) stride *= dims[j]->size();
    if (e.kind != Expr::K::ArrayLit)
        fail(e.pos, "expected an array [...] with " + std::to_string(s.size()) + " values for '" +
                        cell_name(name, dims, pos, k) + "' (indexed by '" + s.name + "'), found " + quote(e));
    if (e.kids.size() != s.size())
        fail(e.pos, "expected " + std::to_string(s.size()) + " values for '" + cell_name(name, dims, pos, k) +
                        "' (one per element of '" + s.name + "'), found " + std::to_string(e.kids.size()));
    for (std::size_t i = 0; i < e.kids.size(); ++i) {
        pos[k] = i;
        fill_from_literal(*e.kids[i], dims, k + 1, et, name, pos, out, base + i * stride);
    }
}

// Each `with` clause: the named fields of every element belong to the clause's set.
void Sema::check_with(const Item& it, const Value& value, const DataAssign* a) {
    for (auto& w : it.with) {
        Pos first = w.field_pos[0];
        if (value.k != Value::K::Set || it.type.elem->kind != TypeRef::K::Tuple)
            fail(first, "'with' applies to a set of tuples");
        const TupleType* tt = tuple_type(it.type.elem->tuple_name);
        auto other = syms_.find(w.set);
        // A set whose data failed to load is already reported; checking against it says nothing new.
        if (other != syms_.end() && other->second.failed) throw EvalError{first, "", "model", true};
        if (other == syms_.end() || other->second.value.k != Value::K::Set) fail(first, "'" + w.set + "' is not a set");
        const SetV& allowed = *other->second.value.set;
        for (std::size_t k = 0; k < w.fields.size(); ++k) {
            int fi = tt->field_index(w.fields[k]);
            if (fi < 0) fail(w.field_pos[k], "tuple type '" + tt->name + "' has no field '" + w.fields[k] + "'");
            for (auto& el : value.set->elems) {
                const Value& fv = (*el.tup)[static_cast<std::size_t>(fi)];
                if (allowed.find(fv) < 0)
                    throw EvalError{a ? a->pos : it.pos,
                                    "element " + value_text(el) + " of '" + it.name + "': field '" + w.fields[k] +
                                        "' = " + value_text(fv) + " is not in '" + w.set + "'",
                                    a ? "data" : "model"};
            }
        }
    }
}

// The index sets of a variable block as the instance keeps them.
static std::vector<Variables::Dim> block_dims(const std::vector<std::shared_ptr<SetV>>& sets) {
    std::vector<Variables::Dim> dims(sets.size());
    for (std::size_t k = 0; k < sets.size(); ++k) {
        const SetV& s = *sets[k];
        Variables::Dim& d = dims[k];
        d.is_range = s.is_range;
        d.lo = s.lo;
        d.count = s.size();
        if (s.is_range) continue;
        d.offsets.reserve(s.elems.size() + 1);
        d.offsets.push_back(0);
        for (const Value& e : s.elems) {
            flatten_index(e, d.values);
            d.offsets.push_back(static_cast<std::uint32_t>(d.values.size()));
        }
    }
    return dims;
}

// The steps that visiting every cell of sets counts (one per position at every level), or
// false when they would pass `room`.
static bool cell_steps(const std::vector<std::shared_ptr<SetV>>& sets, std::uint64_t room, std::uint64_t& steps) {
    std::uint64_t level = 1;
    steps = 0;
    for (auto& s : sets) {
        if (__builtin_mul_overflow(level, static_cast<std::uint64_t>(s->size()), &level)) return false;
        if (__builtin_add_overflow(steps, level, &steps)) return false;
    }
    return steps <= room;
}

void Sema::eval_dvar(const Item& it, Symbol& sym) {
    auto sets = eval_dims(it.dims);
    auto base = static_cast<std::int64_t>(inst_->variables.size());
    std::size_t n = ArrV::cells_of(sets);
    if (n > lim_.max_variables - std::min(lim_.max_variables, inst_->variables.size()))
        fail(it.name_pos, "the model has more than " + std::to_string(lim_.max_variables) + " variables ('" + it.name +
                              "' adds " + count_text(n) + ")");
    keep_layout(it, sets);
    bool integer = it.vtype == "int" || it.vtype == "int+" || it.vtype == "boolean";
    double lo0 = (it.vtype == "float+" || it.vtype == "int+" || it.vtype == "boolean") ? 0.0 : -kInf;
    double hi0 = it.vtype == "boolean" ? 1.0 : kInf;
    Variables::Block block;
    block.name = it.name;
    block.integer = integer;
    auto rounded = [&](double& lo, double& hi) {
        if (integer) {
            lo = std::ceil(lo - 1e-9) + 0.0;
            hi = std::floor(hi + 1e-9) + 0.0;
        }
    };
    block.lower = lo0;
    block.upper = hi0;
    rounded(block.lower, block.upper);
    std::uint64_t steps = 0;
    if (!it.lo && cell_steps(sets, lim_.max_steps - std::min(lim_.max_steps, steps_), steps)) {
        // Every variable has the type's bounds: nothing to evaluate per cell.
        steps_ += steps;
        block.count = n;
    } else {
        if (it.lo) {
            block.lowers.reserve(n);
            block.uppers.reserve(n);
        }
        // A variable whose bounds are empty (or the step limit) ends the declaration; the
        // ones before it stay, so that later declarations number their variables as always.
        try {
            each_cell(it.dims, sets, [&](std::size_t, const std::vector<std::size_t>& pos) {
                if (it.lo) {
                    double lo = std::max(lo0, as_num(eval(*it.lo), *it.lo, "a variable bound"));
                    double hi = std::min(hi0, as_num(eval(*it.hi), *it.hi, "a variable bound"));
                    rounded(lo, hi);
                    if (lo > hi || std::isnan(lo) || std::isnan(hi)) {
                        std::string cell = it.name;
                        for (std::size_t k = 0; k < pos.size(); ++k)
                            cell.append("[").append(value_text(sets[k]->at(pos[k]))).append("]");
                        fail(it.lo->pos, "empty bounds for variable '" + cell + "': " + num_text(lo) + ".." +
                                             num_text(hi) +
                                             (integer ? " (no integer value fits)" : " (lower bound above upper bound)"));
                    }
                    block.lowers.push_back(lo);
                    block.uppers.push_back(hi);
                }
                ++block.count;
            });
        } catch (EvalError&) {
            add_variables(std::move(block), sets);
            throw;
        }
    }
    add_variables(std::move(block), sets);
    if (sets.empty()) {
        sym.value = var_value(base);
    } else {
        auto arr = std::make_shared<ArrV>();
        arr->name = it.name;
        arr->dims = sets;
        arr->var_base = base;
        sym.value = array_value(arr);
    }
    sym.ready = true;
}

// Adds a block of variables over sets; a partial one (a declaration that failed part way)
// keeps its cells as single variables, since its sets no longer describe it.
void Sema::add_variables(Variables::Block block, const std::vector<std::shared_ptr<SetV>>& sets) {
    if (!block.lowers.empty()) {
        // Bounds shared by every variable are kept once.
        auto same = [](const std::vector<double>& v) {
            return std::all_of(v.begin(), v.end(), [&](double x) { return std::memcmp(&x, &v[0], sizeof x) == 0; });
        };
        if (same(block.lowers) && same(block.uppers)) {
            block.lower = block.lowers[0];
            block.upper = block.uppers[0];
            block.lowers = {};
            block.uppers = {};
        }
    }
    if (block.count == ArrV::cells_of(sets)) {
        block.dims = block_dims(sets);
        inst_->variables.add_block(std::move(block));
        return;
    }
    Variables::Block whole;
    whole.dims = block_dims(sets);
    whole.count = ArrV::cells_of(sets);
    Variables cells;
    cells.add_block(std::move(whole));
    for (std::size_t k = 0; k < block.count; ++k) {
        Variable v;
        v.name = block.name;
        cells.append_index(k, v.index);
        v.lower = block.lower_of(k);
        v.upper = block.upper_of(k);
        v.integer = block.integer;
        inst_->variables.push_back(v);
    }
}

namespace {

// How many values a value takes in a flat index (a tuple its fields, nested ones included).
std::size_t flat_width(const Value& v) {
    if (v.k != Value::K::Tuple) return 1;
    std::size_t n = 0;
    for (const auto& x : *v.tup) n += flat_width(x);
    return n;
}

IndexLayout::Dim tuple_dim(const Value& e) {
    IndexLayout::Dim d;
    d.tuple = true;
    d.width = flat_width(e);
    bool keyed = false;
    if (e.ttype)
        for (const auto& f : e.ttype->fields) keyed = keyed || f.key;
    std::size_t at = 0;
    for (std::size_t i = 0; i < e.tup->size(); ++i) {
        const std::size_t w = flat_width((*e.tup)[i]);
        if (!keyed || e.ttype->fields[i].key)
            for (std::size_t k = 0; k < w; ++k) d.shown.push_back(at + k);
        at += w;
    }
    return d;
}

}  // namespace

// Records how the index of a declaration over a set of tuples reads, for solution reports.
void Sema::keep_layout(const Item& it, const std::vector<std::shared_ptr<SetV>>& sets) {
    auto is_tuples = [](const SetV& s) { return !s.is_range && !s.elems.empty() && s.elems[0].k == Value::K::Tuple; };
    if (std::none_of(sets.begin(), sets.end(), [&](const auto& s) { return is_tuples(*s); })) return;
    IndexLayout& l = inst_->layouts.emplace_back();
    l.name = it.name;
    for (const auto& s : sets) l.dims.push_back(is_tuples(*s) ? tuple_dim(s->elems[0]) : IndexLayout::Dim{});
}

// Keeps a dexpr cell for solution reports while there is room.
void Sema::keep_expression(const Item& it, const std::vector<std::shared_ptr<SetV>>& sets,
                           const std::vector<std::size_t>& pos, const Value& v) {
    if (inst_->expressions.size() >= kReportedExpressions) return;
    NamedExpression& e = inst_->expressions.emplace_back();
    e.name = it.name;
    for (std::size_t k = 0; k < pos.size(); ++k) {
        const SetV& s = *sets[k];
        if (s.is_range) e.index.emplace_back(s.lo + static_cast<std::int64_t>(pos[k]));
        else flatten_index(s.elems[pos[k]], e.index);
    }
    if (v.k == Value::K::Lin) {
        e.terms = v.lin->terms;
        e.constant = v.lin->c;
    } else {
        e.constant = v.num();
    }
}

void Sema::eval_dexpr(const Item& it, Symbol& sym) {
    auto sets = eval_dims(it.dims);
    keep_layout(it, sets);
    auto check = [&](Value v) {
        if (!v.is_num() && v.k != Value::K::Lin)
            fail(it.value->pos, "dexpr '" + it.name + "' must be a numeric or linear expression, found " +
                                    kind_word(v.k));
        if (it.type.kind == TypeRef::K::Float && v.k == Value::K::Int) v = Value::Float(v.num());
        return v;
    };
    if (sets.empty()) {
        sym.value = check(eval(*it.value));
        keep_expression(it, sets, {}, sym.value);
    } else {
        auto arr = std::make_shared<ArrV>();
        arr->name = it.name;
        arr->dims = sets;
        std::size_t n = arr->size();
        if (n > lim_.max_cells) fail(it.pos, "dexpr '" + it.name + "' has too many cells (" + count_text(n) + ")");
        arr->cells.resize(n);
        each_cell(it.dims, sets, [&](std::size_t flat, const std::vector<std::size_t>& pos) {
            arr->cells[flat] = check(eval(*it.value));
            keep_expression(it, sets, pos, arr->cells[flat]);
        });
        sym.value = array_value(arr);
    }
    sym.ready = true;
}

}  // namespace vorlan::compiler
