#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class CountingHandler : public platform::MessageBoxHandler {
  public:
    std::atomic<int> shown{0};
    std::string lastText, lastCaption;
    unsigned lastStyle = 0;
    int Show(const std::string& text, const std::string& caption, unsigned style) override {
        if (++shown == 1) {
            lastText = text;
            lastCaption = caption;
            lastStyle = style;
        }
        return platform::kIdNo;
    }
};

TEST(MessageBox, DefaultWritesToStandardErrorAndAnswersYesOrOk) {
    testing::internal::CaptureStderr();
    int ok = platform::MessageBox("Com Port Error", "Kestrow", platform::kMbOk);
    int yes = platform::MessageBox("Keep existing data points?", "Kestrow",
                                   platform::kMbYesNo | platform::kMbIconExclamation);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, platform::kIdOk);
    EXPECT_EQ(yes, platform::kIdYes);
    EXPECT_EQ(written, "Kestrow | Com Port Error\nKestrow | Keep existing data points?\n");
}

TEST(MessageBox, InstalledHandlerGetsEveryBoxUntilRemoved) {
    CountingHandler handler;
    platform::SetMessageBoxHandler(&handler);
    EXPECT_EQ(platform::MessageBox("text", "caption", platform::kMbYesNo), platform::kIdNo);
    EXPECT_EQ(handler.lastText, "text");
    EXPECT_EQ(handler.lastCaption, "caption");
    EXPECT_EQ(handler.lastStyle, static_cast<unsigned>(platform::kMbYesNo));

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 25; ++i) {
                platform::MessageBox("from a thread", "caption", platform::kMbOk);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(handler.shown, 101);

    platform::SetMessageBoxHandler(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::MessageBox("back to default", "c", platform::kMbOk), platform::kIdOk);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(handler.shown, 101);
}

}  // namespace
