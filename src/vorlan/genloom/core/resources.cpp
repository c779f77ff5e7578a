#include "genloom/core/resources.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.hpp"

namespace genloom::resources {

std::string dirname(std::string_view path) {
    auto slash = path.rfind('/');
    std::string head(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1));
    if (!head.empty() && head.find_first_not_of('/') != std::string::npos) {
        while (!head.empty() && head.back() == '/') head.pop_back();
    }
    return head;
}

std::string join(std::string_view base, std::string_view component) {
    if (!component.empty() && component.front() == '/') return std::string(component);
    std::string out(base);
    if (!out.empty() && out.back() != '/') out += '/';
    out += component;
    return out;
}

namespace {
std::string grammars_dir(std::string_view module_file) {
    return join(join(dirname(dirname(module_file)), "docs"), "grammars");
}
}  // namespace

std::string grammar_markdown_path(std::string_view module_file) {
    return join(grammars_dir(module_file), "Vorlan grammar.md");
}

std::string grammar_gbnf_path(std::string_view module_file) {
    return join(grammars_dir(module_file), "Vorlan_GBNF");
}

std::string data_gbnf_path(std::string_view module_file) {
    return join(grammars_dir(module_file), "Vorlan_data_GBNF");
}

std::string compiler_source_path(std::string_view module_file) {
    return join(dirname(module_file), "vorlan_core.cpp");
}

StrictText read_text_strict(const std::string& path) {
    StrictText r;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.status = StrictText::Status::os_error;
        r.error = errno;
        return r;
    }
    // A directory opens fine on POSIX; report it the way the host's open() does.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        r.status = StrictText::Status::os_error;
        r.error = EISDIR;
        return r;
    }
    std::string raw;
    if (st.st_size > 0) raw.reserve(static_cast<std::size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            r.status = StrictText::Status::os_error;
            r.error = errno;
            ::close(fd);
            return r;
        }
        raw.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!vorlan::text::is_valid_utf8(raw)) {
        r.status = StrictText::Status::invalid_utf8;
        r.bytes = std::move(raw);
        return r;
    }
    r.text = vorlan::text::normalize_newlines(raw);
    return r;
}

}  // namespace genloom::resources
