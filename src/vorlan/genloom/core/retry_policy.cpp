#include "genloom/core/retry_policy.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>

namespace genloom::core {

bool is_transient_status(long status) {
    if (status == 408 || status == 409 || status == 425 || status == 429) return true;
    return status >= 500 && status <= 599 && status != 501 && status != 505;
}

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long days_from_civil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool read_int(std::string_view& s, int digits, int& out) {
    if (s.size() < static_cast<std::size_t>(digits)) return false;
    out = 0;
    for (int i = 0; i < digits; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        out = out * 10 + (s[i] - '0');
    }
    s.remove_prefix(digits);
    return true;
}

bool expect(std::string_view& s, char c) {
    if (s.empty() || s.front() != c) return false;
    s.remove_prefix(1);
    return true;
}

// "Sun, 06 Nov 1994 08:49:37 GMT" (the date form servers send) as seconds since 1970.
std::optional<double> parse_http_date(std::string_view s) {
    const std::size_t comma = s.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    s = trim(s.substr(comma + 1));
    int day = 0, year = 0, hh = 0, mm = 0, ss = 0;
    if (!read_int(s, 2, day) || !expect(s, ' ') || s.size() < 4) return std::nullopt;
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto it = std::find(kMonths.begin(), kMonths.end(), s.substr(0, 3));
    if (it == kMonths.end()) return std::nullopt;
    s.remove_prefix(3);
    if (!expect(s, ' ') || !read_int(s, 4, year) || !expect(s, ' ') || !read_int(s, 2, hh) || !expect(s, ':') ||
        !read_int(s, 2, mm) || !expect(s, ':') || !read_int(s, 2, ss) || trim(s) != "GMT")
        return std::nullopt;
    if (day < 1 || day > 31 || hh > 23 || mm > 59 || ss > 60) return std::nullopt;
    const unsigned month = static_cast<unsigned>(it - kMonths.begin()) + 1;
    return static_cast<double>(days_from_civil(year, month, static_cast<unsigned>(day))) * 86400.0 + hh * 3600.0 +
           mm * 60.0 + ss;
}

}  // namespace

std::optional<double> parse_retry_after(std::string_view value, double now_unix) {
    value = trim(value);
    if (value.empty()) return std::nullopt;
    bool numeric = true, dot = false;
    for (char c : value) {
        if (c == '.' && !dot) dot = true;
        else if (!std::isdigit(static_cast<unsigned char>(c))) numeric = false;
    }
    if (numeric && value != ".") {
        const double s = std::stod(std::string(value));
        return std::isfinite(s) ? std::optional<double>(s) : std::nullopt;
    }
    if (auto when = parse_http_date(value)) return std::max(0.0, *when - now_unix);
    return std::nullopt;
}

double retry_delay(int attempt, double backoff, std::optional<double> retry_after, std::optional<double> cap) {
    double delay = retry_after ? *retry_after : backoff * std::ldexp(1.0, std::min(attempt, 62));
    if (cap) delay = std::min(delay, *cap);
    return std::isfinite(delay) && delay > 0 ? delay : 0.0;
}

}  // namespace genloom::core
