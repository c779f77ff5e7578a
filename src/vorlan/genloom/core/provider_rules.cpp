#include "genloom/core/provider_rules.hpp"
#include "genloom/core/url_redaction.hpp"

#include <cctype>
#include <cstdio>

#include "common/text.hpp"

namespace genloom::core {

namespace {
std::string lower_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}
}  // namespace

std::optional<OpenAIApi> parse_openai_api(std::string_view name) {
    const std::string n = lower_ascii(vorlan::text::strip_unicode_space(name));
    if (n == "responses") return OpenAIApi::Responses;
    if (n == "chat") return OpenAIApi::Chat;
    return std::nullopt;
}

std::optional<GeminiClient> parse_gemini_client(std::string_view name) {
    const std::string n = lower_ascii(vorlan::text::strip_unicode_space(name));
    if (n == "generativeai") return GeminiClient::GenerativeAI;
    if (n == "genai") return GeminiClient::GenAI;
    return std::nullopt;
}

std::string status_advice(int status, const ServiceNames& service, std::string_view model) {
    const std::string key(service.key_var), provider(service.provider);
    switch (status) {
        case 401: return "the service refused the key; check " + key;
        case 403: return "the key in " + key + " may not use this model or service";
        case 404:
            return "no model named '" + capped_excerpt(model, 100) + "'; `vorlan models --provider " + provider +
                   "` lists the models the key can use";
        case 429: return "rate limit reached; wait a while, lower -j, or raise the account's limit";
        case 503:
        case 529: return "the service is overloaded; try again later";
        default: return "";
    }
}

bool is_openai_host(std::string_view base_url) {
    std::string_view rest = base_url;
    if (auto p = rest.find("://"); p != std::string_view::npos) rest.remove_prefix(p + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (auto at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
    if (auto colon = rest.rfind(':'); colon != std::string_view::npos) rest = rest.substr(0, colon);
    const std::string host = lower_ascii(rest);
    return host == "openai.com" || ends_with(host, ".openai.com");
}

std::string format_seconds(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", seconds);
    return buf;
}

std::string timeout_advice(std::optional<double> seconds, int attempts) {
    if (!seconds) return "the client layer stopped waiting; set genloom.REQUEST_TIMEOUT or use --timeout";
    std::string bound;
    if (attempts > 1)
        bound = " in any of " + std::to_string(attempts) + " attempts (each bounded from connect to the last byte, " +
                "so at most about " + std::to_string(attempts) + " x " + format_seconds(*seconds) +
                " s plus back-off in all)";
    return "no reply within " + format_seconds(*seconds) + " s" + bound +
           "; raise genloom.REQUEST_TIMEOUT or use --timeout";
}

std::string responses_404_advice(std::string_view base_url) {
    return "the server at " + redact_urls(base_url) +
           " has no Responses endpoint; if it serves chat completions only, use "
           "--openai-api chat or set genloom.OPENAI_API = \"chat\"";
}

std::string capped_excerpt(std::string_view text, std::size_t max_chars) {
    const std::size_t total = vorlan::text::count_code_points(text);
    if (total <= max_chars) return vorlan::text::escape_controls(text);
    return vorlan::text::escape_controls(vorlan::text::prefix_code_points(text, max_chars)) + "... (" +
           std::to_string(total) + " characters in all)";
}

}  // namespace genloom::core
