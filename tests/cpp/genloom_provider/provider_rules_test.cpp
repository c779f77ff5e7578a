#include <gtest/gtest.h>

#include <string>

#include "genloom/core/provider_rules.hpp"

using namespace genloom::core;

TEST(ProviderRules, OpenAIApiNames) {
    EXPECT_EQ(parse_openai_api("responses"), OpenAIApi::Responses);
    EXPECT_EQ(parse_openai_api(" Chat\n"), OpenAIApi::Chat);
    EXPECT_EQ(parse_openai_api("\xE3\x80\x80" "CHAT"), OpenAIApi::Chat);  // ideographic space
    for (const char* bad : {"", "chat completions", "response", "chats", "c hat"})
        EXPECT_FALSE(parse_openai_api(bad).has_value()) << bad;
}

TEST(ProviderRules, OpenAIHostIsRecognisedByHostOnly) {
    for (const char* own : {"https://api.openai.com/v1/", "https://API.OpenAI.com", "https://eu.api.openai.com:443/v1",
                            "https://user:pw@api.openai.com/v1", "api.openai.com/v1"})
        EXPECT_TRUE(is_openai_host(own)) << own;
    for (const char* other : {"http://127.0.0.1:8080/v1/", "http://localhost/v1", "https://notopenai.com/v1",
                              "https://api.openai.com.evil.example/v1", "http://host/v1?u=api.openai.com",
                              "http://openai.com@127.0.0.1/v1", ""})
        EXPECT_FALSE(is_openai_host(other)) << other;
}

TEST(ProviderRules, SecondsAndAdvice) {
    EXPECT_EQ(format_seconds(300), "300");
    EXPECT_EQ(format_seconds(1.5), "1.5");
    EXPECT_EQ(format_seconds(0.25), "0.25");
    EXPECT_EQ(timeout_advice(1.0), "no reply within 1 s; raise genloom.REQUEST_TIMEOUT or use --timeout");
    EXPECT_NE(timeout_advice(std::nullopt).find("REQUEST_TIMEOUT"), std::string::npos);
    EXPECT_NE(responses_404_advice("http://h/v1/").find("the server at http://h/v1/ has no Responses endpoint"),
              std::string::npos);
}

TEST(ProviderRules, CappedExcerptStaysOnOneLineAndCutsWholeCodePoints) {
    EXPECT_EQ(capped_excerpt("a\nb", 10), "a\\nb");
    EXPECT_EQ(capped_excerpt("abcdef", 6), "abcdef");
    EXPECT_EQ(capped_excerpt("abcdef", 3), "abc... (6 characters in all)");
    // three two-byte letters, cut after two of them
    EXPECT_EQ(capped_excerpt("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9... (3 characters in all)");
}

TEST(ProviderRules, GeminiClientNames) {
    EXPECT_EQ(parse_gemini_client(" GenAI\t"), GeminiClient::GenAI);
    EXPECT_EQ(parse_gemini_client("generativeai"), GeminiClient::GenerativeAI);
    for (const char* bad : {"", "google.genai", "google-genai", "generative ai"})
        EXPECT_FALSE(parse_gemini_client(bad).has_value()) << bad;
}

TEST(ProviderRules, RefusalsSayWhy) {
    const ServiceNames anthropic{"ANTHROPIC_API_KEY", "anthropic"};
    EXPECT_EQ(status_advice(401, anthropic, "m"), "the service refused the key; check ANTHROPIC_API_KEY");
    EXPECT_EQ(status_advice(404, anthropic, "claude-x\n"),
              "no model named 'claude-x\\n'; `vorlan models --provider anthropic` lists the models the key can use");
    EXPECT_NE(status_advice(529, anthropic, "m").find("overloaded"), std::string::npos);
    EXPECT_EQ(status_advice(400, anthropic, "m"), "");
}
