// JSON schemas of the replies the prompts ask for, one per reply contract, and the forms in
// which each provider family takes them. The plain form is the one the prompts show; the other
// forms are derived from it, so a contract is written down once.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace genloom::replies {

enum class Contract {
    Pair,           // {"model", "data"}: generation and the syntax and alignment revisions
    Alignment,      // {"aligned", "assessment"}
    SolveRevision,  // a revised pair, or {"infeasible_as_described"|"unbounded_as_described", "explanation"}
    Feedback,       // {"feedback"} with optional "revised_model" and "revised_data"
    AlignmentDeviations,  // {"aligned", "assessment", "deviations"}: the review of a solve revision
};

enum class Dialect {
    JsonSchema,    // as the prompts show; a contract with alternatives is a root anyOf
    Object,        // one root object: alternatives merged, keys not in every alternative optional
    OpenAIStrict,  // Object with every key required, optional ones nullable (strict mode's rules)
    Gemini,        // Object without additionalProperties (the Gemini layer's schema subset)
};

// "pair", "alignment", "solve_revision", "feedback", "alignment_deviations"; nullopt for any other name.
std::optional<Contract> contract_named(std::string_view name);
std::string_view contract_name(Contract c);
// "json_schema", "object", "openai_strict", "gemini"; nullopt for any other name.
std::optional<Dialect> dialect_named(std::string_view name);

// The schema of a contract in a dialect, as compact JSON text.
std::string reply_schema(Contract c, Dialect d = Dialect::JsonSchema);

// A reply written under the OpenAIStrict form carries null for the keys it leaves out; these
// are dropped again so the reply has the contract's own shape. Any other text is returned as is.
std::string without_strict_nulls(Contract c, std::string_view reply);

// True when a provider's error text is about the reply schema or format parameter, so the
// request can be repeated without it.
bool names_reply_format(std::string_view error_text);

}  // namespace genloom::replies
