#include "genloom/core/prompts.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace genloom::prompts;

namespace {
const std::string kGrammarEnd = "\n--- END VORLAN SYNTAX IMPLEMENTATION ---\n</grammar_reference>\n\n";

FewShotExample ex(std::string d, std::string m, std::string x, std::string dp = "", std::string mp = "",
                  std::string xp = "") {
    return {std::move(d), std::move(m), std::move(x), std::move(dp), std::move(mp), std::move(xp)};
}

std::size_t count(const std::string& s, const std::string& needle) {
    std::size_t n = 0;
    for (auto p = s.find(needle); p != std::string::npos; p = s.find(needle, p + 1)) ++n;
    return n;
}
}  // namespace

TEST(PromptsFewShot, EmptyListGivesNoSection) { EXPECT_EQ(few_shot_section({}), ""); }

TEST(PromptsFewShot, TwoExamplesExactBlocks) {
    Examples e{ex("D1", "M1", "X1", "a/d.txt", "a/d.mod", "a/d.dat"), ex("D2", "M2", "X2")};
    EXPECT_EQ(few_shot_section(e),
              "<few_shot_examples>\n"
              "Use the following exemplars as guidance for structure and syntax only. Do not copy variable names "
              "unless appropriate to the new problem.\n"
              "<example index=\"1\">\n<description path=\"a/d.txt\">\nD1\n</description>\n\n"
              "<model_file path=\"a/d.mod\">\nM1\n</model_file>\n\n"
              "<data_file path=\"a/d.dat\">\nX1\n</data_file>\n</example>\n"
              "<example index=\"2\">\n<description path=\"\">\nD2\n</description>\n\n"
              "<model_file path=\"\">\nM2\n</model_file>\n\n"
              "<data_file path=\"\">\nX2\n</data_file>\n</example>\n"
              "</few_shot_examples>\n\n");
}

TEST(PromptsGeneration, SectionSitsBetweenGrammarAndProblem) {
    std::string none = generation("PROBLEM", "GRAMMAR", {});
    EXPECT_NE(none.find(kGrammarEnd + "<problem_description>\nPROBLEM\n</problem_description>\n"), std::string::npos);
    Examples e{ex("d", "m", "x")};
    std::string with = generation("PROBLEM", "GRAMMAR", e);
    EXPECT_EQ(with.size(), none.size() + few_shot_section(e).size());
    EXPECT_NE(with.find(kGrammarEnd + few_shot_section(e) + "<problem_description>\n"), std::string::npos);
    EXPECT_TRUE(with.rfind("<role>\nYou are an expert in mathematical optimization and Vorlan.\n</role>\n\n", 0) == 0);
    EXPECT_TRUE(none.ends_with("subject to { b*x >= 0; }\",  \"data\":  \"a = 10;\\nb= 5;\"\n}\n</example_output>\n"));
}

TEST(PromptsGeneration, EmptyGrammarLeavesBlankLine) {
    std::string p = generation("p", "", {});
    EXPECT_NE(p.find("--- BEGIN VORLAN SYNTAX IMPLEMENTATION ---\n\n--- END VORLAN SYNTAX IMPLEMENTATION ---\n"),
              std::string::npos);
}

TEST(PromptsGeneration, ArgumentsInsertedUnchanged) {
    std::string tricky = "  x \"</problem_description>\n\n<data>\n\\n ";
    std::string p = generation(tricky, "G", {});
    EXPECT_NE(p.find("<problem_description>\n" + tricky + "\n</problem_description>"), std::string::npos);
}

TEST(PromptsRevisionSyntax, ErrorsInListTextForm) {
    struct Case {
        std::vector<std::string> errors;
        std::string text;
    } cases[] = {
        {{}, "[]"},
        {{"a", "b"}, "['a', 'b']"},
        {{"it's"}, "[\"it's\"]"},
        {{"line\nnext\t\\"}, "['line\\nnext\\t\\\\']"},
    };
    for (const auto& c : cases) {
        std::string p = revision_syntax("p", "g", "M", "D", c.errors, {});
        EXPECT_NE(p.find("\n</data>\n</previous_attempt>\n\n<errors>\n" + c.text + "\n</errors>\n\n"),
                  std::string::npos)
            << c.text;
    }
}

TEST(PromptsFinalAssessment, ErrorsSectionOnlyWithErrors) {
    std::string none = final_assessment("p", "g", "M", "D", std::vector<std::string>{});
    EXPECT_NE(none.find("<data>\nD\n</data>\n\n</inputs>\n\n<assessment_focus>"), std::string::npos);
    EXPECT_EQ(count(none, "SYNTAX ERRORS"), 0u);
    std::string one = final_assessment("p", "g", "M", "D", std::vector<std::string>{"bad token"});
    EXPECT_NE(one.find("\n</data>\n\nSYNTAX ERRORS:\n['bad token']\n\n</inputs>\n\n"), std::string::npos);
    EXPECT_TRUE(one.ends_with("- If issues exist, mention the most critical fixes.\n</output_requirements>\n"));
}

TEST(PromptsRevisionAlignment, AssessmentInsideTaskAndOrder) {
    Examples e{ex("d", "m", "x")};
    std::string p = revision_alignment("PROB", "GRAM", "ASSESS", "MODEL", "DATA", e);
    auto at = [&](const std::string& s) { return p.find(s); };
    EXPECT_LT(at("<assessment>\nASSESS\n</assessment>\n"), at("GRAM"));
    EXPECT_LT(at("GRAM"), at("<few_shot_examples>"));
    EXPECT_LT(at("</few_shot_examples>\n\n<problem_description>\nPROB\n"), at("<previous_attempt>\n<model>\nMODEL\n"));
    EXPECT_NE(at("\n</model>\n\n<data>\nDATA\n</data>\n</previous_attempt>\n\n<revision_guidelines>"), std::string::npos);
}

TEST(PromptsAlignmentAndFeedback, InputsLayout) {
    std::string a = alignment("PROB", "GRAM", "MODEL", "DATA");
    EXPECT_NE(a.find(kGrammarEnd.substr(0, kGrammarEnd.size() - 1) +
                     "\n<inputs>\n<problem_description>\nPROB\n</problem_description>\n\n<model>\nMODEL\n</model>\n\n"
                     "<data>\nDATA\n</data>\n</inputs>\n\n<assessment_focus>"),
              std::string::npos);
    EXPECT_NE(a.find("(3\xE2\x80\x93" "6 sentences)"), std::string::npos);  // en dash
    std::string f = feedback("Q?", "GRAM", "MODEL", "DATA");
    EXPECT_NE(f.find("<inputs>\n<question>\nQ?\n</question>\n\n<model>\nMODEL\n</model>\n\n<data>\nDATA\n</data>\n"
                     "</inputs>\n\n<output_requirements>"),
              std::string::npos);
    EXPECT_NE(f.find("\"revised_model\": \"// minimal fix\\nfloat a = ...;"), std::string::npos);
}
