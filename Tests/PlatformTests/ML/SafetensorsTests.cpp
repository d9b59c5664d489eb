#include "Platform/ML/Safetensors.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <cstring>

using namespace platform::ml;
using velmora::test::TempDir;
using velmora::test::writeFile;

namespace {

std::string withHeader(const std::string& json, const std::string& data) {
    std::string out(8, '\0');
    const std::uint64_t n = json.size();
    std::memcpy(out.data(), &n, 8);
    return out + json + data;
}

std::string loadError(const std::filesystem::path& path) {
    return velmora::test::messageOf<SafetensorsError>([&] { SafetensorsFile f(path); });
}

}  // namespace

TEST(Safetensors, WritesAndMapsTensorsBack) {
    TempDir dir;
    std::vector<TensorData> tensors{TensorData::fromFloats("b", {2, 2}, {1, -2, 3.5f, 65504}, TensorDataType::F16),
                                    TensorData::fromFloats("a", {3}, {0.1f, 0.2f, 0.3f}, TensorDataType::F32)};
    writeSafetensors(dir / "w.safetensors", tensors, {{"format", "pt"}});
    SafetensorsFile f(dir / "w.safetensors");
    EXPECT_EQ(f.metadata().at("format"), "pt");
    ASSERT_TRUE(f.contains("a") && f.contains("b"));
    EXPECT_EQ(f.find("b")->shape, (std::vector<std::int64_t>{2, 2}));
    EXPECT_EQ(f.find("b")->toFloat(), (std::vector<float>{1, -2, 3.5f, 65504}));
    EXPECT_EQ(f.find("a")->toFloat(), (std::vector<float>{0.1f, 0.2f, 0.3f}));
    EXPECT_EQ(f.find("missing"), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(f.find("a")->data) % 8, 0u);
}

TEST(Safetensors, EmptyTensorsReadAsNoValues) {
    // A tensor with a zero dimension holds no bytes; reading it copies nothing (the sanitizer
    // build once caught a copy to the empty vector's null data).
    TempDir dir;
    writeFile(dir / "e.safetensors", withHeader(R"({"e":{"dtype":"F32","shape":[0,3],"data_offsets":[0,0]},)"
                                                R"("h":{"dtype":"F16","shape":[4,0],"data_offsets":[0,0]}})",
                                                ""));
    SafetensorsFile f(dir / "e.safetensors");
    ASSERT_TRUE(f.contains("e") && f.contains("h"));
    EXPECT_EQ(f.find("e")->count(), 0);
    EXPECT_TRUE(f.find("e")->toFloat().empty());
    EXPECT_TRUE(f.find("h")->toFloat().empty());
}

TEST(Safetensors, DamagedFilesNameTheirProblem) {
    TempDir dir;
    EXPECT_NE(loadError(dir / "none.safetensors").find("Cannot open"), std::string::npos);
    writeFile(dir / "short", "abc");
    EXPECT_NE(loadError(dir / "short").find("truncated"), std::string::npos);
    writeFile(dir / "header", withHeader("{\"x\": 1}", "").substr(0, 12));  // the header is cut short
    EXPECT_NE(loadError(dir / "header").find("truncated"), std::string::npos);
    writeFile(dir / "syntax", withHeader("{\"x\":", ""));
    EXPECT_NE(loadError(dir / "syntax").find("malformed header"), std::string::npos);
    writeFile(dir / "json", withHeader("[1, 2]", ""));
    EXPECT_NE(loadError(dir / "json").find("malformed header"), std::string::npos);
    writeFile(dir / "dtype", withHeader(R"({"w":{"dtype":"Q4","shape":[2],"data_offsets":[0,2]}})", "xx"));
    EXPECT_NE(loadError(dir / "dtype").find("unknown element type \"Q4\""), std::string::npos);
    writeFile(dir / "size", withHeader(R"({"w":{"dtype":"F32","shape":[2],"data_offsets":[0,4]}})", "xxxx"));
    EXPECT_NE(loadError(dir / "size").find("need 8"), std::string::npos);
    writeFile(dir / "cut", withHeader(R"({"w":{"dtype":"F32","shape":[2],"data_offsets":[0,8]}})", "xxxx"));
    const auto cut = loadError(dir / "cut");
    EXPECT_NE(cut.find("truncated"), std::string::npos);
    EXPECT_NE(cut.find("\"w\""), std::string::npos);
    writeFile(dir / "entry", withHeader(R"({"w":{"dtype":"F32"}})", ""));
    EXPECT_NE(loadError(dir / "entry").find("malformed entry"), std::string::npos);
}
