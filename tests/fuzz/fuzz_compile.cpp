// libFuzzer entry point for the model and data parsers and everything behind them
// (type checking, data binding, expansion, host export). The input is split at its
// first NUL byte: model text before it, data text after it (empty when there is none).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz_limits.hpp"
#include "vorlan_core/core/compiler.hpp"

namespace {

[[noreturn]] void fail(const char* why, const std::string& detail) {
    std::fprintf(stderr, "fuzz_compile: %s\n%s\n", why, detail.c_str());
    std::abort();
}

// A rejected input must come back as at most 20 "model:"/"data:" lines.
void check_message(const vorlan::compiler::CompileResult& r) {
    const std::string msg = r.message();
    if (msg.empty()) fail("failed compile with an empty message", msg);
    std::size_t lines = 0, start = 0;
    while (start < msg.size()) {
        std::size_t end = msg.find('\n', start);
        if (end == std::string::npos) end = msg.size();
        std::string_view line(msg.data() + start, end - start);
        if (!(line.starts_with("model:") || line.starts_with("data:")))
            fail("diagnostic line without a file position", msg);
        ++lines;
        start = end + 1;
    }
    if (lines > vorlan::compiler::kMaxDiagnostics) fail("more than 20 diagnostic lines", msg);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = all.find('\0');
    std::string_view model = all.substr(0, nul);
    std::string_view dat = nul == std::string_view::npos ? std::string_view() : all.substr(nul + 1);

    vorlan::compiler::Compiler comp;
    set_fuzz_limits(comp.limits);
    const auto r = comp.compile(model, dat);
    if (r.ok()) {
        // Walk the exported host values too: they are built lazily from the syntax tree.
        (void)comp.ast();
        (void)comp.data();
        (void)comp.instance();
    } else {
        check_message(r);
    }
    return 0;
}
