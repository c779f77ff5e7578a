// The flat linear instance a compiled model expands to: every forall, sum and filter
// evaluated over the data. Solvers and exporters read this and nothing else.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <string>
#include <variant>
#include <vector>

namespace vorlan::compiler {

// One component of an index tuple: an integer, a float or a string value.
using IndexValue = std::variant<std::int64_t, double, std::string>;

// Text form of an index tuple as it appears in reports: [1]["a"] -> `[1]["a"]`.
std::string index_text(const std::vector<IndexValue>& index);

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Variable {
    std::string name;                // declared name, e.g. "x"
    std::vector<IndexValue> index;   // index values, empty for a scalar variable
    double lower = 0.0;              // -kInf when unbounded below
    double upper = kInf;             // kInf when unbounded above
    bool integer = false;            // int, int+ and boolean variables
    std::string full_name() const { return name + index_text(index); }
};

// The variables of an instance. A declaration's variables are one block: its name, its
// bounds and the index sets it runs over, so a variable takes no memory of its own unless
// its bounds differ from its neighbours'. Entries (Variable) are built when asked for.
class Variables {
public:
    // One index set of a block. Position k of a range is lo + k; of a listed set, the index
    // values [offsets[k], offsets[k + 1]) of `values` (a tuple element gives several).
    struct Dim {
        bool is_range = false;
        std::int64_t lo = 0;
        std::size_t count = 0;
        std::vector<IndexValue> values;
        std::vector<std::uint32_t> offsets;
    };
    struct Block {
        std::string name;
        std::size_t first = 0, count = 0;  // variables [first, first + count), the last dimension fastest
        std::vector<Dim> dims;
        bool integer = false;
        double lower = 0.0, upper = kInf;  // every variable's bounds, unless the vectors below are set
        std::vector<double> lowers, uppers;  // per variable, or empty
        double lower_of(std::size_t k) const { return lowers.empty() ? lower : lowers[k]; }
        double upper_of(std::size_t k) const { return uppers.empty() ? upper : uppers[k]; }
    };

    Variables() = default;
    Variables(std::initializer_list<Variable> vs);
    Variables& operator=(std::initializer_list<Variable> vs);

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Variable operator[](std::size_t j) const;
    const std::string& name(std::size_t j) const { return block_of(j).name; }
    // Appends the index values of variable j to out.
    void append_index(std::size_t j, std::vector<IndexValue>& out) const;
    std::string full_name(std::size_t j) const;
    bool integer(std::size_t j) const { return block_of(j).integer; }
    double lower(std::size_t j) const;
    double upper(std::size_t j) const;
    const std::vector<Block>& blocks() const { return blocks_; }

    void push_back(const Variable& v);
    void add_block(Block b);       // sets b.first
    void resize(std::size_t n);    // appends default variables up to n (never fewer)

    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Variable;
        using difference_type = std::ptrdiff_t;
        using reference = Variable;
        using pointer = void;
        iterator(const Variables* vs, std::size_t j) : vs_(vs), j_(j) {}
        Variable operator*() const { return (*vs_)[j_]; }
        iterator& operator++() { ++j_; return *this; }
        bool operator==(const iterator& o) const { return j_ == o.j_; }
    private:
        const Variables* vs_;
        std::size_t j_;
    };
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, size_}; }

private:
    const Block& block_of(std::size_t j) const;
    std::vector<Block> blocks_;
    std::size_t size_ = 0;
};

// Packed: 12 bytes instead of 16 for each of the instance's (often millions of) terms.
struct __attribute__((packed)) Term {
    std::int32_t var;  // position in Instance::variables
    double coef;
};
static_assert(sizeof(Term) == 12);

// lower <= sum(terms) <= upper; equality when lower == upper.
struct Row {
    std::string label;               // constraint label, or "" when unlabelled
    std::vector<IndexValue> index;   // index values of the label (forall iterators)
    std::vector<Term> terms;         // merged: each variable at most once, no zero coefficients
    double lower = -kInf;
    double upper = kInf;
    int line = 0;                    // model line of the constraint
};

struct Objective {
    enum class Sense { None, Minimize, Maximize };
    Sense sense = Sense::None;       // None: a feasibility model
    std::string label;
    std::vector<Term> terms;         // merged as in Row
    double constant = 0.0;
};

// A cell of a named expression (dexpr), kept so that a solution report can give its value.
struct NamedExpression {
    std::string name;
    std::vector<IndexValue> index;
    std::vector<Term> terms;         // as written: a variable may occur more than once
    double constant = 0.0;
    std::string full_name() const { return name + index_text(index); }
};

// Named-expression cells kept for reports, at most (the first in model order).
constexpr std::size_t kReportedExpressions = 200;

// How the flat index of a variable or named expression indexed by a set of tuples reads as the
// model writes it: per dimension the number of flat values it takes and, for a tuple, which of
// them are its key fields (all fields when the tuple type has no key).
struct IndexLayout {
    struct Dim {
        std::size_t width = 1;
        bool tuple = false;
        std::vector<std::size_t> shown;  // positions within the dimension's values
    };
    std::string name;
    std::vector<Dim> dims;
};

struct Instance {
    Variables variables;
    Objective objective;
    // lexicographic(e1, e2, ...): objective holds e1, these the later goals in priority order
    // (same sense and label); empty for a model with one objective.
    std::vector<Objective> lower_priority;
    std::vector<Row> rows;
    std::vector<NamedExpression> expressions;  // the first kReportedExpressions dexpr cells
    std::vector<IndexLayout> layouts;          // declarations indexed by a set of tuples
};

// `name` with its index as the model writes it: `ship[<"A","B">]` for a tuple-set index (key
// fields only), `x["a"][2]` otherwise; infinite values read "infinity".
std::string written_name(const Instance& inst, const std::string& name, const std::vector<IndexValue>& index);

}  // namespace vorlan::compiler
