// The repair loop's state machine driven by a scripted step table.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/number_text.hpp"
#include "genloom/core/loop.hpp"

namespace {

namespace lp = genloom::loop;
namespace vf = genloom::verification;
using Errors = std::vector<std::string>;
using Pair = lp::Pair<std::string>;

// Replies: "pair N" gives model N / data N; "yes: text" and "no: text" are verdicts; "" is empty.
// Compile outcomes: the number of errors of each compile (0 when the list runs out).
struct Script : lp::Steps<std::string, Errors> {
    std::deque<std::string> replies;
    std::deque<std::size_t> compile_errors;
    std::deque<vf::Report> solves;
    std::vector<std::string> log;       // every step, in order
    std::vector<std::string> messages;  // progress messages only
    std::string written;

    void report(const std::string& m) override {
        messages.push_back(m);
        log.push_back("report " + m);
    }
    void debug(const std::string& m) override { log.push_back("debug " + m); }
    std::string text_of(const std::string& t) override { return t; }
    std::string empty_text() override { return ""; }
    void gather_examples(bool few_shot) override { log.push_back(few_shot ? "gather" : "no examples"); }
    std::string generation_prompt() override { return "GEN"; }
    std::string syntax_revision_prompt(const Pair& p, const Errors& e) override {
        return "SYNTAX(" + p.model + "," + std::to_string(e.size()) + ")";
    }
    std::string alignment_prompt(const Pair& p, const std::string* summary, const Pair* previous) override {
        return "ALIGN(" + p.model + (summary ? "|" + *summary : "") + (previous ? "|was " + previous->model : "") + ")";
    }
    std::string alignment_revision_prompt(const std::string& a, const Pair& p) override {
        return "REALIGN(" + a + "," + p.model + ")";
    }
    std::string solve_revision_prompt(const Pair& p, const std::string& findings) override {
        return "RESOLVE(" + p.model + "|" + findings + ")";
    }
    std::string final_assessment_prompt(const Pair& p, const Errors& e) override {
        std::string s = "FINAL(" + p.model;
        for (const auto& x : e) s += "|" + x;
        return s + ")";
    }
    std::string repair_prompt(const std::string& asked, const std::string& reply, const std::string& error) override {
        return "REPAIR(" + asked + "|" + reply + "|" + error + ")";
    }
    Errors errors_of(const std::string& f) override { return {f}; }
    std::string generate(lp::Call call, const std::string& prompt) override {
        const char* kind = call == lp::Call::Generation ? "gen" : call == lp::Call::Alignment ? "align" : "final";
        log.push_back(std::string(kind) + " " + prompt);
        std::string r = replies.front();
        replies.pop_front();
        return r;
    }
    bool empty(const std::string& r) override { return r.empty(); }
    // "as described: why" is the no-optimum verdict where one is offered.
    lp::Reply<std::string> parse_reply(const std::string& r, bool offer_verdict, bool lenient) override {
        lp::Reply<std::string> out;
        if (offer_verdict && r.rfind("as described: ", 0) == 0) {
            out.verdict = lp::AsDescribed<std::string>{false, r.substr(14)};
            return out;
        }
        if (r.rfind("pair ", 0) != 0) {
            if (!lenient) throw std::invalid_argument("not a pair: " + r);
            out.error = "not a pair";
            return out;
        }
        report("LLM response parsed (model + data)");
        out.pair = Pair{"model " + r.substr(5), "data " + r.substr(5)};
        return out;
    }
    // "no: text | deviation" lists one deviation.
    std::optional<lp::Verdict<std::string>> parse_verdict(const std::string& r, bool lenient,
                                                          std::string& error) override {
        if (r.rfind("yes: ", 0) == 0) return lp::Verdict<std::string>{true, r.substr(5), {}};
        if (r.rfind("no: ", 0) == 0) {
            auto bar = r.find(" | ");
            if (bar == std::string::npos) return lp::Verdict<std::string>{false, r.substr(4), {}};
            return lp::Verdict<std::string>{false, r.substr(4, bar - 4), {r.substr(bar + 3)}};
        }
        if (!lenient) throw std::invalid_argument("Invalid alignment response JSON: " + r);
        error = "not a verdict";
        return std::nullopt;
    }
    lp::Compiled<Errors> compile(const Pair& p) override {
        report("Compiling model and data");
        std::size_t n = 0;
        if (!compile_errors.empty()) {
            n = compile_errors.front();
            compile_errors.pop_front();
        }
        Errors e;
        for (std::size_t i = 0; i < n; ++i) e.push_back("error in " + p.model);
        return {e, n};
    }
    void write_pair(const Pair& p) override {
        written = p.model;
        log.push_back("write " + p.model);
    }
    Pair read_pair() override { return {written + " (read)", "data"}; }
    vf::Report solve(double limit) override {
        log.push_back("solve " + vorlan::text::number_text(limit));
        vf::Report r = solves.front();
        solves.pop_front();
        return r;
    }

    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        for (const auto& l : log)
            if (l.rfind("gen ", 0) == 0 || l.rfind("align ", 0) == 0 || l.rfind("final ", 0) == 0 ||
                l.rfind("solve ", 0) == 0)
                out.push_back(l);
        return out;
    }
};

lp::Settings settings(long long iterations, bool alignment, bool verify = false) {
    lp::Settings s;
    s.iterations = iterations;
    s.iterations_text = std::to_string(iterations);
    s.provider = "openai";
    s.model_name = "m";
    s.alignment = alignment;
    s.verify = verify;
    s.time_limit = 60;
    s.model_path = "a.mod";
    s.data_path = "a.dat";
    return s;
}

vf::Report solved(vf::Status st, std::optional<double> obj = std::nullopt) {
    vf::Report r;
    r.status = st;
    r.objective = obj;
    if (obj) {
        r.values = {{"x[\"a\"]", 2}, {"y", 1.5}};
        r.nonzero_count = 2;
    }
    return r;
}

vf::Report infeasible() {
    vf::Report r;
    r.status = vf::Status::Infeasible;
    r.irreducible = true;
    r.conflicts = {{false, "cap", 3, "x <= 2"}, {false, "need", 4, "x >= 3"}};
    return r;
}

TEST(RepairLoop, CompileErrorsReviseUntilExhaustedThenFinalAssessment) {
    Script s;
    s.replies = {"pair 1", "pair 2", "the final words"};
    s.compile_errors = {2, 1};
    auto out = lp::run(s, settings(2, true));
    EXPECT_EQ(s.calls(), (std::vector<std::string>{"gen GEN", "gen SYNTAX(model 1,2)", "final FINAL(model 2 (read)|error in model 2)"}));
    EXPECT_EQ(out.iterations, 2);
    EXPECT_EQ(out.assessment, "the final words");
    EXPECT_EQ(out.syntax_errors, Errors{"error in model 2"});
    EXPECT_FALSE(out.solve.has_value());
    EXPECT_EQ(s.messages.back(), "Generation complete");
    EXPECT_EQ(s.messages[s.messages.size() - 2], "Requesting final assessment");
}

TEST(RepairLoop, AlignmentTransitions) {
    {  // misaligned, revised, then aligned: no final assessment
        Script s;
        s.replies = {"pair 1", "no: wrong sense", "pair 2", "yes: fine"};
        auto out = lp::run(s, settings(5, true));
        EXPECT_EQ(s.calls(), (std::vector<std::string>{"gen GEN", "align ALIGN(model 1)",
                                                       "gen REALIGN(wrong sense,model 1)", "align ALIGN(model 2)"}));
        EXPECT_EQ(out.iterations, 2);
        EXPECT_EQ(out.assessment, "fine");
    }
    {  // every pair misaligned: the last assessment is the result, the last revision is never sent
        Script s;
        s.replies = {"pair 1", "no: a", "pair 2", "no: b"};
        auto out = lp::run(s, settings(2, true));
        EXPECT_EQ(s.calls().size(), 4u);
        EXPECT_EQ(out.iterations, 2);
        EXPECT_EQ(out.assessment, "b");
    }
    {  // alignment off: stop at the first pair that compiles, then a final assessment
        Script s;
        s.replies = {"pair 1", ""};
        auto out = lp::run(s, settings(3, false));
        EXPECT_EQ(s.calls(), (std::vector<std::string>{"gen GEN", "final FINAL(model 1 (read))"}));
        EXPECT_EQ(out.assessment, "");  // an empty final reply gives the empty text
        EXPECT_EQ(out.iterations, 1);
    }
}

TEST(RepairLoop, ProgressSequenceMatchesTheStateTable) {
    Script s;
    s.replies = {"pair 1", "pair 2", "no: x", "pair 3", "yes: y"};
    s.compile_errors = {1, 0, 0};
    lp::run(s, settings(4, true));
    const std::string wrote = "Wrote files: a.mod \u2022 a.dat";
    EXPECT_EQ(s.messages,
              (std::vector<std::string>{
                  "Generating with provider=openai model=m iterations=4 alignment=on",
                  "Iteration 1/4: prompting model", "LLM response parsed (model + data)", "Compiling model and data",
                  wrote, "Syntax/semantic errors found: 1; revising...",
                  "Iteration 2/4: prompting model", "LLM response parsed (model + data)", "Compiling model and data",
                  wrote, "Checking alignment with original prompt...", "Not aligned; revising per assessment",
                  "Iteration 3/4: prompting model", "LLM response parsed (model + data)", "Compiling model and data",
                  wrote, "Checking alignment with original prompt...", "Aligned \u2713 Stopping.",
                  "Generation complete"}));
}

TEST(RepairLoop, FailuresEndTheCall) {
    struct Case {
        std::deque<std::string> replies;
        std::string message;
    };
    for (const auto& c : std::vector<Case>{{{""}, "Empty model response."},
                                           {{"pair 1", ""}, "Empty alignment response."}}) {
        Script s;
        s.replies = c.replies;
        try {
            lp::run(s, settings(3, true));
            ADD_FAILURE() << "expected a failure";
        } catch (const lp::Failure& f) {
            EXPECT_EQ(f.what(), c.message);
        }
    }
    Script s;  // a step's own failure passes through unchanged
    s.replies = {"garbage"};
    EXPECT_THROW(lp::run(s, settings(3, true)), std::invalid_argument);
}

TEST(RepairLoop, VerificationRevisesInfeasibleAndUnboundedPairs) {
    Script s;
    s.replies = {"pair 1", "pair 2", "pair 3", "yes: good"};
    vf::Report unb;
    unb.status = vf::Status::Unbounded;
    unb.unbounded = {"x[\"a\"]"};
    s.solves = {infeasible(), unb, solved(vf::Status::Optimal, 7)};
    auto out = lp::run(s, settings(5, true, true));
    auto calls = s.calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[1], "solve 60");
    // the conflicting rows, by label and line, reach the next generation prompt
    EXPECT_NE(calls[2].find("RESOLVE(model 1|The solver proved the model infeasible"), std::string::npos);
    EXPECT_NE(calls[2].find("- constraint cap (line 3): x <= 2\n- constraint need (line 4): x >= 3\n"), std::string::npos);
    EXPECT_NE(calls[4].find("- x[\"a\"]\n"), std::string::npos);
    // the optimal pair goes to the reviewer with its solution
    EXPECT_NE(calls[6].find("ALIGN(model 3|Solver status: optimal\nObjective value: 7\n"), std::string::npos);
    EXPECT_EQ(out.assessment, "good");
    ASSERT_TRUE(out.solve.has_value());
    EXPECT_EQ(out.solve->status, vf::Status::Optimal);
    EXPECT_EQ(s.messages[0], "Generating with provider=openai model=m iterations=5 alignment=on verify=on");
    std::vector<std::string> solve_msgs;
    for (std::size_t i = 0; i + 1 < s.messages.size(); ++i)
        if (s.messages[i] == "Solving...") solve_msgs.push_back(s.messages[i + 1]);
    EXPECT_EQ(solve_msgs, (std::vector<std::string>{"Infeasible: 2 conflicting constraints; revising...",
                                                    "Unbounded: 1 variable without limit; revising...",
                                                    "Optimal: objective 7"}));
}

TEST(RepairLoop, VerificationKeepsTimedOutPairsAndAssessesFailedOnes) {
    {  // time limit: reported, pair kept, on to the alignment check with the best solution known
        Script s;
        s.replies = {"pair 1", "yes: ok"};
        s.solves = {solved(vf::Status::TimeLimit, 12.5)};
        lp::run(s, settings(3, true, true));
        EXPECT_EQ(s.calls().back().rfind("align ALIGN(model 1|Solver status: time limit\n", 0), 0u);
        EXPECT_NE(std::find(s.messages.begin(), s.messages.end(),
                            "Solver stopped at the time limit (60 s); best objective so far 12.5; keeping the pair"),
                  s.messages.end());
    }
    {  // a solver error with the alignment stage off: stop, no summary, final assessment
        Script s;
        s.replies = {"pair 1", "final"};
        vf::Report err;
        err.message = "bad matrix";
        s.solves = {err};
        auto out = lp::run(s, settings(3, false, true));
        EXPECT_EQ(s.calls(), (std::vector<std::string>{"gen GEN", "solve 60", "final FINAL(model 1 (read))"}));
        EXPECT_EQ(out.solve->status, vf::Status::Error);
    }
    {  // exhausted on an infeasible pair: the final assessment hears what the solver found
        Script s;
        s.replies = {"pair 1", "final"};
        s.solves = {infeasible()};
        auto out = lp::run(s, settings(1, true, true));
        auto calls = s.calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[2].rfind("final FINAL(model 1 (read)|The solver proved the model infeasible", 0), 0u);
        EXPECT_TRUE(out.syntax_errors.empty());
        EXPECT_EQ(out.solve->status, vf::Status::Infeasible);
    }
    {  // a pair that does not compile is never solved; the solve entry belongs to the last pair
        Script s;
        s.replies = {"pair 1", "pair 2", "final"};
        s.compile_errors = {0, 1};
        s.solves = {infeasible()};
        auto out = lp::run(s, settings(2, true, true));
        EXPECT_EQ(s.calls().size(), 4u);  // gen, solve, gen, final
        EXPECT_FALSE(out.solve.has_value());
    }
}

}  // namespace

namespace {

std::vector<std::string> kinds(const std::vector<lp::RoundRecord>& rounds) {
    std::vector<std::string> out;
    for (const auto& r : rounds) out.push_back(lp::round_name(r.kind));
    return out;
}

TEST(RepairLoop, VerdictAsDescribedKeepsThePairAndEnds) {
    Script s;
    s.replies = {"pair 1", "as described: 40 tables need 160 hours", "final words"};
    s.solves = {infeasible()};
    auto out = lp::run(s, settings(5, true, true));
    auto calls = s.calls();
    ASSERT_EQ(calls.size(), 4u);  // gen, solve, gen (solve revision), final: no third generation
    EXPECT_EQ(calls[2].rfind("gen RESOLVE(model 1|", 0), 0u);
    EXPECT_EQ(calls[3].rfind("final FINAL(model 1 (read)|The solver proved the model infeasible", 0), 0u);
    ASSERT_TRUE(out.as_described.has_value());
    EXPECT_FALSE(out.as_described->unbounded);
    EXPECT_EQ(out.as_described->explanation, "40 tables need 160 hours");
    EXPECT_EQ(out.solve->status, vf::Status::Infeasible);
    EXPECT_EQ(out.assessment, "final words");
    EXPECT_EQ(kinds(out.rounds), (std::vector<std::string>{"generation", "solve revision"}));
    EXPECT_EQ(out.rounds[0].status, vf::Status::Infeasible);
    EXPECT_EQ(out.rounds[0].compile_errors, 0u);
    EXPECT_FALSE(out.rounds[1].compile_errors.has_value());
    EXPECT_EQ(out.iterations, 2);

    Script g;  // never offered after a plain generation prompt: strict mode fails as before
    g.replies = {"as described: no"};
    EXPECT_THROW(lp::run(g, settings(3, true, true)), std::invalid_argument);
}

TEST(RepairLoop, RevisedPairIsReviewedAgainstThePairBeforeTheSolveRevision) {
    Script s;
    s.replies = {"pair 1", "pair 2", "no: raised the limit | stated 120 hours, uses 160", "pair 3", "yes: ok"};
    s.solves = {infeasible(), solved(vf::Status::Optimal, 5), solved(vf::Status::Optimal, 4)};
    auto out = lp::run(s, settings(5, true, true));
    auto calls = s.calls();
    EXPECT_NE(calls[4].find("|was model 1)"), std::string::npos);
    EXPECT_NE(calls.back().find("ALIGN(model 3|"), std::string::npos);
    EXPECT_NE(calls.back().find("|was model 1)"), std::string::npos);
    EXPECT_TRUE(out.deviations.empty());  // the last verdict's list
    EXPECT_EQ(kinds(out.rounds),
              (std::vector<std::string>{"generation", "solve revision", "alignment revision"}));
    EXPECT_EQ(out.rounds[1].aligned, false);
    EXPECT_EQ(out.rounds[1].objective, 5.0);
}

TEST(RepairLoop, UnusableRepliesAreRepairedWithinTheBudget) {
    Script s;  // prose, then a pair; an empty review, then a verdict
    s.replies = {"Sure! Here is the model.", "pair 1", "", "yes: fine"};
    lp::Settings cfg = settings(5, true);
    cfg.repair = true;
    auto out = lp::run(s, cfg);
    EXPECT_EQ(s.calls(), (std::vector<std::string>{"gen GEN", "gen REPAIR(GEN|Sure! Here is the model.|not a pair)",
                                                   "align ALIGN(model 1)",
                                                   "align REPAIR(ALIGN(model 1)||the reply was empty)"}));
    EXPECT_EQ(kinds(out.rounds), (std::vector<std::string>{"generation", "reply repair",
                                                           "reply repair"}));
    EXPECT_EQ(out.rounds[2].aligned, true);
    EXPECT_EQ(out.assessment, "fine");
    EXPECT_EQ(out.iterations, 3);

    Script n;  // nothing usable at all: a failure naming the last reason, no pair to read back
    n.replies = {"a", "b"};
    lp::Settings two = settings(2, true);
    two.repair = true;
    try {
        lp::run(n, two);
        ADD_FAILURE() << "expected a failure";
    } catch (const lp::Failure& f) {
        EXPECT_EQ(std::string(f.what()), "No usable reply in 2 rounds; the last one: not a pair");
    }
}

}  // namespace
