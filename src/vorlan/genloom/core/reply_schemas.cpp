#include "genloom/core/reply_schemas.hpp"

#include "genloom/core/reply_contracts.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <nlohmann/json.hpp>

namespace genloom::replies {

namespace {

using nlohmann::ordered_json;

// The prompt text of a contract: its output requirements, schema and examples.
std::string_view contract_text(Contract c) {
    switch (c) {
        case Contract::Pair: return prompts::kModelDataReply;
        case Contract::Alignment: return prompts::kAlignmentReply;
        case Contract::SolveRevision: return prompts::kSolveRevisionReply;
        case Contract::Feedback: return prompts::kFeedbackReply;
        case Contract::AlignmentDeviations: return prompts::kAlignmentDeviationsReply;
    }
    return {};
}

// The plain schema of a contract: the <json_schema> block its prompt text shows, read from
// that text so the prompt and the schema sent to a provider cannot drift apart.
ordered_json plain(Contract c) {
    constexpr std::string_view open = "<json_schema>\n", close = "</json_schema>";
    const std::string_view text = contract_text(c);
    const std::size_t from = text.find(open) + open.size();
    return ordered_json::parse(text.substr(from, text.find(close, from) - from));
}

bool listed(const ordered_json& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// One root object: the alternatives' properties in order of first appearance, required only
// where every alternative requires them.
ordered_json merged(const ordered_json& schema) {
    if (!schema.contains("anyOf")) return schema;
    const ordered_json& alternatives = schema["anyOf"];
    ordered_json props = ordered_json::object(), required = ordered_json::array();
    for (const auto& alt : alternatives)
        for (const auto& [name, sub] : alt["properties"].items())
            if (!props.contains(name)) props[name] = sub;
    for (const auto& [name, sub] : props.items()) {
        bool everywhere = std::all_of(alternatives.begin(), alternatives.end(),
                                      [&](const ordered_json& alt) { return listed(alt["required"], name); });
        if (everywhere) required.push_back(name);
    }
    return {{"type", "object"}, {"additionalProperties", false}, {"required", required}, {"properties", props}};
}

ordered_json strict(ordered_json schema) {
    ordered_json all = ordered_json::array();
    for (auto& [name, sub] : schema["properties"].items()) {
        if (!listed(schema["required"], name)) sub["type"] = {sub["type"], "null"};
        all.push_back(name);
    }
    schema["required"] = all;
    return schema;
}

ordered_json in_dialect(Contract c, Dialect d) {
    ordered_json schema = plain(c);
    if (d == Dialect::JsonSchema) return schema;
    schema = merged(schema);
    if (d == Dialect::OpenAIStrict) return strict(schema);
    if (d == Dialect::Gemini) schema.erase("additionalProperties");
    return schema;
}

constexpr std::pair<Contract, std::string_view> kContracts[] = {
    {Contract::Pair, "pair"},
    {Contract::Alignment, "alignment"},
    {Contract::SolveRevision, "solve_revision"},
    {Contract::Feedback, "feedback"},
    {Contract::AlignmentDeviations, "alignment_deviations"},
};

constexpr std::pair<Dialect, std::string_view> kDialects[] = {
    {Dialect::JsonSchema, "json_schema"},
    {Dialect::Object, "object"},
    {Dialect::OpenAIStrict, "openai_strict"},
    {Dialect::Gemini, "gemini"},
};

}  // namespace

std::optional<Contract> contract_named(std::string_view name) {
    for (auto [c, n] : kContracts)
        if (n == name) return c;
    return std::nullopt;
}

std::string_view contract_name(Contract c) {
    for (auto [k, n] : kContracts)
        if (k == c) return n;
    return {};
}

std::optional<Dialect> dialect_named(std::string_view name) {
    for (auto [d, n] : kDialects)
        if (n == name) return d;
    return std::nullopt;
}

std::string reply_schema(Contract c, Dialect d) { return in_dialect(c, d).dump(); }

std::string without_strict_nulls(Contract c, std::string_view reply) {
    ordered_json value = ordered_json::parse(reply.begin(), reply.end(), nullptr, false);
    if (!value.is_object()) return std::string(reply);
    const ordered_json shape = merged(plain(c));
    bool dropped = false;
    for (const auto& [name, sub] : shape["properties"].items()) {
        auto it = value.find(name);
        if (it != value.end() && it->is_null() && !listed(shape["required"], name)) {
            value.erase(it);
            dropped = true;
        }
    }
    if (!dropped) return std::string(reply);
    try {
        return value.dump();
    } catch (const nlohmann::json::exception&) {  // text that is not valid UTF-8: leave it
        return std::string(reply);
    }
}

bool names_reply_format(std::string_view error_text) {
    std::string low(error_text);
    std::transform(low.begin(), low.end(), low.begin(), [](unsigned char ch) { return std::tolower(ch); });
    for (std::string_view marker : {"schema", "format", "mime"})
        if (low.find(marker) != std::string::npos) return true;
    return false;
}

}  // namespace genloom::replies
