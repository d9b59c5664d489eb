// The speech models' tokenizer (multilingual Whisper vocabulary) on a few megabytes of prose, one
// thread: encoding and decoding throughput (bytes_per_second, tokens/s) and the load time of the
// tokenizer files. `tokenize` returns token strings and skips the word cache of `encode`, so its
// figures are those of text whose words are all new. The prose is the original English and Russian text of
// Tests/Data/prose, its sentences shuffled (fixed seed) into ~3 MB of paragraphs.

#include "KorbitCore/External/Tokenizers/AutoTokenizer.hpp"

#include "BenchmarkData.hpp"

#include <benchmark/benchmark.h>

#include <random>

namespace {

const std::string kMultilingual = velmora::bench::dataPath("whisper-tokenizer/multilingual");

using velmora::bench::readData;

/// Paragraphs of about 600 bytes made of the text's sentences in shuffled order, ~3 MB in all.
std::vector<std::string> corpus(const std::string& relative) {
    const std::string text = readData(relative);
    std::vector<std::string> sentences;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '.' || c == '?' || c == '!') && (i + 1 == text.size() || text[i + 1] == ' ' || text[i + 1] == '\n')) {
            std::string sentence = text.substr(start, i + 1 - start);
            sentence.erase(0, sentence.find_first_not_of(" \n"));
            if (!sentence.empty()) sentences.push_back(sentence);
            start = i + 1;
        }
    }
    std::mt19937 random(42);
    std::uniform_int_distribution<std::size_t> pick(0, sentences.size() - 1);
    std::vector<std::string> paragraphs;
    std::size_t total = 0;
    while (total < 3'000'000) {
        std::string paragraph;
        while (paragraph.size() < 600) paragraph += (paragraph.empty() ? "" : " ") + sentences[pick(random)];
        total += paragraph.size();
        paragraphs.push_back(std::move(paragraph));
    }
    return paragraphs;
}

const korbit::TokenizerWrapper& tokenizer() {
    static const korbit::TokenizerWrapper loaded = korbit::AutoTokenizerWrapper::fromModelFolder(kMultilingual, true);
    return loaded;
}

/// Runs `tokenCount(paragraph)` over the corpus and reports bytes and tokens per second.
template <class TokenCount>
void runCorpus(benchmark::State& state, const std::string& relative, TokenCount&& tokenCount) {
    const std::vector<std::string> paragraphs = corpus(relative);
    std::size_t bytes = 0;
    std::size_t tokens = 0;
    for (auto _ : state) {
        for (const std::string& paragraph : paragraphs) {
            tokens += tokenCount(paragraph);
            bytes += paragraph.size();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["tokens/s"] = benchmark::Counter(static_cast<double>(tokens), benchmark::Counter::kIsRate);
    state.counters["bytes/token"] = static_cast<double>(bytes) / static_cast<double>(tokens);
}

void encodeCorpus(benchmark::State& state, const std::string& relative) {
    runCorpus(state, relative, [](const std::string& paragraph) {
        std::vector<int> ids = tokenizer().encode(paragraph);
        benchmark::DoNotOptimize(ids.data());
        return ids.size();
    });
}

/// Token strings, which take the model's uncached road: every word is merged afresh.
void tokenizeCorpus(benchmark::State& state, const std::string& relative) {
    runCorpus(state, relative, [](const std::string& paragraph) {
        std::vector<std::string> pieces = tokenizer().tokenize(paragraph);
        benchmark::DoNotOptimize(pieces.data());
        return pieces.size();
    });
}

void decodeCorpus(benchmark::State& state, const std::string& relative) {
    const korbit::TokenizerWrapper& t = tokenizer();
    std::vector<std::vector<int>> encoded;
    for (const std::string& paragraph : corpus(relative)) encoded.push_back(t.encode(paragraph));
    std::size_t bytes = 0;
    std::size_t tokens = 0;
    for (auto _ : state) {
        for (const std::vector<int>& ids : encoded) {
            std::string text = t.decode(ids);
            bytes += text.size();
            tokens += ids.size();
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["tokens/s"] = benchmark::Counter(static_cast<double>(tokens), benchmark::Counter::kIsRate);
}

void loadWhisperTokenizer(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(korbit::AutoTokenizerWrapper::fromModelFolder(kMultilingual, true));
}

void encodeEnglish(benchmark::State& state) {
    encodeCorpus(state, "prose/english.txt");
}
void encodeRussian(benchmark::State& state) {
    encodeCorpus(state, "prose/russian.txt");
}
void tokenizeEnglishUncached(benchmark::State& state) {
    tokenizeCorpus(state, "prose/english.txt");
}
void tokenizeRussianUncached(benchmark::State& state) {
    tokenizeCorpus(state, "prose/russian.txt");
}
void decodeEnglish(benchmark::State& state) {
    decodeCorpus(state, "prose/english.txt");
}
void decodeRussian(benchmark::State& state) {
    decodeCorpus(state, "prose/russian.txt");
}

}  // namespace

BENCHMARK(loadWhisperTokenizer)->Unit(benchmark::kMillisecond);
BENCHMARK(encodeEnglish)->Unit(benchmark::kMillisecond);
BENCHMARK(encodeRussian)->Unit(benchmark::kMillisecond);
BENCHMARK(tokenizeEnglishUncached)->Unit(benchmark::kMillisecond);
BENCHMARK(tokenizeRussianUncached)->Unit(benchmark::kMillisecond);
BENCHMARK(decodeEnglish)->Unit(benchmark::kMillisecond);
BENCHMARK(decodeRussian)->Unit(benchmark::kMillisecond);
