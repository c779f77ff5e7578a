#include "genloom/core/reply_schemas.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "genloom/core/constrained.hpp"
#include "genloom/core/prompts.hpp"

using namespace genloom;
using replies::Contract;
using replies::Dialect;
using nlohmann::json;

namespace {
// The schema a prompt shows between <json_schema> and </json_schema>.
json shown_schema(const std::string& prompt) {
    const std::string open = "<json_schema>\n";
    auto a = prompt.find(open), b = prompt.find("</json_schema>");
    EXPECT_NE(a, std::string::npos);
    return json::parse(prompt.substr(a + open.size(), b - a - open.size()));
}
}  // namespace

TEST(ReplySchemas, PlainFormIsWhatThePromptsShow) {
    EXPECT_EQ(json::parse(replies::reply_schema(Contract::Pair)), shown_schema(prompts::generation("p", "g", {})));
    EXPECT_EQ(json::parse(replies::reply_schema(Contract::Alignment)), shown_schema(prompts::alignment("p", "g", "m", "d")));
    EXPECT_EQ(json::parse(replies::reply_schema(Contract::Feedback)), shown_schema(prompts::feedback("q", "g", "m", "d")));
    EXPECT_EQ(json::parse(replies::reply_schema(Contract::SolveRevision)),
              shown_schema(prompts::revision_solve("p", "g", "m", "d", "f\n", {})));
    const prompts::PreviousPair previous{"m0", "d0"};
    EXPECT_EQ(json::parse(replies::reply_schema(Contract::AlignmentDeviations)),
              shown_schema(prompts::alignment("p", "g", "m", "d", nullptr, &previous)));
}

TEST(ReplySchemas, EachDialectKeepsItsProvidersRules) {
    for (Contract c : {Contract::Pair, Contract::Alignment, Contract::SolveRevision, Contract::Feedback,
                       Contract::AlignmentDeviations}) {
        SCOPED_TRACE(std::string(replies::contract_name(c)));
        EXPECT_EQ(replies::contract_named(replies::contract_name(c)), c);
        const json plain = json::parse(replies::reply_schema(c));
        const auto strict = nlohmann::ordered_json::parse(replies::reply_schema(c, Dialect::OpenAIStrict));
        const json gemini = json::parse(replies::reply_schema(c, Dialect::Gemini));
        // Strict mode: a root object, no extra keys, every key required (optional ones nullable).
        EXPECT_EQ(strict["type"], "object");
        EXPECT_EQ(strict["additionalProperties"], false);
        nlohmann::ordered_json keys = nlohmann::ordered_json::array();
        for (const auto& [k, v] : strict["properties"].items()) keys.push_back(k);
        EXPECT_EQ(strict["required"], keys);
        // The Gemini layer knows neither anyOf nor additionalProperties.
        EXPECT_FALSE(gemini.contains("anyOf") || gemini.contains("additionalProperties"));
        EXPECT_EQ(gemini["properties"].size(), strict["properties"].size());
        // Alternatives stay alternatives where the schema language has them.
        EXPECT_EQ(plain.contains("anyOf"), c == Contract::SolveRevision);
    }
    const json solve = json::parse(replies::reply_schema(Contract::SolveRevision, Dialect::OpenAIStrict));
    EXPECT_EQ(solve["properties"]["infeasible_as_described"]["type"], json({"boolean", "null"}));
    EXPECT_EQ(solve["properties"]["unbounded_as_described"]["type"], json({"boolean", "null"}));
    EXPECT_EQ(json::parse(replies::reply_schema(Contract::Pair, Dialect::OpenAIStrict))["properties"]["model"]["type"],
              "string");
}

TEST(ReplySchemas, StrictNullsAreDroppedOnlyWhereTheContractLeavesKeysOut) {
    EXPECT_EQ(replies::without_strict_nulls(
                  Contract::SolveRevision,
                  R"({"model":null,"data":null,"infeasible_as_described":true,"explanation":"x","unbounded_as_described":null})"),
              R"({"infeasible_as_described":true,"explanation":"x"})");
    for (const char* kept : {R"({"model":null,"data":"d"})", "not json", R"(["feedback",null])", "```json\n{}\n```"})
        EXPECT_EQ(replies::without_strict_nulls(Contract::Pair, kept), kept);
    EXPECT_TRUE(replies::names_reply_format("Invalid parameter: 'response_format' of type 'json_schema'"));
    EXPECT_FALSE(replies::names_reply_format("Rate limit reached for requests"));
}

TEST(Constrained, PromptsSwapTheReplyRequirementsForOneFile) {
    const std::string full = prompts::generation("Make tables.", "g", {});
    const std::string model = constrained::model_prompt(full), data = constrained::data_prompt(full, "dvar float x;");
    for (const std::string& p : {model, data}) {
        EXPECT_EQ(p.find("<json_schema>"), std::string::npos);
        EXPECT_EQ(p.substr(0, full.find("<output_requirements>")), full.substr(0, full.find("<output_requirements>")));
    }
    EXPECT_NE(model.find("model file (.mod)"), std::string::npos);
    EXPECT_NE(data.find("<model_to_complete>\ndvar float x;\n</model_to_complete>"), std::string::npos);
    EXPECT_EQ(constrained::field_path("structured_outputs.grammar"),
              (std::vector<std::string>{"structured_outputs", "grammar"}));
    EXPECT_TRUE(constrained::field_path("a..b").empty());
    EXPECT_EQ(constrained::field_for_owner("vllm"), "structured_outputs.grammar");
    EXPECT_EQ(constrained::field_for_owner("llamacpp"), "grammar");
}
