#include "vorlan_core/core/parser.hpp"

#include <utility>

namespace vorlan::compiler {

namespace {

struct Fail {
    ParseError e;
};

class Parser {
public:
    Parser(std::string_view src, bool data)
        : lx_(src, data), data_(data), max_tokens_(data ? kMaxDataTokens : kMaxModelTokens) {}

    Lexer lx_;
    int depth_ = 0;

    struct DepthGuard {
        Parser& p;
        DepthGuard(Parser& q, Pos pos) : p(q) {
            if (++p.depth_ > kMaxNesting)
                throw Fail{{pos, "nesting deeper than " + std::to_string(kMaxNesting) +
                                     " levels; simplify the expression or statement"}};
        }
        ~DepthGuard() { --p.depth_; }
    };

    const Token& cur() {
        const Token& t = lx_.peek();
        if (t.kind == Tok::Error) throw Fail{{t.pos, t.text}};
        return t;
    }
    const Token& ahead(std::size_t k) { return lx_.peek(k); }
    Token take() {
        const Token& t = cur();
        if (++tokens_ > max_tokens_)
            throw Fail{{t.pos, std::string("the ") + (data_ ? "data" : "model") + " text is too large (more than " +
                                   std::to_string(max_tokens_) + " tokens)", true}};
        return lx_.next();
    }
    std::size_t tokens_ = 0;
    bool data_ = false;
    std::size_t max_tokens_ = 0;
    [[noreturn]] void fail(const std::string& expected) {
        const Token& t = cur();
        throw Fail{{t.pos, "expected " + expected + ", found " + describe(t)}};
    }
    [[noreturn]] void unsupported(Pos p, const std::string& msg) { throw Fail{{p, msg, true}}; }
    bool accept_op(std::string_view op) {
        if (cur().is_op(op)) {
            take();
            return true;
        }
        return false;
    }
    bool accept_kw(std::string_view kw) {
        if (cur().is_kw(kw)) {
            take();
            return true;
        }
        return false;
    }
    Token expect_op(std::string_view op, const char* context = nullptr) {
        if (!cur().is_op(op)) fail("'" + std::string(op) + "'" + (context ? std::string(" ") + context : ""));
        return take();
    }
    Token expect_ident(const std::string& what) {
        if (cur().kind != Tok::Ident) {
            if (cur().kind == Tok::Keyword)
                throw Fail{{cur().pos, "expected " + what + ", found keyword '" + cur().text +
                                           "' (keywords are reserved; choose another name)"}};
            fail(what);
        }
        return take();
    }

    ExprP node(Expr::K k, const Token& t) {
        auto e = std::make_unique<Expr>(k, t.pos);
        e->begin = t.begin;
        e->end = t.end;
        return e;
    }
    void finish(Expr& e) { e.end = last_end_; }
    std::size_t last_end_ = 0;
    Token take_tracked() {
        Token t = take();
        last_end_ = t.end;
        return t;
    }

    // ----- expressions -----
    ExprP expr() {
        DepthGuard g(*this, cur().pos);
        ExprP c = or_expr();
        if (cur().is_op("?")) {
            take_tracked();
            auto e = std::make_unique<Expr>(Expr::K::Cond, c->pos);
            e->begin = c->begin;
            e->kids.push_back(std::move(c));
            e->kids.push_back(expr());
            expect_op(":", "in conditional expression 'c ? a : b'");
            e->kids.push_back(expr());
            e->end = e->kids.back()->end;
            return e;
        }
        return c;
    }

    template <class Next, class IsOp>
    ExprP chain(Next next, IsOp is_op) {
        ExprP first = (this->*next)();
        if (!is_op(cur())) return first;
        auto e = std::make_unique<Expr>(Expr::K::Nary, first->pos);
        e->begin = first->begin;
        e->kids.push_back(std::move(first));
        while (is_op(cur())) {
            e->ops.push_back(take_tracked().text);
            e->kids.push_back((this->*next)());
        }
        e->end = e->kids.back()->end;
        return e;
    }

    ExprP or_expr() {
        return chain(&Parser::and_expr, [](const Token& t) { return t.is_op("||"); });
    }
    ExprP and_expr() {
        return chain(&Parser::cmp_expr, [](const Token& t) { return t.is_op("&&"); });
    }
    static bool is_cmp(const Token& t) {
        return t.kind == Tok::Op && (t.text == "<=" || t.text == ">=" || t.text == "==" || t.text == "!=" ||
                                     t.text == "<" || t.text == ">");
    }
    ExprP cmp_expr() {
        ExprP first = range_expr();
        if (cur().is_kw("in") || (cur().is_kw("not") && ahead(1).is_kw("in"))) {
            auto e = std::make_unique<Expr>(Expr::K::In, first->pos);
            e->begin = first->begin;
            e->text = cur().is_kw("not") ? "not in" : "in";
            if (take_tracked().text == "not") take_tracked();
            e->kids.push_back(std::move(first));
            e->kids.push_back(range_expr());
            e->end = e->kids.back()->end;
            return e;
        }
        if (!is_cmp(cur())) return first;
        auto e = std::make_unique<Expr>(Expr::K::Compare, first->pos);
        e->begin = first->begin;
        e->kids.push_back(std::move(first));
        while (is_cmp(cur())) {
            e->ops.push_back(take_tracked().text);
            e->kids.push_back(range_expr());
        }
        e->end = e->kids.back()->end;
        return e;
    }
    ExprP range_expr() {
        ExprP lo = add_expr();
        if (!cur().is_op("..")) return lo;
        take_tracked();
        auto e = std::make_unique<Expr>(Expr::K::Range, lo->pos);
        e->begin = lo->begin;
        e->kids.push_back(std::move(lo));
        e->kids.push_back(add_expr());
        e->end = e->kids.back()->end;
        return e;
    }
    ExprP add_expr() {
        return chain(&Parser::mul_expr, [](const Token& t) {
            return t.is_op("+") || t.is_op("-") || t.is_kw("union") || t.is_kw("diff") || t.is_kw("symdiff");
        });
    }
    ExprP mul_expr() {
        return chain(&Parser::unary_expr, [](const Token& t) {
            return t.is_op("*") || t.is_op("/") || t.is_kw("div") || t.is_kw("mod") || t.is_kw("inter");
        });
    }
    ExprP unary_expr() {
        DepthGuard g(*this, cur().pos);
        if (cur().is_op("-") || cur().is_op("+") || cur().is_op("!") || cur().is_kw("not")) {
            if (cur().is_kw("not")) fail("an expression");
            Token t = take_tracked();
            auto e = node(Expr::K::Unary, t);
            e->text = t.text;
            e->kids.push_back(unary_expr());
            e->end = e->kids.back()->end;
            return e;
        }
        return postfix_expr();
    }
    void index_args(Expr& e) {
        // `[a][b]` and `[a, b]` both append to the same index list.
        while (cur().is_op("[")) {
            take_tracked();
            e.kids.push_back(expr());
            while (accept_op(",")) e.kids.push_back(expr());
            last_end_ = expect_op("]", "to close the index").end;
        }
        e.end = last_end_;
    }
    ExprP postfix_expr() {
        ExprP e = primary();
        for (;;) {
            if (cur().is_op("[")) {
                auto ix = std::make_unique<Expr>(Expr::K::Index, e->pos);
                ix->begin = e->begin;
                ix->kids.push_back(std::move(e));
                index_args(*ix);
                e = std::move(ix);
            } else if (cur().is_op(".") ) {
                take_tracked();
                Token f = expect_ident("a field name after '.'");
                last_end_ = f.end;
                auto fe = std::make_unique<Expr>(Expr::K::Field, f.pos);
                fe->begin = e->begin;
                fe->end = f.end;
                fe->text = f.text;
                fe->kids.push_back(std::move(e));
                e = std::move(fe);
            } else {
                return e;
            }
        }
    }
    // True when the tokens after '(' start an iterator list (`i in`, `a, b in`, `<...> in`).
    bool iterators_ahead(std::size_t k) {
        if (ahead(k).is_op("<")) return true;
        std::size_t j = k;
        while (ahead(j).kind == Tok::Ident) {
            if (ahead(j + 1).is_kw("in")) return true;
            if (!ahead(j + 1).is_op(",")) return false;
            j += 2;
            if (j - k > 64) return false;
        }
        return false;
    }
    void iterators(std::vector<Iterator>& out) {
        do {
            Iterator it;
            it.pos = cur().pos;
            if (cur().is_op("<")) {
                take();
                it.tuple_pattern = true;
                do {
                    it.pattern.push_back(add_expr());
                } while (accept_op(","));
                expect_op(">", "to close the tuple pattern");
            } else {
                it.names.push_back(expect_ident("an iterator name").text);
                while (cur().is_op(",") && ahead(1).kind == Tok::Ident &&
                       (ahead(2).is_op(",") || ahead(2).is_kw("in"))) {
                    take();
                    it.names.push_back(take().text);
                }
            }
            if (!accept_kw("in")) fail("'in' after the iterator name");
            it.set = range_expr();
            if (accept_op(":")) it.filter = or_expr();
            std::size_t names = it.names.size();
            for (auto& x : out) names += x.names.size() + x.pattern.size();
            if (names > kMaxIterators)
                throw Fail{{it.pos, "more than " + std::to_string(kMaxIterators) + " iterators in one list"}};
            out.push_back(std::move(it));
        } while (accept_op(","));
    }
    static bool is_builtin(const std::string& s) {
        static const char* names[] = {"abs", "card", "asSet", "ord", "first", "last", "item", "floor", "ceil",
                                      "round", "sqrt", "exp", "log", "pow", "minl", "maxl", "min", "max"};
        for (auto n : names)
            if (s == n) return true;
        return false;
    }
    ExprP primary() {
        const Token& t = cur();
        switch (t.kind) {
            case Tok::Int: {
                auto e = node(Expr::K::Int, t);
                e->ival = t.ival;
                take_tracked();
                return e;
            }
            case Tok::Float: {
                auto e = node(Expr::K::Float, t);
                e->fval = t.fval;
                take_tracked();
                return e;
            }
            case Tok::String: {
                auto e = node(Expr::K::Str, t);
                e->text = t.text;
                take_tracked();
                return e;
            }
            case Tok::Ident: {
                if (t.text == "true" || t.text == "false") {
                    auto e = node(Expr::K::Bool, t);
                    e->ival = t.text == "true";
                    take_tracked();
                    return e;
                }
                if (ahead(1).is_op("(") ) {
                    static const char* pwl = "piecewise";
                    if (t.text == pwl)
                        unsupported(t.pos, "piecewise-linear functions are not supported; model the pieces with "
                                           "extra variables and linear constraints");
                    throw Fail{{t.pos, "unknown function '" + t.text +
                                           "' (built-ins: abs card asSet ord first last item floor ceil round "
                                           "sqrt exp log pow minl maxl; aggregates: sum prod min max)"}};
                }
                auto e = node(Expr::K::Name, t);
                e->text = t.text;
                take_tracked();
                return e;
            }
            case Tok::Keyword: break;
            case Tok::Op: break;
            default: fail("an expression");
        }
        if (t.is_kw("infinity") || t.is_kw("maxint")) {
            auto e = node(t.text == "infinity" ? Expr::K::Infinity : Expr::K::Maxint, t);
            take_tracked();
            return e;
        }
        if (t.is_kw("sum") || t.is_kw("prod") || t.is_kw("forall") ||
            ((t.is_kw("min") || t.is_kw("max")) && ahead(1).is_op("(") && iterators_ahead(2))) {
            Token k = take_tracked();
            auto e = node(Expr::K::Aggregate, k);
            e->text = k.text;
            expect_op("(", ("after '" + k.text + "'").c_str());
            iterators(e->iters);
            expect_op(")", "to close the iterator list");
            // The body binds like a product term: sum(i in I) a[i]*x[i] + b sums a[i]*x[i] only.
            e->kids.push_back(k.text == "forall" ? cmp_expr() : mul_expr());
            e->end = e->kids.back()->end;
            return e;
        }
        if (t.kind == Tok::Keyword && is_builtin(t.text)) {
            Token k = take_tracked();
            auto e = node(Expr::K::Call, k);
            e->text = k.text;
            expect_op("(", ("after '" + k.text + "'").c_str());
            if (!cur().is_op(")")) {
                e->kids.push_back(expr());
                while (accept_op(",")) e->kids.push_back(expr());
            }
            last_end_ = expect_op(")", "to close the argument list").end;
            e->end = last_end_;
            return e;
        }
        if (t.is_op("(")) {
            Token open = take_tracked();
            ExprP inner = expr();
            last_end_ = expect_op(")", "to close '('").end;
            inner->begin = open.begin;
            inner->end = last_end_;
            return inner;
        }
        if (t.is_op("<")) {
            Token open = take_tracked();
            auto e = node(Expr::K::TupleLit, open);
            do {
                e->kids.push_back(add_expr());
            } while (accept_op(","));
            last_end_ = expect_op(">", "to close the tuple").end;
            e->end = last_end_;
            return e;
        }
        if (t.is_op("{")) {
            Token open = take_tracked();
            auto e = node(Expr::K::SetLit, open);
            if (!cur().is_op("}")) {
                e->kids.push_back(expr());
                if (accept_op("|")) {
                    e->kind = Expr::K::SetComp;
                    iterators(e->iters);
                } else {
                    while (accept_op(",")) {
                        if (cur().is_op("}")) break;
                        e->kids.push_back(expr());
                    }
                }
            }
            last_end_ = expect_op("}", "to close the set").end;
            e->end = last_end_;
            return e;
        }
        fail("an expression");
    }

    // ----- declarations -----
    TypeRef type_ref() {
        TypeRef r;
        r.pos = cur().pos;
        if (accept_op("{")) {
            r.kind = TypeRef::K::Set;
            r.elem = std::make_shared<TypeRef>(type_ref());
            expect_op("}", "to close the set type");
        } else if (accept_kw("setof")) {
            expect_op("(", "after 'setof'");
            r.kind = TypeRef::K::Set;
            r.elem = std::make_shared<TypeRef>(type_ref());
            expect_op(")", "to close 'setof('");
        } else if (accept_kw("int")) {
            r.kind = TypeRef::K::Int;
        } else if (accept_kw("float")) {
            r.kind = TypeRef::K::Float;
        } else if (accept_kw("string")) {
            r.kind = TypeRef::K::String;
        } else if (accept_kw("boolean")) {
            r.kind = TypeRef::K::Bool;
        } else if (cur().kind == Tok::Ident) {
            r.kind = TypeRef::K::Tuple;
            r.tuple_name = take().text;
        } else {
            fail("a type (int, float, string, {T} or a tuple type)");
        }
        return r;
    }
    void dims(std::vector<Dim>& out) {
        while (cur().is_op("[")) {
            take();
            do {
                Dim d;
                d.pos = cur().pos;
                if (cur().kind == Tok::Ident && ahead(1).is_kw("in")) {
                    d.binder = take().text;
                    take();
                }
                d.set = range_expr();
                out.push_back(std::move(d));
                if (out.size() > kMaxDims)
                    throw Fail{{out.back().pos, "more than " + std::to_string(kMaxDims) + " dimensions in one declaration"}};
            } while (accept_op(","));
            expect_op("]", "to close the index set");
        }
    }
    // `name:` or `name[...]...:` ahead; bounded scan.
    bool label_ahead() {
        if (cur().kind != Tok::Ident) return false;
        if (ahead(1).is_op(":")) return true;
        if (!ahead(1).is_op("[")) return false;
        std::size_t k = 1;
        int depth = 0;
        for (; k < 4096; ++k) {
            const Token& t = ahead(k);
            if (t.kind == Tok::End || t.kind == Tok::Error || t.is_op(";")) return false;
            if (t.is_op("[")) ++depth;
            else if (t.is_op("]")) {
                if (--depth == 0 && !ahead(k + 1).is_op("[")) return ahead(k + 1).is_op(":");
            }
        }
        return false;
    }
    Label label() {
        Label l;
        Token n = take();
        l.name = n.text;
        l.pos = n.pos;
        while (cur().is_op("[")) {
            take();
            l.index.push_back(expr());
            while (accept_op(",")) l.index.push_back(expr());
            expect_op("]", "to close the label index");
        }
        expect_op(":", "after the label");
        return l;
    }
    void end_stmt(const char* what) {
        if (!cur().is_op(";")) {
            const Token& t = cur();
            if (t.is_op("=>"))
                unsupported(t.pos, "logical implication '=>' between constraints is not supported; use a binary "
                                   "variable with big-M constraints");
            fail(std::string("';' to end the ") + what);
        }
        take();
    }

    StmtP stmt() {
        DepthGuard g(*this, cur().pos);
        const Token& t = cur();
        if (t.is_op("{")) {
            auto s = std::make_unique<Stmt>(Stmt::K::Block, t.pos);
            take();
            block_body(s->body);
            return s;
        }
        if (t.kind == Tok::Ident && ahead(1).is_op("=") && ahead(2).is_kw("forall"))
            unsupported(t.pos, "the form 'name = forall(...) ...;' is not supported; write 'forall(...) name: ...;'");
        Label lab;
        if (label_ahead()) lab = label();
        if (cur().is_kw("forall") && ahead(1).is_op("(")) {
            auto s = std::make_unique<Stmt>(Stmt::K::Forall, cur().pos);
            take();
            take();
            iterators(s->iters);
            expect_op(")", "to close the forall iterators");
            s->label = std::move(lab);
            s->body.push_back(stmt());
            return s;
        }
        if (cur().is_kw("if")) {
            auto s = std::make_unique<Stmt>(Stmt::K::If, cur().pos);
            take();
            expect_op("(", "after 'if'");
            s->expr = expr();
            expect_op(")", "to close the 'if' condition");
            s->body.push_back(stmt());
            if (accept_kw("else")) {
                s->has_else = true;
                s->else_body.push_back(stmt());
            }
            return s;
        }
        auto s = std::make_unique<Stmt>(Stmt::K::Constraint, cur().pos);
        s->label = std::move(lab);
        s->expr = expr();
        end_stmt("constraint");
        return s;
    }
    void block_body(std::vector<StmtP>& out) {
        for (;;) {
            if (accept_op("}")) {
                accept_op(";");
                return;
            }
            if (accept_op(";")) continue;
            if (cur().kind == Tok::End) fail("'}' to close the constraint block");
            out.push_back(stmt());
        }
    }

    void model(Model& m) {
        for (;;) {
            const Token& t = cur();
            if (t.kind == Tok::End) return;
            if (t.kind == Tok::Execute) {
                take();
                continue;
            }
            if (t.is_op(";")) {
                take();
                continue;
            }
            if (t.kind == Tok::Ident) {
                if (t.text == "main" && ahead(1).is_op("{"))
                    unsupported(t.pos, "'main' flow-control scripts are not supported; write one model with data");
                if (t.text == "include")
                    unsupported(t.pos, "'include' is not supported; put the whole model in one file");
                if (t.text == "using")
                    unsupported(t.pos, "'using' (constraint programming) is not supported; write a linear or "
                                       "mixed-integer model");
            }
            m.items.push_back(item());
        }
    }

    Item item() {
        const Token& t = cur();
        Pos p = t.pos;
        if (t.is_kw("tuple")) {
            take();
            Item it(Item::K::Tuple, p);
            Token n = expect_ident("a tuple type name");
            it.name = n.text;
            it.name_pos = n.pos;
            expect_op("{", "to open the tuple fields");
            while (!accept_op("}")) {
                TupleField f;
                f.key = accept_kw("key");
                f.type = type_ref();
                if (f.type.kind == TypeRef::K::Bool)
                    throw Fail{{f.type.pos, "tuple fields are int, float, string, a set {T} or a tuple type"}};
                do {
                    Token fn = expect_ident("a field name");
                    TupleField g = f;
                    g.name = fn.text;
                    g.pos = fn.pos;
                    it.fields.push_back(g);
                } while (accept_op(","));
                expect_op(";", "after the tuple field");
            }
            accept_op(";");
            return it;
        }
        if (t.is_kw("range")) {
            take();
            Item it(Item::K::Range, p);
            Token n = expect_ident("a range name");
            it.name = n.text;
            it.name_pos = n.pos;
            expect_op("=", "in the range declaration 'range R = lo..hi;'");
            it.value = expr();
            if (it.value->kind != Expr::K::Range)
                throw Fail{{it.value->pos, "expected a range 'lo..hi' in the declaration of '" + it.name + "'"}};
            end_stmt("range declaration");
            return it;
        }
        if (t.is_kw("dvar")) {
            take();
            Item it(Item::K::Dvar, p);
            if (accept_kw("float")) it.vtype = accept_op("+") ? "float+" : "float";
            else if (accept_kw("int")) it.vtype = accept_op("+") ? "int+" : "int";
            else if (accept_kw("boolean")) it.vtype = "boolean";
            else if (cur().kind == Tok::Ident && (cur().text == "interval" || cur().text == "sequence"))
                unsupported(cur().pos, "scheduling variables ('dvar " + cur().text +
                                           "') are not supported; use float, int or boolean variables");
            else
                fail("a variable type (float, float+, int, int+ or boolean)");
            Token n = expect_ident("a variable name");
            it.name = n.text;
            it.name_pos = n.pos;
            dims(it.dims);
            if (accept_kw("in")) {
                ExprP r = range_expr();
                if (r->kind != Expr::K::Range) throw Fail{{r->pos, "expected bounds 'lo..hi' after 'in'"}};
                it.lo = std::move(r->kids[0]);
                it.hi = std::move(r->kids[1]);
            }
            end_stmt("variable declaration");
            return it;
        }
        if (t.is_kw("dexpr")) {
            take();
            Item it(Item::K::Dexpr, p);
            it.type = type_ref();
            if (it.type.kind != TypeRef::K::Int && it.type.kind != TypeRef::K::Float)
                throw Fail{{it.type.pos, "a dexpr is 'dexpr float' or 'dexpr int'"}};
            Token n = expect_ident("a dexpr name");
            it.name = n.text;
            it.name_pos = n.pos;
            dims(it.dims);
            expect_op("=", "after the dexpr name");
            it.value = expr();
            end_stmt("dexpr declaration");
            return it;
        }
        if (t.is_kw("constraint")) {
            take();
            Item it(Item::K::ConstraintDecl, p);
            Token n = expect_ident("a constraint name");
            it.name = n.text;
            it.name_pos = n.pos;
            dims(it.dims);
            end_stmt("constraint declaration");
            return it;
        }
        if (t.is_kw("assert")) {
            take();
            Item it(Item::K::Assert, p);
            if (cur().kind == Tok::Ident && ahead(1).is_op(":")) {
                it.name = take().text;
                take();
            }
            it.value = expr();
            end_stmt("assert");
            return it;
        }
        if (t.is_kw("minimize") || t.is_kw("maximize")) {
            Item it(Item::K::Objective, p);
            it.maximize = take().text == "maximize";
            if (cur().kind == Tok::Ident && ahead(1).is_op(":")) {
                it.name = take().text;
                take();
            }
            it.value = expr();
            end_stmt("objective");
            return it;
        }
        if (t.is_kw("subject") || t.is_kw("constraints")) {
            Item it(Item::K::Constraints, p);
            if (take().text == "subject" && !accept_kw("to")) fail("'to' after 'subject'");
            expect_op("{", "to open the constraint block");
            block_body(it.stmts);
            return it;
        }
        if (t.is_kw("execute")) fail("'{' to open the execute block");
        // data declaration
        if (!(t.is_kw("int") || t.is_kw("float") || t.is_kw("string") || t.is_kw("boolean") || t.is_op("{") ||
              t.is_kw("setof") || t.kind == Tok::Ident))
            fail("a declaration, objective or constraint block");
        Item it(Item::K::Data, p);
        it.type = type_ref();
        if (it.type.kind == TypeRef::K::Float && cur().is_op("+"))
            throw Fail{{cur().pos, "'float+' is a variable type; declare decision variables with 'dvar float+'"}};
        Token n = expect_ident("a name for the declaration");
        it.name = n.text;
        it.name_pos = n.pos;
        dims(it.dims);
        if (accept_kw("with")) {
            it.with_pos = cur().pos;
            it.with_field = expect_ident("a field name after 'with'").text;
            if (!accept_kw("in")) fail("'in' after the 'with' field");
            it.with_set = expect_ident("a set name").text;
        }
        if (accept_op("=")) {
            if (accept_op("...")) it.external = true;
            else it.value = expr();
        }
        end_stmt("declaration");
        return it;
    }

    // ----- data files -----
    DataValueP dvalue() {
        DepthGuard g(*this, cur().pos);
        const Token& t = cur();
        Pos p = t.pos;
        auto mk = [&](DataValue::K k) { return std::make_unique<DataValue>(k, p); };
        if (t.is_op("-") || t.is_op("+")) {
            bool neg = take().text == "-";
            const Token& n = cur();
            DataValueP v;
            if (n.kind == Tok::Int) {
                v = mk(DataValue::K::Int);
                v->ival = neg ? -n.ival : n.ival;
            } else if (n.kind == Tok::Float) {
                v = mk(DataValue::K::Float);
                v->fval = neg ? -n.fval : n.fval;
            } else if (n.is_kw("infinity")) {
                v = mk(DataValue::K::Infinity);
                v->ival = neg ? -1 : 1;
            } else if (n.is_kw("maxint")) {
                v = mk(DataValue::K::Maxint);
                v->ival = neg ? -1 : 1;
            } else {
                fail("a number after the sign");
            }
            take();
            return v;
        }
        if (t.kind == Tok::Int) {
            auto v = mk(DataValue::K::Int);
            v->ival = take().ival;
            return v;
        }
        if (t.kind == Tok::Float) {
            auto v = mk(DataValue::K::Float);
            v->fval = take().fval;
            return v;
        }
        if (t.kind == Tok::String) {
            auto v = mk(DataValue::K::Str);
            v->text = take().text;
            return v;
        }
        if (t.is_kw("infinity") || t.is_kw("maxint")) {
            auto v = mk(t.text == "infinity" ? DataValue::K::Infinity : DataValue::K::Maxint);
            v->ival = 1;
            take();
            return v;
        }
        if (t.kind == Tok::Ident || t.kind == Tok::Keyword) {
            auto v = mk(DataValue::K::Ident);
            v->text = take().text;
            return v;
        }
        auto seq = [&](DataValue::K k, std::string_view close, const char* what) {
            take();
            auto v = mk(k);
            for (;;) {
                if (accept_op(close)) return v;
                if (cur().kind == Tok::End) fail("'" + std::string(close) + "' to close the " + what);
                v->items.push_back(dvalue());
                accept_op(",");
            }
        };
        if (t.is_op("<")) return seq(DataValue::K::Tuple, ">", "tuple");
        if (t.is_op("{")) return seq(DataValue::K::Set, "}", "set");
        if (t.is_op("[")) return seq(DataValue::K::Array, "]", "array");
        if (t.is_op("#[")) {
            take();
            auto v = mk(DataValue::K::Keyed);
            for (;;) {
                if (accept_op("]#")) return v;
                if (cur().kind == Tok::End) fail("']#' to close the keyed array");
                v->items.push_back(dvalue());
                expect_op(":", "between key and value in '#[ key: value ]#'");
                v->items.push_back(dvalue());
                accept_op(",");
            }
        }
        fail("a data value (number, string, <tuple>, {set}, [array] or #[keyed array]#)");
    }
    void data(DataFile& d) {
        for (;;) {
            const Token& t = cur();
            if (t.kind == Tok::End) return;
            if (t.is_op(";")) {
                take();
                continue;
            }
            if (t.kind == Tok::Ident && (t.text == "SheetConnection" || t.text == "DBConnection" ||
                                         t.text == "DBRead" || t.text == "SheetRead"))
                unsupported(t.pos, "external data readers ('" + t.text +
                                       "') are not supported; write the values in the data file");
            DataAssign a;
            a.pos = t.pos;
            a.name = expect_ident("a data name ('name = value;')").text;
            if (cur().kind == Tok::Ident && (cur().text == "from"))
                unsupported(cur().pos, "external data readers ('from ...') are not supported; write the values");
            expect_op("=", "after the data name");
            a.value = dvalue();
            if (!cur().is_op(";")) fail("';' after the value of '" + a.name + "'");
            take();
            d.assigns.push_back(std::move(a));
        }
    }
};

}  // namespace

bool parse_model(std::string_view src, Model& out, ParseError& err) {
    Parser p(src, false);
    try {
        p.model(out);
        return true;
    } catch (Fail& f) {
        err = std::move(f.e);
        return false;
    }
}

bool parse_data(std::string_view src, DataFile& out, ParseError& err) {
    Parser p(src, true);
    try {
        p.data(out);
        return true;
    } catch (Fail& f) {
        err = std::move(f.e);
        return false;
    }
}

std::string TypeRef::text() const {
    switch (kind) {
        case K::Int: return "int";
        case K::Float: return "float";
        case K::String: return "string";
        case K::Bool: return "boolean";
        case K::Tuple: return tuple_name;
        case K::Set: return "{" + (elem ? elem->text() : std::string("?")) + "}";
    }
    return "?";
}

}  // namespace vorlan::compiler
