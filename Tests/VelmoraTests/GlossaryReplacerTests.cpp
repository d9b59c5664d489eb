#include "Velmora/Post/GlossaryReplacer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using velmora::GlossaryReplacer;
using velmora::Term;

namespace {

Term term(std::string canonical, std::vector<std::string> variants, bool hint = true) {
    Term made;
    made.canonical = std::move(canonical);
    made.variants = std::move(variants);
    made.hint = hint;
    return made;
}

struct Case {
    std::string text;
    std::string expected;
    std::vector<std::int64_t> hits;
};

void check(const std::vector<Term>& terms, const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        const auto result = GlossaryReplacer::apply(c.text, terms);
        EXPECT_EQ(result.text, c.expected) << c.text;
        EXPECT_EQ(result.hits, c.hits) << c.text;
    }
}

}  // namespace

TEST(GlossaryReplacer, WholeWordsWithoutRegardToCase) {
    const std::vector<Term> terms = {term("GitHub", {"гитхаб", "гит хаб"}), term("Ёлка", {"елка"}, false)};
    check(terms, {
                     {"я залил на гитхаб вчера", "я залил на GitHub вчера", {1, 0}},
                     {"ГитХаб и ГИТХАБ", "GitHub и GitHub", {2, 0}},
                     {"(гитхаб), гит хаб!", "(GitHub), GitHub!", {2, 0}},
                     {"гитхабовский мойгитхаб гитхаб2 2гитхаб", "гитхабовский мойгитхаб гитхаб2 2гитхаб", {0, 0}},
                     {"гит  хаб", "гит  хаб", {0, 0}},  // the blanks of a variant are matched as written
                     {"ЕЛКА", "Ёлка", {0, 1}},          // a term that is no hint is still replaced
                     {"", "", {0, 0}},
                 });
}

TEST(GlossaryReplacer, TheLongestVariantWinsWhateverTheTermOrder) {
    const Term code = term("Visual Studio Code", {"вижуал студио код"});
    const Term studio = term("Visual Studio", {"вижуал студио"});
    const std::string text = "открой вижуал студио код и вижуал студио";
    const std::string expected = "открой Visual Studio Code и Visual Studio";
    check({studio, code}, {{text, expected, {1, 1}}});
    check({code, studio}, {{text, expected, {1, 1}}});
}

TEST(GlossaryReplacer, ReplacedTextIsNotMatchedAgain) {
    // "гит" would turn the new spelling "гит хаб" into "Git хаб" on a second pass.
    const std::vector<Term> terms = {term("гит хаб", {"гитхаб"}), term("Git", {"гит"})};
    check(terms, {{"гитхаб и гит", "гит хаб и Git", {1, 1}}});
}

TEST(GlossaryReplacer, AMatchAlreadySpeltRightIsNeitherChangedNorCounted) {
    const std::vector<Term> terms = {term("GitHub", {"github", "GitHub"})};
    check(terms, {
                     {"GitHub", "GitHub", {0}},
                     {"github", "GitHub", {1}},
                     {"GITHUB и GitHub", "GitHub и GitHub", {1}},
                 });
}

TEST(GlossaryReplacer, BlankSpellingsAndBlankVariantsTakeNoPart) {
    // A blank spelling would delete the heard words from the text.
    const std::vector<Term> terms = {term("", {"слово"}), term("  \n", {"другое"}), term("Кот", {"", "  ", "кошак"})};
    check(terms, {
                     {"слово и другое", "слово и другое", {0, 0, 0}},
                     {"кошак", "Кот", {0, 0, 1}},
                     {"  ", "  ", {0, 0, 0}},
                 });
    // Blanks around a spelling or a variant are not part of it.
    check({term(" Кот ", {" кошак\t"})}, {{"мой кошак.", "мой Кот.", {1}}});
}

TEST(GlossaryReplacer, ComposedAndDecomposedLettersMatch) {
    const std::string decomposedI = "\xD0\xB8\xCC\x86";  // и + combining breve
    check({term("Йогурт", {decomposedI + "огурт"})}, {{"купи йогурт", "купи Йогурт", {1}}});
    check({term("Йогурт", {"йогурт"})}, {{"купи " + decomposedI + "огурт", "купи Йогурт", {1}}});
    // A mark after the variant belongs to its last letter: no word end there.
    check({term("Ии", {"ии"})}, {{"ии\xCC\x81", "ии\xCC\x81", {0}}});
    // Without a replacement the text comes back as it was, not composed.
    check({term("Кот", {"кошак"})}, {{"e\xCC\x81t\xC3\xA9", "e\xCC\x81t\xC3\xA9", {0}}});
    EXPECT_EQ(GlossaryReplacer::apply("e\xCC\x81", {}).text, "e\xCC\x81");
}
