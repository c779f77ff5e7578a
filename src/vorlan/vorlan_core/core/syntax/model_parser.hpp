// The model-file parser: expressions (expr_parser.cpp) and declarations, statements and
// constraint blocks (model_parser.cpp). Internal to the syntax phase.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "vorlan_core/core/syntax/token_reader.hpp"

namespace vorlan::compiler {

class ModelParser : public TokenReader {
public:
    explicit ModelParser(std::string_view src) : TokenReader(src, false) {}

    void model(Model& m);

private:
    // ----- expressions -----
    ExprP node(Expr::K k, const Token& t) {
        auto e = std::make_unique<Expr>(k, t.pos);
        e->begin = t.begin;
        e->end = t.end;
        return e;
    }
    std::size_t last_end_ = 0;  // end of the last token an expression consumed
    Token take_tracked() {
        Token t = take();
        last_end_ = t.end;
        return t;
    }
    ExprP expr();
    template <class Next, class IsOp>
    ExprP chain(Next next, IsOp is_op);
    ExprP or_expr();
    ExprP and_expr();
    static bool is_cmp(const Token& t);
    ExprP cmp_expr();
    ExprP range_expr();
    ExprP add_expr();
    ExprP mul_expr();
    ExprP pow_expr();
    static ExprP domain_bound(const char* fn, const Expr& range);
    ExprP unary_expr();
    void index_args(Expr& e);
    ExprP postfix_expr();
    bool iterators_ahead(std::size_t k);
    void iterators(std::vector<Iterator>& out);
    static bool is_builtin(const std::string& s);
    ExprP primary();
    ExprP value_expr();

    // ----- declarations and statements -----
    TypeRef type_ref();
    void dims(std::vector<Dim>& out);
    bool label_ahead();
    Label label();
    std::string name_label();
    void end_stmt(const char* what);
    StmtP stmt();
    void block_body(std::vector<StmtP>& out);
    Item item();
};

}  // namespace vorlan::compiler
