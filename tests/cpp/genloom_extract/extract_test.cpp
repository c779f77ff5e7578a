#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/quote.hpp"
#include "genloom/core/json_extract.hpp"

using namespace genloom::core;

namespace {

// What extract_json_from_markdown returns, as text.
std::string extract(const std::string& s) {
    auto sp = extract_json_span(s);
    return sp ? s.substr(sp->begin, sp->end - sp->begin) : s;
}

struct ExtractCase {
    const char* name;
    std::string in;
    std::string out;
};

class ExtractTable : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractTable, Matches) { EXPECT_EQ(extract(GetParam().in), GetParam().out) << GetParam().name; }

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractTable,
    ::testing::Values(
        ExtractCase{"tagged fence", "say\n```json\n{\"a\": 1}\n```\nbye", "{\"a\": 1}"},
        ExtractCase{"bare fence", "```\n{\"a\": 1}```", "{\"a\": 1}"},
        ExtractCase{"capital tag falls to brace scan", "```JSON\n{\"a\": {}}\n``` x }", "{\"a\": {}}"},
        ExtractCase{"two fenced blocks make one span", "```json\n{\"a\":1}\n```\nand\n```json\n{\"b\":2}\n```",
                    "{\"a\":1}\n```\nand\n```json\n{\"b\":2}"},
        ExtractCase{"prose around object", "here {\"a\": {\"b\": 2}} there", "{\"a\": {\"b\": 2}}"},
        ExtractCase{"brace in string cuts early", "x {\"a\": \"}\"} y", "{\"a\": \"}"},
        ExtractCase{"unclosed brace returns whole", "x { y", "x { y"},
        ExtractCase{"no brace", "plain text", "plain text"},
        ExtractCase{"empty", "", ""},
        ExtractCase{"fence tag then no brace uses scan", "```json x {} ```", "{}"},
        ExtractCase{"unicode space before brace", "```json\u3000{\"a\":1}\u00a0```", "{\"a\":1}"},
        ExtractCase{"close needs to follow open", "}```{ ```x", "}```{ ```x"},
        ExtractCase{"four backquotes", "````{}```", "{}"},
        ExtractCase{"jsonjson tag is not a match", "```jsonjson{} ```", "{}"},
        ExtractCase{"later fence when first cannot open", "```x``` ```{\"k\":0}```", "{\"k\":0}"}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (auto& c : n)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    });

TEST(Extract, LongInputsRunWithoutRecursion) {
    std::string prose(10'000'000, 'a');
    std::string s = prose + "```json\n{\"k\": 1}\n```";
    EXPECT_EQ(extract(s), "{\"k\": 1}");
    std::string opens(100'000, '{');
    EXPECT_EQ(extract(opens), opens);
    std::string fences;
    for (int i = 0; i < 100'000; ++i) fences += "``` {";
    EXPECT_EQ(extract(fences), fences);
}

// Records parse events as a flat token string.
class Recorder : public JsonSink {
public:
    std::string out;
    bool null_value() override { out += "N "; return true; }
    bool boolean(bool v) override { out += v ? "T " : "F "; return true; }
    bool integer(int64_t v) override { out += "i" + std::to_string(v) + " "; return true; }
    bool unsigned_integer(uint64_t v) override { out += "u" + std::to_string(v) + " "; return true; }
    bool big_integer(std::string_view d) override { out += "B" + std::string(d) + " "; return true; }
    bool floating(double v) override { out += "f" + std::to_string(v) + " "; return true; }
    bool string(std::string_view s) override { out += "s" + std::string(s) + " "; return true; }
    bool start_object() override { out += "{ "; return true; }
    bool key(std::string_view k) override { out += "k" + std::string(k) + " "; return true; }
    bool end_object() override { out += "} "; return true; }
    bool start_array() override { out += "[ "; return true; }
    bool end_array() override { out += "] "; return true; }
};

TEST(Json, EventsAndNumberKinds) {
    Recorder r;
    ASSERT_FALSE(parse_json_strict(" {\"a\": [1, -2, 18446744073709551615, 123456789012345678901234, 1.5, "
                                   "-1e2, true, null, \"\\u00e9\"]}\n",
                                   r));
    EXPECT_EQ(r.out, "{ ka [ u1 i-2 u18446744073709551615 B123456789012345678901234 f1.500000 "
                     "f-100.000000 T N s\xc3\xa9 ] } ");
}

TEST(Json, StrictRejections) {
    for (std::string bad : {"", "{\"a\":1,}", "{'a':1}", "NaN", "{\"a\":1} x", "// c\n{}", "[1e400]",
                            "\xef\xbb\xbf{}", "{\"a\":\"\xff\"}", "01"}) {
        Recorder r;
        auto err = parse_json_strict(bad, r);
        ASSERT_TRUE(err.has_value()) << bad;
        EXPECT_FALSE(err->message.empty()) << bad;
        EXPECT_EQ(err->message.find("[json.exception"), std::string::npos) << err->message;
    }
}

TEST(Json, DepthCap) {
    Recorder r;
    std::string deep(kMaxJsonDepth + 1, '[');
    auto err = parse_json_strict(deep, r);
    ASSERT_TRUE(err);
    EXPECT_NE(err->message.find("nesting"), std::string::npos);
    EXPECT_EQ(err->byte_pos, kMaxJsonDepth + 1);
    std::string ok = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    Recorder r2;
    EXPECT_FALSE(parse_json_strict(ok, r2));
}

TEST(Json, CodePointIndex) {
    EXPECT_EQ(code_point_index("a\xc3\xa9" "b", 3), 2u);
    EXPECT_EQ(code_point_index("abc", 99), 3u);
}

struct ParamCase {
    std::string msg;
    std::optional<std::string> unsupported;
    std::optional<std::string> not_supported;
};

TEST(ErrorText, ParameterRules) {
    std::vector<ParamCase> cases = {
        {"Unsupported parameter: 'temperature' is not supported with this model.", "temperature", std::nullopt},
        {"UNSUPPORTED PARAMETER:\n 'Top_P'", "Top_P", std::nullopt},
        {"unsupported parameter: ''  then unsupported parameter: 'x'", "x", std::nullopt},
        {"The parameter 'max_output_tokens' is not supported", std::nullopt, "max_output_tokens"},
        {"parameter'a'is not supported", std::nullopt, "a"},
        {"parameter 'a' is  not supported", std::nullopt, std::nullopt},
        {"Unsupported parameter: 'stop'. Parameter 'stop' IS NOT SUPPORTED", "stop", "stop"},
        {"un\xc5\xbfupported parameter: 'k'", "k", std::nullopt},  // long s matches s ignoring case
        {"unsupported parameter: 'open", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        auto a = match_unsupported_parameter(c.msg);
        auto b = match_parameter_not_supported(c.msg);
        EXPECT_EQ(a ? std::optional<std::string>(std::string(*a)) : std::nullopt, c.unsupported) << c.msg;
        EXPECT_EQ(b ? std::optional<std::string>(std::string(*b)) : std::nullopt, c.not_supported) << c.msg;
    }
}

TEST(Quote, HostReprForms) {
    using vorlan::text::list_text;
    using vorlan::text::quote_text;
    EXPECT_EQ(list_text({}), "[]");
    EXPECT_EQ(list_text({"a", "b"}), "['a', 'b']");
    EXPECT_EQ(quote_text("it's"), "\"it's\"");
    EXPECT_EQ(quote_text("it's \"x\""), "'it\\'s \"x\"'");
    EXPECT_EQ(quote_text("a\\b\tc\nd\re"), "'a\\\\b\\tc\\nd\\re'");
    EXPECT_EQ(quote_text("\x01\x7f"), "'\\x01\\x7f'");
    EXPECT_EQ(quote_text("\xc2\xa0\xc3\xa9"), "'\\xa0\xc3\xa9'");          // NBSP escaped, e-acute kept
    EXPECT_EQ(quote_text("\xe2\x80\xa8\xe2\x80\x8b"), "'\\u2028\\u200b'");  // separators, format chars
    EXPECT_EQ(quote_text("\xf3\xa0\x80\x81"), "'\\U000e0001'");             // tag character
    EXPECT_EQ(quote_text("\xed\xa0\x80"), "'\\ud800'");                     // lone surrogate
    EXPECT_EQ(quote_text("\xf0\x9f\x98\x80"), "'\xf0\x9f\x98\x80'");        // emoji is printable
}

}  // namespace

namespace {
TEST(ErrorText, LongUnterminatedTextsStayFast) {
    std::string msg;
    for (int i = 0; i < 200'000; ++i) msg += "unsupported parameter: 'parameter '";
    msg.pop_back();
    EXPECT_EQ(match_unsupported_parameter(msg).value(), "parameter ");
    std::string open;
    for (int i = 0; i < 200'000; ++i) open += "Unsupported parameter: ' parameter '";
    open += "unsupported parameter: 'x";
    EXPECT_EQ(match_unsupported_parameter(open).value(), " parameter ");
    std::string none(1'000'000, 'p');
    for (int i = 0; i < 100'000; ++i) none += "parameter 'a";
    EXPECT_FALSE(match_parameter_not_supported(none));
    EXPECT_FALSE(match_unsupported_parameter(none));
}
}  // namespace

namespace {

std::string stripped(const std::string& s) {
    auto span = genloom::core::strip_reasoning(s);
    return s.substr(span.begin, span.end - span.begin);
}

TEST(Reasoning, BlocksAreRemovedBeforeExtraction) {
    const std::string json = "{\"model\": \"m\"}";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {json, json},
        {"<think>a {brace}</think>\n" + json, "\n" + json},
        {"  <THINKING>x</Thinking><reasoning>y</reasoning>" + json, json},
        {"<think>cut off in the middle {", ""},              // closing tag missing: nothing is left
        {"the server dropped the opening tag</think>" + json, json},
        {json + " <think>kept: not at the start</think>", json + " <think>kept: not at the start</think>"},
        {"{\"a\": \"</think>\"}", "{\"a\": \"</think>\"}"},  // a closing tag inside the object stays
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(stripped(in), out) << in;
}

}  // namespace
