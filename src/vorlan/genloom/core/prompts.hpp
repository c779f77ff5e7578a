// The prompt templates sent to the language model (no Python here).
// Each builder concatenates fixed texts and its arguments unchanged.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace genloom::prompts {

// One worked example shown to the model; the three paths may be empty.
struct FewShotExample {
    std::string description, model, data;
    std::string desc_path, model_path, data_path;
};

using Examples = std::vector<FewShotExample>;

// The <few_shot_examples> section; empty text for no examples.
std::string few_shot_section(const Examples& examples);

std::string generation(std::string_view prompt, std::string_view grammar, const Examples& few_shots);
std::string alignment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                      std::string_view data_code);
// The alignment prompt with a <solution> section (the solver's summary, ending in a line break)
// after the data.
std::string alignment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                      std::string_view data_code, std::string_view solution_summary);

// The pair a solve revision started from.
struct PreviousPair {
    std::string_view model, data;
};
// The alignment prompt with either or both of the <solution> section and the <previous_attempt>
// of a revision; with a previous pair the reviewer also lists the stated values the revision no
// longer uses as stated ("deviations" in the reply). Both null: the plain alignment prompt.
std::string alignment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                      std::string_view data_code, const std::string_view* solution_summary,
                      const PreviousPair* previous);
std::string revision_alignment(std::string_view prompt, std::string_view grammar,
                               std::string_view assessment_text, std::string_view model_code,
                               std::string_view data_code, const Examples& few_shots);
// syntax_errors_text is the list text form of the error list.
std::string revision_syntax(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                            std::string_view data_code, std::string_view syntax_errors_text,
                            const Examples& few_shots);
// A pair that compiles but is infeasible or unbounded; findings (ending in a line break) say
// what the solver found.
std::string revision_solve(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                           std::string_view data_code, std::string_view findings, const Examples& few_shots);
// Code points of an unusable reply quoted in a repair prompt.
constexpr std::size_t kRepairExcerpt = 400;
// The prompt `asked` again, with a section quoting the start of the reply it could not use and
// why (`error`), asking for the JSON object alone.
std::string reply_repair(std::string_view asked, std::string_view reply, std::string_view error);
// has_errors false leaves the errors section out (syntax_errors_text is then unused).
std::string final_assessment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                             std::string_view data_code, bool has_errors, std::string_view syntax_errors_text);
std::string feedback(std::string_view user_prompt_text, std::string_view grammar, std::string_view model_code,
                     std::string_view data_code);

// Convenience overloads taking the error list itself.
std::string revision_syntax(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                            std::string_view data_code, const std::vector<std::string>& syntax_errors,
                            const Examples& few_shots);
std::string final_assessment(std::string_view prompt, std::string_view grammar, std::string_view model_code,
                             std::string_view data_code, const std::vector<std::string>& syntax_errors);

}  // namespace genloom::prompts
