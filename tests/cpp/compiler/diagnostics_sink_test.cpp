// The diagnostics sink and the "did you mean" corrector every phase reports through.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vorlan_core/core/compiler.hpp"
#include "vorlan_core/core/diagnostics/corrector.hpp"
#include "vorlan_core/core/diagnostics/sink.hpp"

using namespace vorlan::compiler;

TEST(DiagnosticSink, KeepsReportOrderDropsRepeatedPlacesAndStopsAtTheCap) {
    DiagnosticSink sink(3);
    EXPECT_TRUE(sink.report(Diagnostic::Kind::Semantic, "model", 5, 1, "b"));
    EXPECT_TRUE(sink.report(Diagnostic::Kind::Semantic, "model", 2, 1, "a"));
    EXPECT_FALSE(sink.report(Diagnostic::Kind::Semantic, "model", 5, 1, "follows from b"));
    EXPECT_TRUE(sink.report(Diagnostic::Kind::Semantic, "data", 5, 1, "same place, other file"));
    EXPECT_TRUE(sink.full());
    EXPECT_FALSE(sink.report(Diagnostic::Kind::Semantic, "model", 9, 9, "over the cap"));
    std::vector<std::string> got;
    for (auto& d : sink.diagnostics()) got.push_back(d.text());
    EXPECT_EQ(got, (std::vector<std::string>{"model:5:1: b", "model:2:1: a", "data:5:1: same place, other file"}));
}

TEST(DiagnosticSink, TextIsCappedAndValidUtf8) {
    std::vector<Diagnostic> list;
    for (int i = 1; i <= 25; ++i) list.push_back({Diagnostic::Kind::Semantic, "model", i, 1, "x"});
    list[0].message = "cut \xC3";  // half of a two-byte character
    std::string text = diagnostics_text(list);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n') + 1, static_cast<long>(kMaxDiagnostics));
    EXPECT_EQ(text.substr(0, text.find('\n')), "model:1:1: cut ");
}

TEST(Corrector, PicksTheClosestWithinTheLimit) {
    struct Case {
        const char* typo;
        std::vector<const char*> candidates;
        const char* want;  // "" when nothing is close enough
    };
    const Case cases[] = {
        {"capacty", {"cost", "capacity", "cap"}, "capacity"},
        {"Demand", {"demand"}, "demand"},                  // case alone costs nothing
        {"xyz", {"abc", "uvw"}, ""},                       // three edits on a short name
        {"hoursPerU", {"hoursPerUnit"}, "hoursPerUnit"},   // longer names allow a third of their length
        {"n", {"n"}, ""},                                  // the name itself is no suggestion
        {"amount", {"a", "amounts"}, "amounts"},
    };
    for (auto& c : cases) {
        Corrector k(c.typo);
        for (auto* cand : c.candidates) k.consider(cand);
        EXPECT_EQ(k.found() ? k.best() : std::string(), c.want) << c.typo;
    }
    Corrector none("zz");
    EXPECT_EQ(none.hint(), "");
    Corrector one("capacty");
    one.consider("capacity");
    EXPECT_EQ(one.hint(), "; did you mean 'capacity'?");
}

TEST(Corrector, ChoiceDoesNotDependOnTheOrderCandidatesComeIn) {
    std::vector<std::string> names = {"P", "c", "n", "MR", "a"};
    std::sort(names.begin(), names.end());
    std::string first;
    do {
        Corrector k("m");
        for (auto& n : names) k.consider(n);
        if (first.empty()) first = k.best();
        EXPECT_EQ(k.best(), first);
    } while (std::next_permutation(names.begin(), names.end()));
    EXPECT_EQ(first, "MR");  // distance 1 ties are broken by byte order
}

TEST(Corrector, LowerTierWinsATie) {
    Corrector k("jj");
    k.consider("ja", 1);  // a global
    k.consider("jb", 0);  // an iterator in scope
    EXPECT_EQ(k.best(), "jb");
    k.consider("JJ", 5);  // closer (case alone differs) beats any tier
    EXPECT_EQ(k.best(), "JJ");
}

// Suggestions for data names used to follow hash order; the same pair must give the same
// message however the model orders its declarations.
TEST(Corrector, DataNameSuggestionIsStable) {
    const char* a = "int c = ...;\nint P = ...;\nint n = ...;\n";
    const char* b = "int n = ...;\nint P = ...;\nint c = ...;\n";
    const char* data = "c = 1; P = 2; n = 3; m = 4;";
    auto msg = [&](const char* mod) {
        std::string m = compile(mod, data).message();
        return m.substr(m.find("'m'"));
    };
    EXPECT_EQ(msg(a), msg(b));
    EXPECT_EQ(msg(a), "'m' is not declared in the model; did you mean 'P'?");
}
