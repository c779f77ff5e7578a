// The semantic-analysis state shared by the sema files: one Sema per compile, its code
// spread over files by concern (names.cpp, data_binding.cpp, evaluation.cpp, ...).
// Internal to the compiler; callers use analyse.hpp.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "vorlan_core/core/diagnostics/sink.hpp"
#include "vorlan_core/core/host_value.hpp"
#include "vorlan_core/core/instance.hpp"
#include "vorlan_core/core/limits.hpp"
#include "vorlan_core/core/sema/analyse.hpp"
#include "vorlan_core/core/sema/function_ref.hpp"
#include "vorlan_core/core/sema/value.hpp"

namespace vorlan::compiler {

// A problem found while evaluating; thrown to the statement or declaration being
// evaluated, which reports it and goes on with the next one.
struct EvalError {
    Pos pos;
    std::string msg;
    std::string file = "model";
    bool silent = false;  // follows from a problem already reported
};

struct Symbol {
    enum class K { Data, Range, Tuple, Dvar, Dexpr, Label };
    K kind;
    const Item* item = nullptr;
    Value value;
    bool ready = false;
    bool postsolve = false;
    bool failed = false;  // its declaration reported a problem
};

// What an expression is, known before evaluation, ordered from least to most general.
enum class Kind : std::uint8_t {
    Const,      // literals only
    Data,       // depends on the data and iterators, not on decision variables
    Linear,     // linear in the decision variables
    NonLinear,  // a product of variables or a variable where only data may stand
};

// The names in scope while the names of one declaration are checked.
struct NameScope {
    std::vector<std::string> locals;
    bool uses_var = false;
};

// A name bound by an iterator. The name lives in the syntax tree; the value is either
// `ref`, an element of a set that outlives the binding, or `own`. `from`/`at` record the
// set and position it was taken from, so indexing an array over that set needs no lookup.
struct Binding {
    const std::string* name;
    const Value* ref;
    std::optional<Value> own;  // set when ref is null
    const SetV* from = nullptr;
    std::size_t at = 0;
    // Tuple patterns: the first name bound from an element points at the whole element and
    // the later ones are marked, so messages show the element as one tuple.
    const Value* element = nullptr;
    bool element_part = false;
    Binding(const std::string& n, const Value* r, Value o, const SetV* f, std::size_t a)
        : name(&n), ref(r), own(std::move(o)), from(f), at(a) {}
    Binding(const std::string& n, const Value& r, const SetV* f, std::size_t a) : name(&n), ref(&r), from(f), at(a) {}
    const Value& value() const { return ref ? *ref : *own; }
};

class Sema {
public:
    Sema(std::shared_ptr<Parsed> p, DiagnosticSink& sink, const Limits& limits)
        : lim_(limits), parsed_(std::move(p)), m_(parsed_->model), d_(parsed_->data), src_(parsed_->model_src),
          sink_(&sink), inst_(std::make_shared<Instance>()) {}

    // The phases in order; true when the pair is valid. The Sema then stays alive for
    // export_host, and no longer reports to the sink.
    bool run();
    void evaluate();  // every declaration, the objective and the constraint blocks, in model order
    Objective objective_of(const Expr& e, const std::string& what);  // one linear goal, merged
    std::shared_ptr<const Instance> instance() const { return inst_; }
    void export_host(HostValue& ast_out, HostValue& data_out);  // export/host_export.cpp

    // ----- state -----
    Limits lim_;
    std::shared_ptr<Parsed> parsed_;
    const Model& m_;
    DataFile& d_;
    std::string_view src_;
    DiagnosticSink* sink_;
    std::shared_ptr<Instance> inst_;
    std::unordered_map<std::string, Symbol> syms_;
    std::unordered_map<std::string, TupleType> tuples_;
    std::unordered_map<std::string, DataAssign*> assigns_;
    std::vector<Binding> env_;
    std::uint64_t steps_ = 0;
    std::size_t terms_ = 0;

    // ----- diagnostics (values.cpp) -----
    bool full() const { return sink_->full(); }
    void diag(const EvalError& err) {
        if (!err.silent) diag(err.file, err.pos, err.msg);
    }
    void diag(const std::string& file, Pos p, std::string msg) {
        sink_->report(Diagnostic::Kind::Semantic, file, p.line, p.col, std::move(msg));
    }
    [[noreturn]] void fail(Pos p, std::string msg) { throw EvalError{p, std::move(msg)}; }
    [[noreturn]] void dfail(const DataValue& d, std::string msg) { throw EvalError{d.pos, std::move(msg), "data"}; }
    std::string quote(const Expr& e) const { return quote_span(e.begin, e.end); }
    std::string quote_span(std::size_t b, std::size_t e) const;
    [[noreturn]] void set_too_large(Pos p, std::size_t n);
    [[noreturn]] void step_limit(Pos p);

    // ----- names (names.cpp) -----
    std::unordered_map<std::string, const Item*> all_;
    std::unordered_map<std::string, Symbol::K> declared_;
    std::unordered_set<std::string> postsolve_names_;
    static bool is_local(const NameScope& sc, const std::string& n);
    std::string closest_declared(const std::string& name, const NameScope& sc) const;
    void check_iters(const std::vector<Iterator>& its, NameScope& sc);
    void check_expr(const Expr& e, NameScope& sc);
    void check_type(const TypeRef& t);
    void check_dims(const std::vector<Dim>& dims, NameScope& sc);
    void check_stmts(const std::vector<StmtP>& ss, NameScope& sc);
    void check_names();

    // ----- static kinds (kinds.cpp) -----
    std::unordered_map<std::string, Kind> kinds_;  // global names, filled in model order
    void check_kinds();
    Kind kind_of(const Expr& e, NameScope& sc);
    Kind name_kind(const std::string& n, const NameScope& sc) const;
    Kind chain_kind(const Expr& e, NameScope& sc);
    Kind aggregate_kind(const Expr& e, NameScope& sc);
    void kind_iters(const std::vector<Iterator>& its, NameScope& sc);
    void kind_dims(const std::vector<Dim>& dims, NameScope& sc);
    void need_data(Kind k, const Expr& e, const char* what);
    void check_relation(const Expr& e, NameScope& sc);
    void check_stmt_kinds(std::span<const StmtP> ss, NameScope& sc);
    std::unordered_set<const void*> kind_failed_;  // items and top-level statements rejected
    static bool is_strict(const std::string& op);
    std::string strict_message(const Expr& e, std::size_t i) const;

    // ----- data binding (data_binding.cpp) -----
    void bind_data();
    Value generic(const DataValue& d);
    Value convert(const DataValue& d, const TypeRef& t, const std::string& what);
    static std::string cell_name(const std::string& name, const std::vector<std::shared_ptr<SetV>>& dims,
                                 const std::vector<std::size_t>& pos, std::size_t k);
    static bool convert_plain(const DataValue& d, const TypeRef& t, Value& out);
    void convert_array(const DataValue& d, const std::vector<std::shared_ptr<SetV>>& dims, std::size_t k,
                       const TypeRef& et, const std::string& name, std::vector<std::size_t>& pos, ArrV& out,
                       std::size_t base);

    // ----- values (values.cpp) -----
    const Binding* lookup_binding(const std::string& n) const {
        for (auto it = env_.rbegin(); it != env_.rend(); ++it) {
            const std::string& b = *it->name;
            // The first bytes rule most bindings out before a whole compare.
            if (b[0] == n[0] && b == n) return &*it;
        }
        return nullptr;
    }
    const Value* lookup_local(const std::string& n) const {
        const Binding* b = lookup_binding(n);
        return b ? &b->value() : nullptr;
    }
    // Binds n to element i of s: by reference for a listed set, by value for a range.
    void bind_element(const std::string& n, const SetV& s, std::size_t i) {
        if (s.is_range) env_.emplace_back(n, nullptr, s.at(i), nullptr, i);
        else env_.emplace_back(n, s.elems[i], &s, i);
    }
    void step(Pos p) {
        if (++steps_ > lim_.max_steps) step_limit(p);
    }
    double as_num(const Value& v, const Expr& e, const char* what);
    std::int64_t as_int(const Value& v, const Expr& e, const char* what);
    bool as_bool(const Value& v, const Expr& e, const char* what);
    std::shared_ptr<SetV> as_set(const Value& v, const Expr& e);
    std::shared_ptr<Lin> to_lin(const Value& v);
    // `at`: the expression the terms come from, named when their number passes the limit.
    void add_into(Value& acc, const Value& v, double sign, Pos at = {});
    Value scale(Value v, double k);
    const TupleType* tuple_type(const std::string& n) const {
        auto it = tuples_.find(n);
        return it == tuples_.end() ? nullptr : &it->second;
    }
    Value zero_of(const TypeRef& t);
    Value coerce(const Value& v, const TypeRef& t, const std::string& what, Pos p);

    // ----- evaluation (evaluation.cpp, arithmetic.cpp, indexing.cpp, aggregates.cpp) -----
    Value eval(const Expr& e);
    const Value* name_ref(const Expr& e);
    Value arith(const std::string& op, Value a, Value b, const Expr& whole, const Expr& lhs, const Expr& rhs);
    Value power(Value a, Value b, const Expr& whole, const Expr& rhs);
    int compare_vals(const Value& a, const Value& b, const Expr& e);
    static bool cmp_holds(const std::string& op, int c);
    void each(const std::vector<Iterator>& its, std::size_t k, FunctionRef<void()> fn);
    void each_binding(const std::vector<Iterator>& its, std::size_t k, const SetV& s, std::size_t n,
                      FunctionRef<void()> fn);
    Value index_value(const Value& base, const Value* idx, const std::int64_t* known, std::size_t nidx, const Expr& e,
                      std::int64_t* var = nullptr);
    const ArrV* direct_cell(const Value& base, const Expr& e, std::size_t& flat) const;
    bool direct_var(const Expr& e, std::int64_t& var);
    bool direct_number(const Expr& e, double& num);
    Value eval_index(const Expr& e, std::int64_t* var);
    Value eval_term(const Expr& e, std::int64_t& var, double& coef);
    void append_term(Value& acc, std::int64_t var, double coef, Pos at = {});
    Value aggregate(const Expr& e);
    bool direct_sum(const Expr& e, Value& out);  // direct_sum.cpp
    Value call(const Expr& e);

    // ----- declarations (declarations.cpp) -----
    std::vector<std::shared_ptr<SetV>> eval_dims(const std::vector<Dim>& dims);
    void each_cell(const std::vector<Dim>& dims, const std::vector<std::shared_ptr<SetV>>& sets,
                   FunctionRef<void(std::size_t, const std::vector<std::size_t>&)> fn);
    void each_cell_from(const std::vector<Dim>& dims, const std::vector<std::shared_ptr<SetV>>& sets, std::size_t k,
                        std::size_t flat, std::vector<std::size_t>& pos,
                        FunctionRef<void(std::size_t, const std::vector<std::size_t>&)> fn);
    void bind_components(const Dim& d, const SetV& s, std::size_t i);
    void eval_data(const Item& it, Symbol& sym);
    void fill_from_literal(const Expr& e, const std::vector<std::shared_ptr<SetV>>& dims, std::size_t k,
                           const TypeRef& et, const std::string& name, std::vector<std::size_t>& pos, ArrV& out,
                           std::size_t base);
    void check_with(const Item& it, const Value& value, const DataAssign* a);
    void eval_dvar(const Item& it, Symbol& sym);
    void add_variables(Variables::Block block, const std::vector<std::shared_ptr<SetV>>& sets);
    void eval_dexpr(const Item& it, Symbol& sym);

    // ----- expansion (expansion.cpp) -----
    void keep_layout(const Item& it, const std::vector<std::shared_ptr<SetV>>& sets);
    void keep_expression(const Item& it, const std::vector<std::shared_ptr<SetV>>& sets,
                         const std::vector<std::size_t>& pos, const Value& v);
    std::vector<Term> merge(std::shared_ptr<Lin> l);
    std::vector<Term> counted(std::vector<Term> out);
    // keys: the evaluated index of an explicitly indexed label; null for the iterators in scope.
    std::string row_keys(const std::vector<Value>* keys) const;
    std::string row_name(const std::string& label, const std::vector<Value>* keys, int line) const;
    void add_row(const Stmt& s, const Expr& rel, const std::string& label, std::vector<IndexValue> idx,
                 const std::vector<Value>* keys);
    void exec(const Stmt& s, const std::string& family, std::vector<IndexValue>& idx,
              const std::vector<Value>* keys = nullptr);

    // ----- host values (export/host_export.cpp) -----
    HostValue host(const Value& v);
    HostValue host_array(const ArrV& a, std::size_t k, std::size_t flat);
    HostValue literal(const Value& v);
    void build_host(HostValue& ast_root, HostValue& data_root);
};

}  // namespace vorlan::compiler
