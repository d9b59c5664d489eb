// Reading a tokenizer.json-sized file into a Config: the Whisper vocabulary (50k entries) and its
// 50k merges in the layout of a tokenizer.json, about 1.6 MB.

#include "KorbitCore/External/Hub/Config.hpp"
#include "KorbitCore/External/Hub/Extensions/BomPreservingJson.hpp"

#include "BenchmarkData.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace {

using velmora::bench::readData;

const std::string& tokenizerJson() {
    static const std::string bytes = [] {
        nlohmann::json merges = nlohmann::json::array();
        std::istringstream lines(readData("whisper-vocab/multilingual/merges.txt"));
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line[0] != '#') merges.push_back(line);
        }
        nlohmann::json file = {
            {"version", "1.0"},
            {"added_tokens", nlohmann::json::array({{{"id", 50257}, {"content", "<|endoftext|>"}, {"special", true}}})},
            {"normalizer", nullptr},
            {"pre_tokenizer", {{"type", "ByteLevel"}, {"add_prefix_space", false}, {"trim_offsets", true}}},
            {"decoder", {{"type", "ByteLevel"}}},
            {"model",
             {{"type", "BPE"},
              {"vocab", nlohmann::json::parse(readData("whisper-vocab/multilingual/vocab.json"))},
              {"merges", merges}}},
        };
        return file.dump();
    }();
    return bytes;
}

void parseDirect(benchmark::State& state) {
    const std::string& bytes = tokenizerJson();
    for (auto _ : state) benchmark::DoNotOptimize(korbit::Config::parseJson(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void parseTreeThenConvert(benchmark::State& state) {
    const std::string& bytes = tokenizerJson();
    for (auto _ : state) {
        benchmark::DoNotOptimize(korbit::Config::convertToBinaryDistinctKeys(korbit::bomPreservingJsonObject(bytes)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void parseTreeOnly(benchmark::State& state) {
    const std::string& bytes = tokenizerJson();
    for (auto _ : state) benchmark::DoNotOptimize(korbit::bomPreservingJsonObject(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void memberLookups(benchmark::State& state) {
    const korbit::Config config = korbit::Config::parseJson(tokenizerJson());
    for (auto _ : state) {
        const korbit::Config model = config["model"];
        benchmark::DoNotOptimize(model["vocab"]["\xC4\xA0the"].integer());
        benchmark::DoNotOptimize(config["preTokenizer"]["addPrefixSpace"].boolean());  // two snake_case fallbacks
        benchmark::DoNotOptimize(model["fuseUnk"].boolean());                          // a miss in both forms
    }
}

void vocabularyWalk(benchmark::State& state) {
    const korbit::Config config = korbit::Config::parseJson(tokenizerJson());
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (const auto& [token, id] : *config["model"]["vocab"].dictionary()) sum += id.integer().value_or(0);
        benchmark::DoNotOptimize(sum);
    }
}

}  // namespace

BENCHMARK(parseDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(parseTreeThenConvert)->Unit(benchmark::kMillisecond);
BENCHMARK(parseTreeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(memberLookups);
BENCHMARK(vocabularyWalk)->Unit(benchmark::kMicrosecond);
