// The generate-and-repair loop as a state machine over a small table of steps.
//
// The loop decides what happens next (prompt, compile, solve, review, revise, stop) and what
// is reported; the steps do the work and own the values. Texts and error lists are opaque to
// the loop (`Text`, `Errors`): the host binding passes its own objects through unchanged, and
// the tests script the steps with plain strings.
#pragma once
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

#include "genloom/core/verification.hpp"

namespace genloom::loop {

// Which of the three LLM calls is made; each has its own temperature.
enum class Call { Generation, Alignment, FinalAssessment };

template <class Text>
struct Pair {
    Text model, data;
};

template <class Text>
struct Verdict {
    bool aligned = false;
    Text assessment;  // stripped at both ends
};

template <class Errors>
struct Compiled {
    Errors errors;          // a fresh list for every compile
    std::size_t count = 0;  // its length; 0 when the pair compiled
};

struct Settings {
    long long iterations = 1;          // loop bound, at least 1
    std::string iterations_text;       // the bound as reported ("Iteration 2/5")
    std::string provider, model_name;  // for the opening message
    bool alignment = true;
    bool few_shot = true;
    bool verify = false;               // solve every pair that compiles
    double time_limit = 60;            // seconds per solve
    std::string model_path, data_path;  // as the caller gave them, for the file message
};

// The loop's own failures ("Empty model response."); the host raises them as RuntimeError.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

template <class Text, class Errors>
class Steps {
public:
    virtual ~Steps() = default;

    virtual void report(const std::string& msg) = 0;  // progress message
    virtual void debug(const std::string& msg) = 0;   // debug log line
    virtual std::string text_of(const Text& t) = 0;   // UTF-8 of a text, for a log line
    virtual Text empty_text() = 0;

    virtual void gather_examples(bool few_shot) = 0;  // few-shot examples for the prompts below
    virtual Text generation_prompt() = 0;
    virtual Text syntax_revision_prompt(const Pair<Text>& p, const Errors& errors) = 0;
    // solution_summary is null unless the pair was solved and a solution is known.
    virtual Text alignment_prompt(const Pair<Text>& p, const std::string* solution_summary) = 0;
    virtual Text alignment_revision_prompt(const Text& assessment, const Pair<Text>& p) = 0;
    virtual Text solve_revision_prompt(const Pair<Text>& p, const std::string& findings) = 0;
    virtual Text final_assessment_prompt(const Pair<Text>& p, const Errors& errors) = 0;
    virtual Errors errors_of(const std::string& finding) = 0;  // a one-entry error list

    virtual Text generate(Call call, const Text& prompt) = 0;
    virtual bool empty(const Text& reply) = 0;
    // Parses a generation reply and reports "LLM response parsed (model + data)" as part of it;
    // raises its own failure for a reply that is not a model and data pair.
    virtual Pair<Text> parse_pair(const Text& reply) = 0;
    // Parses an alignment reply; raises its own failure for an invalid verdict.
    virtual Verdict<Text> parse_verdict(const Text& reply) = 0;
    // Compiles with a fresh compiler, reporting "Compiling model and data" inside the guarded
    // compile; compile errors are entries of the result, not failures.
    virtual Compiled<Errors> compile(const Pair<Text>& p) = 0;
    virtual void write_pair(const Pair<Text>& p) = 0;
    virtual Pair<Text> read_pair() = 0;
    // Solves the pair compiled last; infeasible and unbounded pairs come with their analysis.
    virtual verification::Report solve(double time_limit) = 0;
};

template <class Text, class Errors>
struct Outcome {
    long long iterations = 0;  // iterations run (1 to Settings::iterations)
    Text assessment;           // last verdict's assessment or the final assessment, unstripped
    Errors syntax_errors;      // compile errors of the last pair
    std::optional<verification::Report> solve;  // the last pair's solve (verify on, pair compiled)
};

template <class Text, class Errors>
Outcome<Text, Errors> run(Steps<Text, Errors>& s, const Settings& cfg) {
    namespace v = verification;
    std::string opening = "Generating with provider=" + cfg.provider + " model=" + cfg.model_name +
                          " iterations=" + cfg.iterations_text + " alignment=" + (cfg.alignment ? "on" : "off");
    if (cfg.verify) opening += " verify=on";
    s.report(opening);
    s.gather_examples(cfg.few_shot);
    Text user_prompt = s.generation_prompt();

    Outcome<Text, Errors> out;
    out.assessment = s.empty_text();
    enum class Last { NotCompiled, FailedVerification, Accepted } last = Last::NotCompiled;
    std::string last_findings;
    long long it = 0;
    for (; it < cfg.iterations; ++it) {
        const std::string counter = "Iteration " + std::to_string(it + 1) + "/" + cfg.iterations_text;
        s.debug(counter);
        s.report(counter + ": prompting model");
        Text content = s.generate(Call::Generation, user_prompt);
        if (s.empty(content)) throw Failure("Empty model response.");
        Pair<Text> pair = s.parse_pair(content);

        Compiled<Errors> compiled = s.compile(pair);
        out.syntax_errors = compiled.errors;
        out.solve.reset();
        s.write_pair(pair);
        s.report("Wrote files: " + cfg.model_path + " \u2022 " + cfg.data_path);

        if (compiled.count > 0) {
            last = Last::NotCompiled;
            s.report("Syntax/semantic errors found: " + std::to_string(compiled.count) + "; revising...");
            s.debug("Model or data has syntax errors; revising...");
            user_prompt = s.syntax_revision_prompt(pair, compiled.errors);
            continue;
        }
        last = Last::Accepted;

        std::optional<std::string> summary;
        if (cfg.verify) {
            s.report("Solving...");
            v::Report r = s.solve(cfg.time_limit);
            s.report(v::outcome_message(r, cfg.time_limit));
            out.solve = r;
            if (v::needs_revision(r.status)) {
                last = Last::FailedVerification;
                last_findings = v::findings(r);
                s.debug("Model and data compile but the solver found them " + std::string(v::status_name(r.status)) +
                        "; revising...");
                user_prompt = s.solve_revision_prompt(pair, last_findings);
                continue;
            }
            if (r.objective || !r.values.empty() || r.status == v::Status::Optimal ||
                r.status == v::Status::Feasible)
                summary = v::solution_summary(r);
        }

        if (!cfg.alignment) {
            s.report("Syntax OK; alignment check disabled. Stopping.");
            break;
        }
        s.debug("Checking alignment with original prompt...");
        s.report("Checking alignment with original prompt...");
        Text alignment_prompt = s.alignment_prompt(pair, summary ? &*summary : nullptr);
        Text alignment_content = s.generate(Call::Alignment, alignment_prompt);
        if (s.empty(alignment_content)) throw Failure("Empty alignment response.");
        Verdict<Text> verdict = s.parse_verdict(alignment_content);
        out.assessment = verdict.assessment;
        if (verdict.aligned) {
            s.report("Aligned \u2713 Stopping.");
            s.debug("Model and data are syntactically valid and aligned with the prompt.");
            break;
        }
        s.report("Not aligned; revising per assessment");
        s.debug("Model and data are syntactically valid but NOT aligned with the prompt. Assessment: " +
                s.text_of(verdict.assessment));
        user_prompt = s.alignment_revision_prompt(verdict.assessment, pair);
    }
    if (it == cfg.iterations) --it;  // the loop ran out: index of the last iteration
    out.iterations = it + 1;

    // After the loop: the pair as written, then a final assessment where no verdict exists.
    Pair<Text> written = s.read_pair();
    if (last != Last::Accepted || !cfg.alignment) {
        s.debug("Final assessment of model and data alignment...");
        s.report("Requesting final assessment");
        Text prompt = last == Last::FailedVerification
                          ? s.final_assessment_prompt(written, s.errors_of(last_findings))
                          : s.final_assessment_prompt(written, out.syntax_errors);
        Text reply = s.generate(Call::FinalAssessment, prompt);
        out.assessment = s.empty(reply) ? s.empty_text() : reply;
    }
    s.report("Generation complete");
    return out;
}

}  // namespace genloom::loop
