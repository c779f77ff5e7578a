// The compiler driver: the phases in order. Both files are parsed even when the first
// fails, so one round reports problems in both; analysis runs only on a clean parse.
#include "vorlan_core/core/compiler.hpp"

#include "vorlan_core/core/diagnostics/sink.hpp"
#include "vorlan_core/core/sema/analyse.hpp"
#include "vorlan_core/core/syntax/parser.hpp"

namespace vorlan::compiler {

std::string CompileResult::message() const { return diagnostics_text(diagnostics); }

bool CompileResult::has_syntax_error() const {
    for (const auto& d : diagnostics)
        if (d.kind == Diagnostic::Kind::Syntax) return true;
    return false;
}

namespace {

void report(DiagnosticSink& sink, const char* file, const ParseError& e) {
    sink.report(e.unsupported ? Diagnostic::Kind::Semantic : Diagnostic::Kind::Syntax, file, e.pos.line, e.pos.col,
                e.message);
}

}  // namespace

CompileResult compile(std::string_view model_text, std::string_view data_text, const Limits& limits) {
    DiagnosticSink sink;
    CompileResult r;
    auto parsed = std::make_shared<Parsed>();
    parsed->model_src.assign(model_text);
    ParseError err;
    bool model_ok = parse_model(model_text, parsed->model, err);
    if (!model_ok) report(sink, "model", err);
    bool data_ok = parse_data(data_text, parsed->data, err);
    if (!data_ok) report(sink, "data", err);
    if (model_ok && data_ok) {
        Analysis a = analyse(std::move(parsed), sink, limits);
        r.instance = std::move(a.instance);
        r.export_host = std::move(a.export_host);
    }
    r.diagnostics = sink.take();
    return r;
}

CompileResult Compiler::compile(std::string_view model_text, std::string_view data_text) {
    CompileResult r = vorlan::compiler::compile(model_text, data_text, limits);
    if (r.ok()) {
        last_ = r;
        ast_.reset();
        data_.reset();
    }
    return r;
}

const Instance& Compiler::instance() const {
    static const Instance empty;
    return last_.instance ? *last_.instance : empty;
}

void Compiler::export_if_needed() const {
    if (ast_ || !last_.export_host) return;
    auto a = std::make_shared<HostValue>(HostValue::map());
    auto d = std::make_shared<HostValue>(HostValue::map());
    last_.export_host(*a, *d);
    ast_ = a;
    data_ = d;
}

const HostValue& Compiler::ast() const {
    static const HostValue empty = HostValue::map();
    export_if_needed();
    return ast_ ? *ast_ : empty;
}

const HostValue& Compiler::data() const {
    static const HostValue empty = HostValue::map();
    export_if_needed();
    return data_ ? *data_ : empty;
}

}  // namespace vorlan::compiler
