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
#include <vector>

#include "genloom/core/verification.hpp"

namespace genloom::loop {

// Which of the three LLM calls is made; each has its own temperature.
enum class Call { Generation, Alignment, FinalAssessment };

// What prompted a round of the loop.
enum class Round { Generation, SyntaxRevision, SolveRevision, AlignmentRevision, ReplyRepair };

// "generation", "syntax revision", "solve revision", "alignment revision", "reply repair".
inline const char* round_name(Round r) {
    switch (r) {
        case Round::Generation: return "generation";
        case Round::SyntaxRevision: return "syntax revision";
        case Round::SolveRevision: return "solve revision";
        case Round::AlignmentRevision: return "alignment revision";
        case Round::ReplyRepair: return "reply repair";
    }
    return "generation";
}

template <class Text>
struct Pair {
    Text model, data;
};

template <class Text>
struct Verdict {
    bool aligned = false;
    Text assessment;                      // stripped at both ends
    std::vector<std::string> deviations;  // stated values the revised model no longer uses as stated
};

// The LLM's verdict that the problem as described has no optimum (offered after a solve).
template <class Text>
struct AsDescribed {
    bool unbounded = false;  // unbounded rather than infeasible as described
    Text explanation;
};

// What a generation reply held: a pair, a verdict (only where one was offered), or neither,
// with the reason it cannot be used.
template <class Text>
struct Reply {
    std::optional<Pair<Text>> pair;
    std::optional<AsDescribed<Text>> verdict;
    std::string error;  // set when neither is present
};

template <class Errors>
struct Compiled {
    Errors errors;          // a fresh list for every compile
    std::size_t count = 0;  // its length; 0 when the pair compiled
};

// One round on record: what prompted it and what came of it.
struct RoundRecord {
    Round kind = Round::Generation;
    std::optional<std::size_t> compile_errors;  // absent when no pair came back
    std::optional<verification::Status> status;  // solver status, when the pair was solved
    std::optional<double> objective;
    std::optional<bool> aligned;  // the reviewer's verdict, when there was one
};

struct Settings {
    long long iterations = 1;          // loop bound, at least 1
    std::string iterations_text;       // the bound as reported ("Iteration 2/5")
    std::string provider, model_name;  // for the opening message
    bool alignment = true;
    bool few_shot = true;
    bool verify = false;               // solve every pair that compiles
    bool repair = false;               // an unusable reply becomes one more round instead of a failure
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
    // solution_summary is null unless the pair was solved and a solution is known; previous is
    // the pair a solve revision started from (null when the pair did not come from one).
    virtual Text alignment_prompt(const Pair<Text>& p, const std::string* solution_summary,
                                  const Pair<Text>* previous) = 0;
    virtual Text alignment_revision_prompt(const Text& assessment, const Pair<Text>& p) = 0;
    virtual Text solve_revision_prompt(const Pair<Text>& p, const std::string& findings) = 0;
    virtual Text final_assessment_prompt(const Pair<Text>& p, const Errors& errors) = 0;
    // The prompt that asked, with a section quoting the unusable reply and why it failed.
    virtual Text repair_prompt(const Text& prompt, const Text& reply, const std::string& error) = 0;
    virtual Errors errors_of(const std::string& finding) = 0;  // a one-entry error list

    virtual Text generate(Call call, const Text& prompt) = 0;
    virtual bool empty(const Text& reply) = 0;
    // Parses a generation reply and reports "LLM response parsed (model + data)" when it holds a
    // pair. With lenient false it raises its own failure for a reply that is neither a pair nor
    // an offered verdict; with lenient true it returns the reason instead.
    virtual Reply<Text> parse_reply(const Text& reply, bool offer_verdict, bool lenient) = 0;
    // Parses an alignment reply; an invalid verdict raises its own failure, or with lenient true
    // gives nullopt and the reason in `error`.
    virtual std::optional<Verdict<Text>> parse_verdict(const Text& reply, bool lenient, std::string& error) = 0;
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
    std::optional<AsDescribed<Text>> as_described;  // the LLM's no-optimum verdict on the last pair
    std::vector<std::string> deviations;            // of the last alignment verdict
    std::vector<RoundRecord> rounds;                // one per iteration run
};

// "infeasible as described" / "unbounded as described".
inline const char* as_described_name(bool unbounded) {
    return unbounded ? "unbounded as described" : "infeasible as described";
}

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
    enum class Last { None, NotCompiled, FailedVerification, Accepted } last = Last::None;
    std::string last_findings;
    Round kind = Round::Generation;
    bool offer_verdict = false;       // the prompt offers the no-optimum verdict
    bool review_repair = false;       // the next round asks the reviewer again
    Text review_prompt = s.empty_text();  // the alignment prompt of the last pair
    std::optional<Pair<Text>> pair, previous;
    std::string unusable;  // why the last reply could not be used

    // An unusable reply: one more round with the asking prompt and the reply quoted.
    auto repair = [&](RoundRecord& rec, const Text& prompt, const Text& reply, const std::string& error) {
        unusable = error;
        s.report("Unusable reply (" + error + "); asking again...");
        s.debug("Unusable reply: " + error);
        out.rounds.push_back(rec);
        kind = Round::ReplyRepair;
        return s.repair_prompt(prompt, reply, error);
    };

    long long it = 0;
    Text asked = user_prompt;  // the prompt an unusable reply is repaired against
    for (; it < cfg.iterations; ++it) {
        const std::string counter = "Iteration " + std::to_string(it + 1) + "/" + cfg.iterations_text;
        s.debug(counter);
        s.report(counter + ": prompting model");
        RoundRecord rec;
        rec.kind = kind;
        std::optional<std::string> summary;
        if (!review_repair) {
            Text content = s.generate(Call::Generation, user_prompt);
            if (kind != Round::ReplyRepair) asked = user_prompt;
            if (s.empty(content)) {
                if (!cfg.repair) throw Failure("Empty model response.");
                user_prompt = repair(rec, asked, content, "the reply was empty");
                continue;
            }
            Reply<Text> reply = s.parse_reply(content, offer_verdict, cfg.repair);
            if (!reply.pair && !reply.verdict) {
                user_prompt = repair(rec, asked, content, reply.error);
                continue;
            }
            unusable.clear();
            if (reply.verdict) {
                // The pair as written is the faithful model of a problem without optimum.
                out.as_described = reply.verdict;
                if (out.solve) rec.status = out.solve->status;
                out.rounds.push_back(rec);
                const bool unb = reply.verdict->unbounded;
                s.report(std::string("The problem as described is ") + (unb ? "unbounded" : "infeasible") +
                         "; keeping the pair. Stopping.");
                s.debug("Verdict: " + std::string(as_described_name(unb)) + ": " +
                        s.text_of(reply.verdict->explanation));
                break;
            }
            offer_verdict = false;
            pair = *reply.pair;

            Compiled<Errors> compiled = s.compile(*pair);
            out.syntax_errors = compiled.errors;
            out.solve.reset();
            s.write_pair(*pair);
            s.report("Wrote files: " + cfg.model_path + " \u2022 " + cfg.data_path);
            rec.compile_errors = compiled.count;

            if (compiled.count > 0) {
                last = Last::NotCompiled;
                s.report("Syntax/semantic errors found: " + std::to_string(compiled.count) + "; revising...");
                s.debug("Model or data has syntax errors; revising...");
                user_prompt = s.syntax_revision_prompt(*pair, compiled.errors);
                out.rounds.push_back(rec);
                kind = Round::SyntaxRevision;
                continue;
            }
            last = Last::Accepted;

            if (cfg.verify) {
                s.report("Solving...");
                v::Report r = s.solve(cfg.time_limit);
                s.report(v::outcome_message(r, cfg.time_limit));
                out.solve = r;
                rec.status = r.status;
                rec.objective = r.objective;
                if (v::needs_revision(r.status)) {
                    last = Last::FailedVerification;
                    last_findings = v::findings(r);
                    s.debug("Model and data compile but the solver found them " +
                            std::string(v::status_name(r.status)) + "; revising...");
                    user_prompt = s.solve_revision_prompt(*pair, last_findings);
                    if (!previous) previous = pair;
                    offer_verdict = true;
                    out.rounds.push_back(rec);
                    kind = Round::SolveRevision;
                    continue;
                }
                if (r.objective || !r.values.empty() || r.status == v::Status::Optimal ||
                    r.status == v::Status::Feasible)
                    summary = v::solution_summary(r);
            }

            if (!cfg.alignment) {
                s.report("Syntax OK; alignment check disabled. Stopping.");
                out.rounds.push_back(rec);
                break;
            }
            s.debug("Checking alignment with original prompt...");
            s.report("Checking alignment with original prompt...");
            review_prompt = s.alignment_prompt(*pair, summary ? &*summary : nullptr, previous ? &*previous : nullptr);
            asked = review_prompt;
        } else {
            if (out.solve) {
                rec.status = out.solve->status;
                rec.objective = out.solve->objective;
            }
            s.report("Checking alignment with original prompt...");
        }
        Text alignment_content = s.generate(Call::Alignment, review_prompt);
        if (s.empty(alignment_content)) {
            if (!cfg.repair) throw Failure("Empty alignment response.");
            review_prompt = repair(rec, asked, alignment_content, "the reply was empty");
            review_repair = true;
            continue;
        }
        std::string error;
        std::optional<Verdict<Text>> verdict = s.parse_verdict(alignment_content, cfg.repair, error);
        if (!verdict) {
            review_prompt = repair(rec, asked, alignment_content, error);
            review_repair = true;
            continue;
        }
        review_repair = false;
        unusable.clear();
        out.assessment = verdict->assessment;
        out.deviations = verdict->deviations;
        rec.aligned = verdict->aligned;
        out.rounds.push_back(rec);
        if (verdict->aligned) {
            s.report("Aligned \u2713 Stopping.");
            s.debug("Model and data are syntactically valid and aligned with the prompt.");
            break;
        }
        s.report("Not aligned; revising per assessment");
        s.debug("Model and data are syntactically valid but NOT aligned with the prompt. Assessment: " +
                s.text_of(verdict->assessment));
        user_prompt = s.alignment_revision_prompt(verdict->assessment, *pair);
        kind = Round::AlignmentRevision;
    }
    if (it == cfg.iterations) --it;  // the loop ran out: index of the last iteration
    out.iterations = it + 1;
    // Every reply was unusable: there is no pair to read back or assess.
    if (last == Last::None) throw Failure("No usable reply in " + std::to_string(out.iterations) +
                                          " rounds; the last one: " + unusable);

    // After the loop: the pair as written, then a final assessment where no verdict exists.
    Pair<Text> written = s.read_pair();
    if (last != Last::Accepted || !cfg.alignment || review_repair) {
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
