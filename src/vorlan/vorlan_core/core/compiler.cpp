#include "vorlan_core/core/compiler.hpp"

#include <cstdio>

#include "common/text.hpp"
#include "vorlan_core/core/parser.hpp"
#include "vorlan_core/core/sema.hpp"

namespace vorlan::compiler {

std::string Diagnostic::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(col) + ": " + message;
}

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

std::string CompileResult::message() const {
    std::string msg;
    for (std::size_t i = 0; i < diagnostics.size() && i < kMaxDiagnostics; ++i) {
        if (i) msg += "\n";
        msg += diagnostics[i].text();
    }
    // Quoted source text may have been cut inside a character; messages are always valid UTF-8.
    return text::drop_invalid_utf8(msg);
}

bool CompileResult::has_syntax_error() const {
    for (const auto& d : diagnostics)
        if (d.kind == Diagnostic::Kind::Syntax) return true;
    return false;
}

CompileResult compile(std::string_view model_text, std::string_view data_text, const Limits& limits) {
    CompileResult r;
    auto parsed = std::make_shared<Parsed>();
    parsed->model_src.assign(model_text);
    Model& model = parsed->model;
    DataFile& data = parsed->data;
    ParseError err;
    auto add = [&](const char* file, const ParseError& e) {
        r.diagnostics.push_back({e.unsupported ? Diagnostic::Kind::Semantic : Diagnostic::Kind::Syntax, file,
                                 e.pos.line, e.pos.col, e.message});
    };
    // Both files are parsed even when the first fails, so one round reports both.
    bool model_ok = parse_model(model_text, model, err);
    if (!model_ok) add("model", err);
    bool data_ok = parse_data(data_text, data, err);
    if (!data_ok) add("data", err);
    if (!model_ok || !data_ok) return r;
    analyse(std::move(parsed), r, limits);
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
