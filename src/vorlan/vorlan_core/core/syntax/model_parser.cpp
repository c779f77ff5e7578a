// Declarations, statements and constraint blocks of a model file.
#include "vorlan_core/core/syntax/model_parser.hpp"

#include <utility>

namespace vorlan::compiler {

TypeRef ModelParser::type_ref() {
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

void ModelParser::dims(std::vector<Dim>& out) {
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
bool ModelParser::label_ahead() {
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

// `name:` before an assert or objective (no index); the name, or "" when there is none.
std::string ModelParser::name_label() {
    if (cur().kind != Tok::Ident || !ahead(1).is_op(":")) return "";
    std::string name = take().text;
    take();
    return name;
}

Label ModelParser::label() {
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

void ModelParser::end_stmt(const char* what) {
    if (!cur().is_op(";")) {
        const Token& t = cur();
        if (t.is_op("=>"))
            unsupported(t.pos, "logical implication '=>' between constraints is not supported; use a binary "
                               "variable with big-M constraints");
        fail(std::string("';' to end the ") + what);
    }
    take();
}

StmtP ModelParser::stmt() {
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
    if (!lab.name.empty() && cur().is_op("{")) {
        // A labelled group: `capacity: { ... }` names each constraint in it.
        auto s = std::make_unique<Stmt>(Stmt::K::Block, cur().pos);
        take();
        s->label = std::move(lab);
        block_body(s->body);
        return s;
    }
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

void ModelParser::block_body(std::vector<StmtP>& out) {
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

void ModelParser::model(Model& m) {
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

Item ModelParser::item() {
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
        it.bounds_pos = cur().pos;
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
        it.name = name_label();
        it.value = expr();
        end_stmt("assert");
        return it;
    }
    if (t.is_kw("minimize") || t.is_kw("maximize")) {
        Item it(Item::K::Objective, p);
        it.maximize = take().text == "maximize";
        it.name = name_label();
        if (cur().kind == Tok::Ident && cur().text == "lexicographic" && ahead(1).is_op("(")) {
            Pos at = take().pos;
            take();
            do it.goals.push_back(expr());
            while (accept_op(","));
            expect_op(")", "to close lexicographic(");
            if (it.goals.size() < 2)
                throw Fail{{at, "lexicographic(...) takes two or more goals in priority order; a single goal "
                                "is written without it"}};
        } else {
            it.value = expr();
        }
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
        do {
            WithClause w;
            do {
                w.field_pos.push_back(cur().pos);
                w.fields.push_back(expect_ident("a field name after 'with'").text);
            } while (accept_op(","));
            if (!accept_kw("in")) fail("'in' after the 'with' field");
            w.set = expect_ident("a set name").text;
            it.with.push_back(std::move(w));
        } while (accept_op(","));
    }
    if (accept_op("=")) {
        if (accept_op("...")) it.external = true;
        else it.value = value_expr();
    }
    end_stmt("declaration");
    return it;
}

bool parse_model(std::string_view src, Model& out, ParseError& err) {
    ModelParser p(src);
    return TokenReader::guarded(err, [&] { p.model(out); });
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
