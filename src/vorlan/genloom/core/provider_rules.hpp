// Plain rules of the provider layer: which OpenAI API or Gemini client a setting names,
// whether a base URL is OpenAI's own service, and the advice texts of timeouts, refused
// requests and missing endpoints. Which failures are retried is core/retry_policy's.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace genloom::core {

enum class OpenAIApi { Responses, Chat };

// "responses" or "chat" (surrounding white space and letter case ignored); nullopt otherwise.
std::optional<OpenAIApi> parse_openai_api(std::string_view name);

enum class GeminiClient { GenerativeAI, GenAI };

// "generativeai" or "genai" (surrounding white space and letter case ignored); nullopt otherwise.
std::optional<GeminiClient> parse_gemini_client(std::string_view name);

// What the user of a service should know about a failed request with this status, or "".
struct ServiceNames {
    std::string_view key_var;   // the environment variable of the key, e.g. ANTHROPIC_API_KEY
    std::string_view provider;  // the --provider name, e.g. anthropic
};
std::string status_advice(int status, const ServiceNames& service, std::string_view model);

// True when the URL's host is api.openai.com or another host under openai.com.
bool is_openai_host(std::string_view base_url);

// Seconds as a short decimal: 300, 1.5, 0.25.
std::string format_seconds(double seconds);

// "no reply within 300 s; raise genloom.REQUEST_TIMEOUT or use --timeout"; with several
// attempts, also the bound they put on the whole call. Without a limit of ours, only how
// to set one.
std::string timeout_advice(std::optional<double> seconds, int attempts = 1);

// The hint added when the Responses endpoint of a server other than OpenAI's is missing.
std::string responses_404_advice(std::string_view base_url);

// The first max_chars code points of UTF-8 text, with control characters escaped so
// the excerpt stays on one line; a longer text ends in "... (N characters in all)".
std::string capped_excerpt(std::string_view text, std::size_t max_chars);

}  // namespace genloom::core
