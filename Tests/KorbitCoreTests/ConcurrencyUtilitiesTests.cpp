#include "KorbitCore/EarlyStopActor.hpp"
#include "KorbitCore/PropertyLock.hpp"
#include "KorbitCore/UUID.hpp"
#include "KorbitCore/UnfairLock.hpp"
#include "KorbitCore/WeakSendableWrapper.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

using namespace korbit;

namespace {

template <typename Body>
void runOnThreads(int count, Body body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
    for (std::thread& thread : threads) thread.join();
}

}  // namespace

TEST(UnfairLock, ExcludesAndSurvivesAThrowingOperation) {
    UnfairLock lock;
    long counter = 0;  // plain: only the lock keeps the increments whole
    runOnThreads(4, [&](int) {
        for (int i = 0; i < 10000; ++i) lock.withLock([&] { ++counter; });
    });
    EXPECT_EQ(counter, 40000);

    EXPECT_THROW(lock.withLock([]() -> int { throw std::runtime_error("inside"); }), std::runtime_error);
    // The lock was released on the way out: another thread can take it.
    std::thread other([&] { EXPECT_EQ(lock.withLock([] { return 42; }), 42); });
    other.join();
    std::string& ref = lock.withLock([&]() -> std::string& {
        static std::string shared = "by reference";
        return shared;
    });
    EXPECT_EQ(ref, "by reference");
}

TEST(PropertyLock, GetSetModifyAndCopies) {
    PropertyLock<std::string> text("abc");
    EXPECT_EQ(text.wrappedValue(), "abc");
    text.setWrappedValue("def");
    text.modify([](std::string& value) { value += "!"; });
    EXPECT_EQ(text.wrappedValue(), "def!");

    // The change is written back even when it ends by an error.
    EXPECT_THROW(text.modify([](std::string& value) {
        value = "partial";
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(text.wrappedValue(), "partial");

    // A copy has its own value.
    PropertyLock<std::string> copy = text;
    copy.setWrappedValue("copy");
    EXPECT_EQ(text.wrappedValue(), "partial");
    EXPECT_EQ(copy.wrappedValue(), "copy");
    text = copy;
    EXPECT_EQ(text.wrappedValue(), "copy");

    PropertyLock<std::vector<int>> empty;
    EXPECT_TRUE(empty.wrappedValue().empty());
}

TEST(PropertyLock, ConcurrentReadersAndWritersSeeWholeValues) {
    PropertyLock<std::string> value(std::string(64, 'a'));
    PropertyLock<std::string> sharingTheLock = value;
    std::atomic<int> torn{0};
    runOnThreads(4, [&](int t) {
        for (int i = 0; i < 2000; ++i) {
            if (t % 2 == 0) {
                value.setWrappedValue(std::string(64, static_cast<char>('a' + i % 26)));
                sharingTheLock.setWrappedValue(std::string(32, 'z'));
            } else {
                std::string seen = value.wrappedValue();
                if (seen.size() != 64 || seen.find_first_not_of(seen[0]) != std::string::npos) ++torn;
            }
        }
    });
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(sharingTheLock.wrappedValue(), std::string(32, 'z'));
}

TEST(PropertyLock, JsonFormIsTheBareValue) {
    nlohmann::json number = PropertyLock<int>(7);
    EXPECT_EQ(number.dump(), "7");
    nlohmann::json text = PropertyLock<std::string>("abc");
    EXPECT_EQ(text, nlohmann::json("abc"));

    auto decoded = nlohmann::json::parse("42").get<PropertyLock<int>>();
    EXPECT_EQ(decoded.wrappedValue(), 42);
    auto list = nlohmann::json::parse(R"([1,2,3])").get<PropertyLock<std::vector<int>>>();
    EXPECT_EQ(list.wrappedValue(), (std::vector<int>{1, 2, 3}));
    EXPECT_THROW(nlohmann::json::parse(R"("seven")").get<PropertyLock<int>>(), nlohmann::json::type_error);
}

TEST(WeakSendableWrapper, DoesNotKeepTheObjectAlive) {
    auto object = std::make_shared<std::string>("alive");
    WeakSendableWrapper<std::string> box(object);
    ASSERT_NE(box.value(), nullptr);
    EXPECT_EQ(*box.value(), "alive");
    EXPECT_EQ(object.use_count(), 1);
    object.reset();
    EXPECT_EQ(box.value(), nullptr);
}

TEST(EarlyStopActor, FlagsPerIdentifier) {
    EarlyStopActor actor;
    UUID id, other;
    EXPECT_FALSE(actor.get(id));
    EXPECT_EQ(actor.remove(id), std::nullopt);

    actor.set(true, id);
    actor.set(false, other);
    EXPECT_TRUE(actor.get(id));
    EXPECT_FALSE(actor.get(other));
    EXPECT_EQ(actor.remove(id), true);
    EXPECT_EQ(actor.remove(id), std::nullopt);
    EXPECT_FALSE(actor.get(id));

    actor.set(false, id);
    actor.set(true, id);
    EXPECT_TRUE(actor.get(id));
    EXPECT_EQ(actor.remove(other), false);
}

TEST(EarlyStopActor, ConcurrentRunsKeepTheirOwnFlags) {
    EarlyStopActor actor;
    std::atomic<int> wrong{0};
    runOnThreads(6, [&](int t) {
        for (int i = 0; i < 500; ++i) {
            UUID run;
            actor.set(false, run);
            if (actor.get(run)) ++wrong;
            bool stop = (t + i) % 2 == 0;
            if (stop) actor.set(true, run);
            if (actor.get(run) != stop) ++wrong;
            if (actor.remove(run) != stop) ++wrong;
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

TEST(UUID, TextFormRoundTripsAndIdentifiersDiffer) {
    UUID id;
    std::string text = id.uuidString();
    EXPECT_EQ(text.size(), 36u);
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
    EXPECT_EQ(text[8], '-');
    EXPECT_EQ(text[14], '4');  // version 4
    EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
    EXPECT_EQ(UUID::fromString(text), id);

    auto parsed = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(parsed->bytes()[0], 0xE6);
    EXPECT_EQ(parsed->bytes()[15], 0x5F);
    for (const char* bad : {"E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",
                            "E621E1F8-C36C-495A93FC-0C247A3E6E5F0"})
        EXPECT_EQ(UUID::fromString(bad), std::nullopt) << bad;

    std::unordered_set<UUID> hashed;
    std::set<UUID> ordered;
    for (int i = 0; i < 1000; ++i) {
        UUID fresh;
        hashed.insert(fresh);
        ordered.insert(fresh);
    }
    EXPECT_EQ(hashed.size(), 1000u);
    EXPECT_EQ(ordered.size(), 1000u);
    EXPECT_LT(UUID(UUID::Bytes{0x01}), UUID(UUID::Bytes{0x02}));
}
