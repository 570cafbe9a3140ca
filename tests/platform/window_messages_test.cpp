#include "platform/window_messages.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(RegisterWindowMessage, SameNameSameNumberFromTheRegisteredRange) {
    platform::MessageId draw = platform::RegisterWindowMessage("KORV_DRAW");
    platform::MessageId status = platform::RegisterWindowMessage("KORV_STATUS_UPDATE");
    EXPECT_GE(draw, 0xC000u);
    EXPECT_GE(status, 0xC000u);
    EXPECT_NE(draw, status);
    EXPECT_EQ(platform::RegisterWindowMessage("KORV_DRAW"), draw);
    EXPECT_EQ(platform::RegisterWindowMessage(std::string("KORV_STATUS_UPDATE").c_str()), status);
}

TEST(RegisterWindowMessage, ConcurrentRegistrationsAgree) {
    constexpr int kThreads = 4;
    constexpr int kNames = 50;
    std::vector<std::map<std::string, platform::MessageId>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < kNames; ++i) {
                // Each thread walks the names in its own order.
                int n = (i * (t + 1) * 7) % kNames;
                std::string name = "TEST_MESSAGE_" + std::to_string(n);
                seen[t][name] = platform::RegisterWindowMessage(name.c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<platform::MessageId> distinct;
    for (const auto& [name, id] : seen[0]) {
        distinct.insert(id);
        for (int t = 1; t < kThreads; ++t) {
            if (seen[t].count(name)) {
                EXPECT_EQ(seen[t].at(name), id) << name;
            }
        }
    }
    EXPECT_EQ(distinct.size(), seen[0].size());
}

}  // namespace
