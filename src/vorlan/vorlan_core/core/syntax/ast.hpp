// Syntax tree of a Vorlan model and of a data file, with source positions.
#pragma once
#include <cstdint>
#include <forward_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorlan_core/core/syntax/lexer.hpp"

namespace vorlan::compiler {

struct Expr;
using ExprP = std::unique_ptr<Expr>;

// One iterator of forall/sum/comprehensions: `i in S`, `a, b in S`, `<a, b> in T`,
// each with an optional `: filter` that applies from there on.
struct Iterator {
    Pos pos;
    std::vector<std::string> names;  // bound names (one per name; pattern components below)
    bool tuple_pattern = false;
    std::vector<ExprP> pattern;      // tuple pattern components (Name or literal expressions)
    ExprP set;                       // the set, range or range expression iterated
    ExprP filter;                    // may be null
};

struct Expr {
    enum class K {
        Int, Float, Str, Bool, Name, Infinity, Maxint,
        Unary,      // op: "-", "+", "!"
        Nary,       // left-associative chain of one precedence level: kids[0] ops[0] kids[1] ...
        Compare,    // comparison chain: kids[0] ops[0] kids[1] (ops[1] kids[2])
        In,         // kids[0] in kids[1]; op "not in" when negated
        Cond,       // kids[0] ? kids[1] : kids[2]
        Range,      // kids[0] .. kids[1]
        Index,      // kids[0][kids[1]][kids[2]]...
        Field,      // kids[0].text
        Call,       // text(kids...)
        Aggregate,  // text in sum/prod/min/max/forall(iters) kids[0]
        TupleLit,   // <kids...>
        SetLit,     // {kids...}
        SetComp,    // { kids[0] | iters }
        ArrayLit,   // [kids...]: only as the value of a data declaration, nested per dimension
    };
    K kind;
    Pos pos;
    std::size_t begin = 0, end = 0;  // source byte span, for quoting the expression in messages
    std::string text;                // name, operator, field or function name
    std::int64_t ival = 0;
    double fval = 0.0;
    std::vector<ExprP> kids;
    std::vector<std::string> ops;
    std::vector<Pos> op_pos;         // Compare: where each operator is written
    std::vector<Iterator> iters;
    mutable const void* cache = nullptr;  // the global symbol a Name resolves to, once evaluated

    Expr(K k, Pos p) : kind(k), pos(p) {}
};

// Declared type of data: int, float, string, boolean, a tuple type, or a set of one of them.
struct TypeRef {
    enum class K { Int, Float, String, Bool, Tuple, Set };
    K kind = K::Int;
    std::string tuple_name;          // for Tuple
    std::shared_ptr<TypeRef> elem;   // for Set
    Pos pos;
    std::string text() const;
};

// One dimension of an array declaration: `[S]`, `[1..n]` or `[i in S]`.
struct Dim {
    Pos pos;
    std::string binder;  // "" unless `i in S`
    ExprP set;
};

struct Label {
    std::string name;  // "" when unlabelled
    Pos pos;
    std::vector<ExprP> index;
};

struct Stmt;
using StmtP = std::unique_ptr<Stmt>;

struct Stmt {
    enum class K { Constraint, Forall, If, Block };
    K kind;
    Pos pos;
    Label label;
    ExprP expr;                  // Constraint: the relation; If: the condition
    std::vector<Iterator> iters; // Forall
    std::vector<StmtP> body;     // Forall, If (then), Block
    std::vector<StmtP> else_body;
    bool has_else = false;
    Stmt(K k, Pos p) : kind(k), pos(p) {}
};

struct TupleField {
    std::string name;
    TypeRef type;
    bool key = false;
    Pos pos;
};

// One clause of `{T} S with a, b in A = ...;`: each element's fields must be in the set.
struct WithClause {
    std::vector<std::string> fields;
    std::vector<Pos> field_pos;
    std::string set;
};

struct Item {
    enum class K { Data, Range, Tuple, Dvar, Dexpr, ConstraintDecl, Assert, Objective, Constraints };
    K kind;
    Pos pos;
    std::string name;             // declared name, label of assert/objective
    Pos name_pos;
    TypeRef type;                 // Data, Dexpr
    std::vector<Dim> dims;        // Data, Dvar, Dexpr, ConstraintDecl
    bool external = false;        // `= ...`
    ExprP value;                  // Data, Range (a Range expr), Dexpr, Assert, Objective
    std::vector<ExprP> goals;     // Objective written lexicographic(e1, e2, ...): the goals in
                                  // priority order (value is then null)
    std::vector<WithClause> with; // `with a in A, b, c in B`
    std::string vtype;            // Dvar: float float+ int int+ boolean
    ExprP lo, hi;                 // Dvar bounds
    Pos bounds_pos;               // Dvar: the `in` before the bounds
    bool maximize = false;        // Objective
    std::vector<TupleField> fields;  // Tuple
    std::vector<StmtP> stmts;     // Constraints
    Item(K k, Pos p) : kind(k), pos(p) {}
};

struct Model {
    std::vector<Item> items;
};

// A value of the data file, as written (literals only). The values of one assignment are
// stored together in pre-order: a tuple, set or array is followed by its items, each with
// its own items after it, so a large array costs no allocation per value. Plain data: its
// text lives in the DataTree that holds it.
struct DataValue {
    enum class K : std::uint8_t { Int, Float, Str, Ident, Infinity, Maxint, Tuple, Set, Array, Keyed };
    K kind;
    std::uint32_t count = 0;  // number of items: Tuple, Set, Array; Keyed: keys and values
    std::uint32_t span = 1;   // this value and everything nested in it
    Pos pos;
    union {
        std::int64_t ival = 0;  // Int; Infinity and Maxint: the sign, -1 or 1
        double fval;            // Float
        const std::string* str; // Str, Ident
    };
    DataValue(K k, Pos p) : kind(k), pos(p) {}
    std::string_view text() const { return *str; }

    // The items in order; Keyed: key, value, key, value, ...
    class Items {
    public:
        class iterator {
        public:
            explicit iterator(const DataValue* p) : p_(p) {}
            const DataValue& operator*() const { return *p_; }
            const DataValue* operator->() const { return p_; }
            iterator& operator++() {
                p_ += p_->span;
                return *this;
            }
            bool operator==(const iterator& o) const { return p_ == o.p_; }

        private:
            const DataValue* p_;
        };
        Items(const DataValue* first, std::size_t n, const DataValue* end) : first_(first), n_(n), end_(end) {}
        iterator begin() const { return iterator(first_); }
        iterator end() const { return iterator(end_); }
        std::size_t size() const { return n_; }

    private:
        const DataValue* first_;
        std::size_t n_;
        const DataValue* end_;
    };
    // Valid while the value stays in its DataTree (the items follow it in the same array).
    Items items() const { return Items(this + 1, count, this + span); }
};

// The values of one assignment in pre-order, and the texts they refer to; `*tree` is the
// assigned value.
struct DataTree {
    std::vector<DataValue> nodes;
    std::forward_list<std::string> texts;  // never moved: neither adding one nor moving the tree moves them
    const DataValue& operator*() const { return nodes.front(); }
    const DataValue* operator->() const { return &nodes.front(); }
    explicit operator bool() const { return !nodes.empty(); }
    // Frees the values (they are not read again once bound).
    void reset() {
        std::vector<DataValue>().swap(nodes);
        texts.clear();
    }
};

struct DataAssign {
    std::string name;
    Pos pos;
    DataTree value;
};

struct DataFile {
    std::vector<DataAssign> assigns;
};

}  // namespace vorlan::compiler
