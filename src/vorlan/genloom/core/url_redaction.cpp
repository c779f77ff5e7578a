#include "genloom/core/url_redaction.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace genloom::core {

namespace {

bool ends_url(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u <= ' ' || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`' || c == ')' || c == ']' ||
           c == '}' || u == 0x7F;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool secret_name(std::string_view name) {
    static constexpr std::array<std::string_view, 10> kWords = {"key",  "token",     "secret", "password", "passwd",
                                                                "auth", "signature", "sig",    "credential", "pwd"};
    const std::string n = lower(name);
    for (std::string_view w : kWords)
        if (n.find(w) != std::string::npos) return true;
    return false;
}

// One URL with its credentials hidden.
std::string redact_one(std::string_view url) {
    const std::size_t scheme_end = url.find("://");
    const std::size_t auth_begin = scheme_end + 3;
    std::size_t auth_end = url.find_first_of("/?#", auth_begin);
    if (auth_end == std::string_view::npos) auth_end = url.size();
    std::string out(url.substr(0, auth_begin));
    const std::string_view authority = url.substr(auth_begin, auth_end - auth_begin);
    const std::size_t at = authority.rfind('@');
    out += at == std::string_view::npos ? std::string(authority) : "***@" + std::string(authority.substr(at + 1));
    std::string_view rest = url.substr(auth_end);
    const std::size_t q = rest.find('?');
    if (q == std::string_view::npos) return out + std::string(rest);
    out += rest.substr(0, q + 1);
    rest.remove_prefix(q + 1);
    const std::size_t hash = rest.find('#');
    const std::string_view fragment = hash == std::string_view::npos ? "" : rest.substr(hash);
    std::string_view query = rest.substr(0, hash == std::string_view::npos ? rest.size() : hash);
    while (true) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        if (eq != std::string_view::npos && secret_name(pair.substr(0, eq)))
            out += std::string(pair.substr(0, eq + 1)) + "***";
        else
            out += pair;
        if (amp == std::string_view::npos) break;
        out += '&';
        query.remove_prefix(amp + 1);
    }
    return out + std::string(fragment);
}

}  // namespace

std::string redact_urls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t sep = text.find("://", i);
        if (sep == std::string_view::npos) break;
        std::size_t begin = sep;
        while (begin > i && std::isalpha(static_cast<unsigned char>(text[begin - 1]))) --begin;
        const std::string scheme = lower(text.substr(begin, sep - begin));
        std::size_t end = sep + 3;
        while (end < text.size() && !ends_url(text[end])) ++end;
        out.append(text.substr(i, begin - i));
        if (scheme == "http" || scheme == "https")
            out += redact_one(text.substr(begin, end - begin));
        else
            out.append(text.substr(begin, end - begin));
        i = end;
    }
    out.append(text.substr(i));
    return out;
}

}  // namespace genloom::core
