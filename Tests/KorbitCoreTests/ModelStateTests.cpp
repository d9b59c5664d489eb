#include "KorbitCore/ModelState.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <unordered_set>

using korbit::ModelState;

TEST(ModelState, DescriptionsAndBusyStates) {
    struct Row {
        ModelState state;
        const char* description;
        bool busy;
    };
    const Row rows[] = {
        {ModelState::unloading, "Unloading", true},     {ModelState::unloaded, "Unloaded", false},
        {ModelState::loading, "Loading", true},         {ModelState::loaded, "Loaded", false},
        {ModelState::prewarming, "Specializing", true}, {ModelState::prewarmed, "Specialized", false},
        {ModelState::downloading, "Downloading", true}, {ModelState::downloaded, "Downloaded", false},
    };
    std::unordered_set<ModelState> distinct;
    for (const Row& row : rows) {
        EXPECT_EQ(description(row.state), row.description);
        EXPECT_EQ(isBusy(row.state), row.busy) << row.description;
        std::ostringstream text;
        text << row.state;
        EXPECT_EQ(text.str(), row.description);
        distinct.insert(row.state);
    }
    EXPECT_EQ(distinct.size(), 8u);
}
