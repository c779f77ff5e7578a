// When a failed provider request is tried again, and how long to wait first: one policy for
// every provider.
#pragma once
#include <optional>
#include <string_view>

namespace genloom::core {

// Attempts of a provider request that keeps failing for a reason worth another try, and
// the first back-off in seconds (doubled after each further failure).
inline constexpr int kAttempts = 3;
inline constexpr double kBackoffSeconds = 1.5;

// Statuses that say "try again later": 408, 409, 425, 429 and 5xx except 501 and 505.
bool is_transient_status(long status);

// Seconds a Retry-After value asks for: delay-seconds ("120", also a decimal "1.5") or an
// HTTP date, taken relative to `now_unix` (seconds since 1970). A date in the past is 0;
// an unreadable value is nullopt.
std::optional<double> parse_retry_after(std::string_view value, double now_unix);

// Seconds to wait before attempt `attempt` + 2 (attempt 0 failed): the server's Retry-After
// when it gave one, else backoff * 2^attempt; never more than `cap` (the request deadline,
// nullopt: no cap) and never negative.
double retry_delay(int attempt, double backoff, std::optional<double> retry_after, std::optional<double> cap);

}  // namespace genloom::core
