// The three vocabulary models on small hand-made vocabularies.

#include "KorbitCore/External/Tokenizers/BPETokenizer.hpp"
#include "KorbitCore/External/Tokenizers/BertTokenizer.hpp"
#include "KorbitCore/External/Tokenizers/MergeTable.hpp"
#include "KorbitCore/External/Tokenizers/TokenLattice.hpp"
#include "KorbitCore/External/Tokenizers/UnigramTokenizer.hpp"
#include "KorbitCoreTests/Tokenizers/TokenizerTestSupport.hpp"

#include <algorithm>
#include <map>
#include <random>

using namespace korbit;
using namespace tokenizer_test;

namespace {

BPETokenizer bpe(const std::string& merges,
                 const std::string& vocab = R"({"a": 0, "b": 1, "c": 2, "ab": 3, "abc": 4, "bc": 5, "aa": 6})",
                 const std::string& config = "{}", const AddedTokens& added = {}) {
    return BPETokenizer(json(config), json(R"({"model": {"vocab": )" + vocab + R"(, "merges": )" + merges + "}}"),
                        added);
}

Config unigramData(const std::string& vocab, const std::string& unkId = "0") {
    return json(R"({"model": {"type": "Unigram", "unk_id": )" + unkId + R"(, "vocab": )" + vocab + "}}");
}

const std::string kUnigramVocab = R"([["<unk>", 0], ["a", -1], ["b", -2], ["ab", -2.5], [" ", -3]])";

}  // namespace

TEST(BPETokenizer, MergesByRank) {
    EXPECT_EQ(bpe(R"(["a b", "ab c"])").bpe("abc"), "abc");
    EXPECT_EQ(bpe(R"(["b c"])").bpe("abc"), "a bc");
    EXPECT_EQ(bpe(R"(["a a"])").bpe("aaaa"), "aa aa");
    EXPECT_EQ(bpe(R"(["a a"])").bpe("aaa"), "aa a");
    // A round merges every occurrence of its pair before a pair it made, even one of lower rank.
    EXPECT_EQ(bpe(R"(["ab a", "a b"])").bpe("abab"), "ab ab");
    std::string longWord, longMerged;
    for (int i = 0; i < 40; ++i) longWord += "ab", longMerged += i ? " ab" : "ab";
    EXPECT_EQ(bpe(R"(["ab a", "a b"])").bpe(longWord), longMerged);
    // Merges as [a, b] arrays; a pair listed twice keeps its last rank.
    EXPECT_EQ(bpe(R"([["b", "c"], ["a", "b"], ["b", "c"]])").bpe("abc"), "ab c");
    EXPECT_EQ(bpe(R"(["a b", "x y z"])").rank(BytePair{"a", "b"}), 0);
    EXPECT_EQ(bpe(R"(["a b", "x y z"])").rank(BytePair{"x", "y"}), 1);
    EXPECT_FALSE(bpe(R"(["a b"])").rank(BytePair{"b", "a"}));
    // Symbols are whole characters: a decomposed é is one symbol.
    EXPECT_EQ(bpe(R"(["e\u0301 x"])", R"({"é": 0})").bpe("e\xCC\x81x"), "e\xCC\x81x");
    EXPECT_EQ(bpe("[]").bpe("a"), "a");
    EXPECT_EQ(bpe("[]").bpe(""), "");
}

TEST(BPETokenizer, VocabularyUnknownsAndByteFallback) {
    const BPETokenizer model = bpe(R"(["a b", "ab c"])");
    EXPECT_EQ(model.tokenize("abc"), (Strings{"abc"}));
    EXPECT_EQ(model.tokenize(""), Strings{});
    EXPECT_EQ(model.tokenize("\xC3\xA9"), (Strings{"<0xC3>", "<0xA9>"}));
    EXPECT_EQ(model.hexaEncode("\n"), (Strings{"<0x0A>"}));
    EXPECT_EQ(model.byteEncode("a b"),
              "a\xC4\xA0"
              "b");
    EXPECT_FALSE(model.convertTokenToId("zzz"));  // no unknown token configured
    EXPECT_EQ(model.convertIdToToken(4), "abc");
    EXPECT_FALSE(model.convertIdToToken(99));
    EXPECT_EQ(model.vocabCount(), 7u);

    // The unknown token comes from the tokenizer configuration; a piece equal to it falls back to bytes.
    const BPETokenizer withUnknown = bpe(R"(["a b"])", R"({"a": 0, "b": 1, "ab": 2, "<unk>": 3, "<0x41>": 4})",
                                         R"({"unk_token": {"content": "<unk>"}, "fuse_unk": true, "eos_token": "ab"})");
    EXPECT_EQ(withUnknown.unknownTokenId(), 3);
    EXPECT_EQ(withUnknown.convertTokenToId("zzz"), 3);
    EXPECT_EQ(withUnknown.tokenize("<unk>"), (Strings{"<0x3C>", "<0x75>", "<0x6E>", "<0x6B>", "<0x3E>"}));
    EXPECT_TRUE(withUnknown.fuseUnknownTokens());
    EXPECT_EQ(withUnknown.eosTokenId(), 2);
    std::vector<int> ids;
    withUnknown.appendIds("A", ids);
    EXPECT_EQ(ids, (Ids{4}));

    // A space inside a symbol separates tokens, as the joined form is cut at spaces.
    EXPECT_EQ(bpe(R"([])", R"({"a": 0, "b": 1})").tokenize("a b"), (Strings{"a", "b"}));
}

TEST(BPETokenizer, AddedTokensOverrideVocabularyIds) {
    const BPETokenizer model = bpe("[]", R"({"a": 0, "<x>": 1})", "{}", AddedTokens{{"<x>", 7}, {"<y>", 8}});
    EXPECT_EQ(model.convertTokenToId("<x>"), 7);
    EXPECT_EQ(model.convertTokenToId("<y>"), 8);
    EXPECT_EQ(model.convertIdToToken(7), "<x>");
    EXPECT_FALSE(model.convertIdToToken(1));
}

namespace {

/// The merge rule spelled out on strings: the adjacent pair of lowest rank, every occurrence of
/// it merged from left to right, again until no pair has a rank.
std::string referenceMerge(std::vector<std::string> symbols,
                           const std::map<std::pair<std::string, std::string>, int>& ranks) {
    while (symbols.size() > 1) {
        int best = -1;
        std::pair<std::string, std::string> chosen;
        for (std::size_t i = 0; i + 1 < symbols.size(); ++i) {
            auto found = ranks.find({symbols[i], symbols[i + 1]});
            if (found != ranks.end() && (best < 0 || found->second < best)) {
                best = found->second;
                chosen = found->first;
            }
        }
        if (best < 0) break;
        std::vector<std::string> merged;
        for (std::size_t i = 0; i < symbols.size(); ++i) {
            if (i + 1 < symbols.size() && symbols[i] == chosen.first && symbols[i + 1] == chosen.second) {
                merged.push_back(symbols[i] + symbols[i + 1]);
                ++i;
            } else {
                merged.push_back(symbols[i]);
            }
        }
        symbols = std::move(merged);
    }
    std::string joined;
    for (const std::string& symbol : symbols) joined += (joined.empty() ? "" : " ") + symbol;
    return joined;
}

}  // namespace

// Random merge lists over a few letters, on words short and long: long words take another road
// through the rounds than short ones, Latin letters another road to their first ranks than
// Cyrillic ones, and all must follow the rule exactly.
TEST(BPETokenizer, MergesFollowTheRuleOnShortAndLongWords) {
    std::mt19937 random(7);
    const std::vector<std::vector<std::string>> alphabets{
        {"a", "b", "c", "d"}, {"\u0430", "\u0431", "\u0432", "\u0433"}, {"a", "\u0431", "c", "\u0433"}, {"a", "b"}};
    for (int list = 0; list < 40; ++list) {
        const std::vector<std::string>& letters = alphabets[static_cast<std::size_t>(list) % alphabets.size()];
        std::vector<std::string> known = letters;
        std::vector<std::pair<std::string, std::string>> pairs;
        std::uniform_int_distribution<int> count(5, 40);
        for (int n = count(random); static_cast<int>(pairs.size()) < n;) {
            std::uniform_int_distribution<std::size_t> pick(0, known.size() - 1);
            std::pair<std::string, std::string> pair{known[pick(random)], known[pick(random)]};
            if (std::find(pairs.begin(), pairs.end(), pair) != pairs.end() ||
                pair.first.size() + pair.second.size() > 12)
                continue;
            pairs.push_back(pair);
            known.push_back(pair.first + pair.second);
        }
        // Every other list in any order: a merge may rank before the merge that makes its symbols.
        if (list % 2) std::shuffle(pairs.begin(), pairs.end(), random);
        std::map<std::pair<std::string, std::string>, int> ranks;
        std::string merges = "[";
        for (const auto& [a, b] : pairs) {
            merges += (ranks.empty() ? "[\"" : ", [\"") + a + "\", \"" + b + "\"]";
            ranks.emplace(std::pair{a, b}, static_cast<int>(ranks.size()));
        }
        merges += "]";
        const BPETokenizer model = bpe(merges, R"({"a": 0})");
        for (std::size_t length : {1, 2, 3, 7, 20, 63, 64, 65, 100, 300}) {
            std::vector<std::string> word;
            std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1);
            // Runs of one letter make overlapping occurrences of the same pair.
            while (word.size() < length) word.insert(word.end(), 1 + letter(random) % 3, letters[letter(random)]);
            word.resize(length);
            std::string text;
            for (const std::string& character : word) text += character;
            ASSERT_EQ(model.bpe(text), referenceMerge(word, ranks)) << "merges " << merges << ", word " << text;
        }
    }
}

// Symbols small enough share a slot with the rank; symbol numbers near the top of the range take
// the wide slots. Both answer alike.
TEST(MergeTable, FindsRanksInBothSlotForms) {
    for (std::int32_t big : {40, 2'147'483'640}) {
        const std::vector<MergeTable::Entry> entries{{5, 7, 9}, {big, 3, 4}, {5, 7, 10}, {3, big, 11}};
        const MergeTable table(entries);
        EXPECT_EQ(table.size(), 3u) << big;
        EXPECT_EQ(table.rank(5, 7), 2);  // a pair listed twice keeps its last rank
        EXPECT_EQ(table.merged(2), 10);
        EXPECT_EQ(table.rank(big, 3), 1);
        EXPECT_EQ(table.rank(3, big), 3);
        EXPECT_EQ(table.merged(3), 11);
        EXPECT_EQ(table.rank(7, 5), -1);
        EXPECT_EQ(table.rank(-1, 3), -1);
        EXPECT_EQ(table.rank(big + 1, 3), -1);
        EXPECT_EQ(table.rank(big, big), -1);
    }
    EXPECT_EQ(MergeTable().rank(0, 0), -1);
}

TEST(BPETokenizer, ConstructionErrors) {
    EXPECT_EQ(tokenizerErrorOf([] { bpe(R"("a b")"); }),
              "Tokenizer configuration mismatch: BPETokenizer requires merges");
    EXPECT_EQ(tokenizerErrorOf([] { BPETokenizer(json("{}"), json(R"({"model": {"merges": []}})"), {}); }),
              "Vocabulary file is missing from the tokenizer configuration.");
    EXPECT_EQ(tokenizerErrorOf([] { bpe(R"(["a b", "ab"])"); }), "The vocabulary file is malformed or corrupted.");
    EXPECT_EQ(tokenizerErrorOf([] { bpe(R"([["a"]])"); }), "The vocabulary file is malformed or corrupted.");
    // A merge with an empty side ("a" followed by two spaces) is a pair of "a" and "".
    EXPECT_NO_THROW(bpe(R"(["a  b", 5])"));
}

TEST(WordPieceTokenizer, GreedyLongestMatch) {
    const TokenIdMap vocab{{"un", 0}, {"##aff", 1}, {"##able", 2}, {"[UNK]", 3}, {std::string(100, 'x'), 4}};
    const WordpieceTokenizer wordpiece(vocab);
    EXPECT_EQ(wordpiece.tokenize("unaffable"), (Strings{"un", "##aff", "##able"}));
    EXPECT_EQ(wordpiece.tokenize("unx"), (Strings{"[UNK]"}));
    EXPECT_EQ(wordpiece.tokenize(std::string(100, 'x')), (Strings{std::string(100, 'x')}));
    EXPECT_EQ(wordpiece.tokenize(std::string(101, 'x')), (Strings{"[UNK]"}));
    EXPECT_EQ(wordpiece.tokenize(""), Strings{});
    const TokenIdMap empty;
    EXPECT_EQ(WordpieceTokenizer(empty).tokenize("a"), (Strings{"[UNK]"}));
}

TEST(WordPieceTokenizer, BasicSplitting) {
    const BasicTokenizer lower(true);
    EXPECT_EQ(lower.tokenize("H\xC3\xA9llo, World!"), (Strings{"hello", ",", "world", "!"}));
    EXPECT_EQ(lower.tokenize("[CLS] x [MASK]"), (Strings{"[CLS]", "x", "[MASK]"}));
    EXPECT_EQ(lower.tokenize("a\nb"), (Strings{"a\nb"}));
    EXPECT_EQ(lower.tokenize("a$b\xE2\x80\x94"
                             "c"),
              (Strings{"a", "$", "b", "\xE2\x80\x94", "c"}));
    const BasicTokenizer keep(false);
    EXPECT_EQ(keep.tokenize("H\xC3\xA9llo"), (Strings{"H\xC3\xA9llo"}));
}

TEST(WordPieceTokenizer, ModelConstruction) {
    const Config data = json(R"({"model": {"vocab": {"[UNK]": 0, "a": 1, "中": 2, "文": 3, "x": 9}},
        "added_tokens": [{"id": 5, "content": "[SEP]"}, {"id": "6", "content": "bad"}, {"id": 7}]})");
    const BertTokenizer model(json(R"({"eos_token": "[SEP]", "bos_token": {"content": "a"}})"), data,
                              AddedTokens{{"x", 8}});
    EXPECT_EQ(model.tokenize("中文 A"), (Strings{"中", "文", "a"}));
    EXPECT_EQ(model.convertTokenToId("[SEP]"), 5);
    EXPECT_EQ(model.convertTokenToId("x"), 8);
    EXPECT_EQ(model.convertIdToToken(8), "x");
    EXPECT_EQ(model.convertTokenToId("nope"), 0);
    EXPECT_EQ(model.convertTokenToId("bad"), 0);  // its id is a string, so it was skipped
    EXPECT_EQ(model.eosTokenId(), 5);
    EXPECT_FALSE(model.bosToken());  // the object form is not read here
    EXPECT_EQ(model.unknownToken(), "[UNK]");
    const BertTokenizer cased(json(R"({"do_lower_case": false, "handle_chinese_chars": false})"), data, {});
    EXPECT_EQ(cased.tokenize("A 中文"), (Strings{"[UNK]", "[UNK]"}));
    EXPECT_EQ(tokenizerErrorOf([] { BertTokenizer(json("{}"), json(R"({"model": {"vocab": []}})"), {}); }),
              "Vocabulary file is missing from the tokenizer configuration.");
}

TEST(UnigramTokenizer, BestPathAndUnknowns) {
    const UnigramTokenizer model(json(R"({"eos_token": "b"})"), unigramData(kUnigramVocab), {});
    EXPECT_EQ(model.tokenize("ab"), (Strings{"ab"}));
    EXPECT_EQ(model.tokenize("ac"), (Strings{"a", "c"}));
    EXPECT_EQ(model.tokenize(""), Strings{});
    EXPECT_EQ(model.convertTokenToId("c"), 0);
    EXPECT_EQ(model.minScore(), -3.0f);
    EXPECT_EQ(model.unknownTokenScore(), -13.0f);
    EXPECT_EQ(model.unknownToken(), "<unk>");
    EXPECT_EQ(model.bosTokenId(), 4);
    EXPECT_EQ(model.eosTokenId(), 2);
    EXPECT_TRUE(model.fuseUnknownTokens());
    EXPECT_EQ(model.convertIdToToken(3), "ab");
    EXPECT_FALSE(model.convertIdToToken(-1));
    EXPECT_FALSE(model.convertIdToToken(5));
    // A position that starts only a longer piece also gets an unknown node: "ab" and "b" without "a".
    const UnigramTokenizer noA(json("{}"), unigramData(R"([["<unk>", 0], ["ab", -1], ["b", -2]])"), {});
    EXPECT_EQ(noA.tokenize("ab"), (Strings{"ab"}));
    EXPECT_EQ(noA.tokenize("aab"), (Strings{"a", "ab"}));
    EXPECT_FALSE(noA.bosTokenId());
    // Scores above 999 still leave the minimum at 999.
    const UnigramTokenizer high(json(R"({"eos_token": {"content": "x"}})"),
                                unigramData(R"([["<unk>", 1500], ["x", 2000]])"), {});
    EXPECT_EQ(high.minScore(), 999.0f);
    EXPECT_FALSE(high.eosToken());
}

TEST(UnigramTokenizer, TiesKeepTheEarlierPredecessor) {
    // "ab" alone and "a" + "b" both total -2: the path whose last piece starts earlier wins.
    const UnigramTokenizer model(json("{}"), unigramData(R"([["<unk>", 0], ["a", -1], ["b", -1], ["ab", -2]])"), {});
    EXPECT_EQ(model.tokenize("ab"), (Strings{"ab"}));
}

TEST(UnigramTokenizer, ConstructionErrors) {
    EXPECT_EQ(tokenizerErrorOf([] { UnigramTokenizer(json("{}"), json(R"({"model": {"unk_id": 0}})"), {}); }),
              "Vocabulary file is missing from the tokenizer configuration.");
    const std::pair<const char*, const char*> malformed[] = {// {vocab, unk_id}
                                                             {R"([["a", -1]])", "99"},
                                                             {R"([["a", -1]])", "null"},
                                                             {R"([["a", -1], ["a", -2]])", "0"},
                                                             {R"([["a", "x"]])", "0"},
                                                             {"[[]]", "0"},
                                                             {R"(["a"])", "0"}};
    for (const auto& [vocab, unkId] : malformed) {
        EXPECT_EQ(tokenizerErrorOf([&] { UnigramTokenizer(json("{}"), unigramData(vocab, unkId), {}); }),
                  "The vocabulary file is malformed or corrupted.")
            << vocab << " unk_id " << unkId;
    }
}

TEST(TrieAndLattice, PrefixesAndViterbi) {
    Trie trie;
    trie.append({{"a"}, {"a", "b"}, {"a", "b", "c", "d"}, {"x"}});
    const std::vector<std::string> text{"a", "b", "c", "e"};
    LeavesWithCommonPrefixIterator found(trie, text);
    EXPECT_EQ(found.next(), (Trie::Sequence{"a"}));
    EXPECT_EQ(found.next(), (Trie::Sequence{"a", "b"}));
    EXPECT_FALSE(found.next());
    EXPECT_FALSE(found.next());

    TokenLattice lattice({"a", "b"}, 1, 2);
    lattice.insert(0, 1, -1, 10);
    lattice.insert(1, 1, -1, 11);
    lattice.insert(0, 2, -1.5f, 12);
    EXPECT_EQ(lattice.tokens(), (Strings{"ab"}));
    const std::vector<TokenLatticeNode> path = lattice.viterbi();
    ASSERT_EQ(path.size(), 1u);
    EXPECT_EQ(path[0].tokenId, 12);
    TokenLattice gap({"a", "b"}, 0, 0);
    gap.insert(0, 1, -1, 10);
    EXPECT_TRUE(gap.viterbi().empty());
}
