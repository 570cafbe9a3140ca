#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

CommandLineResult Parse(QStringList args) {
    args.prepend("kestrow");
    return ParseCommandLine(args);
}

TEST(CommandLineTest, DefaultsWithoutOptions) {
    const CommandLineResult result = Parse({});
    ASSERT_EQ(result.outcome, CommandLineResult::kRun);
    EXPECT_EQ(result.options.startupPauseMs, 5000);
    EXPECT_EQ(result.options.clientSize, QSize(240, 268));
    EXPECT_FALSE(result.options.simulate);
    EXPECT_FALSE(result.options.headless);
    EXPECT_TRUE(result.options.port.isEmpty());
}

TEST(CommandLineTest, EveryOptionIsRead) {
    const CommandLineResult result =
        Parse({"--simulate=quiet.json", "--open", "a.ksf", "--script", "-", "--headless",
               "--startup-pause", "0", "--client-size", "320x400"});
    ASSERT_EQ(result.outcome, CommandLineResult::kRun) << result.error.toStdString();
    const KestrowOptions& o = result.options;
    EXPECT_EQ(Parse({"--port", "/dev/ttyUSB0"}).options.port, "/dev/ttyUSB0");
    EXPECT_TRUE(o.simulate);
    EXPECT_EQ(o.scenario, "quiet.json");
    EXPECT_EQ(o.openSite, "a.ksf");
    EXPECT_EQ(o.script, "-");
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.startupPauseMs, 0);
    EXPECT_EQ(o.clientSize, QSize(320, 400));
    EXPECT_EQ(o.profile, "voice");
    EXPECT_EQ(Parse({"--profile", "data"}).options.profile, "data");

    const CommandLineResult plain = Parse({"--simulate"});
    EXPECT_TRUE(plain.options.simulate);
    EXPECT_TRUE(plain.options.scenario.isEmpty());

    const CommandLineResult port = Parse({"--port", "/dev/ttyUSB0"});
    ASSERT_EQ(port.outcome, CommandLineResult::kRun) << port.error.toStdString();
    EXPECT_EQ(port.options.port, "/dev/ttyUSB0");
    EXPECT_FALSE(port.options.simulate);
}

TEST(CommandLineTest, UsageErrorsExitWithTwoAndOneLine) {
    for (const QStringList& args :
         {QStringList{"--client-size", "240"}, QStringList{"--client-size", "0x10"},
          QStringList{"--startup-pause", "-1"}, QStringList{"--startup-pause", "soon"},
          QStringList{"--bogus"}, QStringList{"extra"}, QStringList{"--simulate="},
          QStringList{"--open"}}) {
        const CommandLineResult result = Parse(args);
        EXPECT_EQ(result.outcome, CommandLineResult::kExit) << args.join(' ').toStdString();
        EXPECT_EQ(result.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(result.error.startsWith("kestrow: "));
        EXPECT_FALSE(result.error.contains('\n'));
    }
}

// Sizes beyond 16384 a side are usage errors.
TEST(CommandLineTest, ClientSizeIsBounded) {
    for (const QStringList& args :
         {QStringList{"--client-size", "16385x268"}, QStringList{"--client-size", "240x99999"},
          QStringList{"--client-size", "46340x46340"}}) {
        const CommandLineResult result = Parse(args);
        EXPECT_EQ(result.exitCode, 2) << args.join(' ').toStdString();
    }
    const CommandLineResult largest = Parse({"--client-size", "16384x16384"});
    ASSERT_EQ(largest.outcome, CommandLineResult::kRun) << largest.error.toStdString();
    EXPECT_EQ(largest.options.clientSize, QSize(16384, 16384));
}

TEST(CommandLineTest, OneScannerSourceAndTheWifiOptions) {
    const KestrowOptions adapter = Parse({"--wifi=wlan1", "--wifi-scans", "3"}).options;
    EXPECT_TRUE(adapter.wifi);
    EXPECT_EQ(adapter.wifiInterface, "wlan1");
    EXPECT_EQ(adapter.wifiScans, 3);
    const KestrowOptions any = Parse({"--wifi"}).options;
    EXPECT_TRUE(any.wifi);
    EXPECT_TRUE(any.wifiInterface.isEmpty());
    EXPECT_EQ(any.wifiScans, 1);
    const CommandLineResult replay = Parse({"--wifi-replay", "scans.dump", "--wifi-scans", "100"});
    ASSERT_EQ(replay.outcome, CommandLineResult::kRun) << replay.error.toStdString();
    EXPECT_FALSE(replay.options.wifi);
    EXPECT_EQ(replay.options.wifiReplay, "scans.dump");
    EXPECT_EQ(replay.options.wifiScans, 100);
    const KestrowOptions saving =
        Parse({"--wifi", "--wifi-full-6ghz", "--wifi-save-dump", "survey.dump"}).options;
    EXPECT_TRUE(saving.wifiFull6Ghz);
    EXPECT_EQ(saving.wifiSaveDump, "survey.dump");

    const QStringList sources[] = {{"--port", "/dev/ttyUSB0"}, {"--simulate"},
                                   {"--simulate=office.json"}, {"--wifi"},
                                   {"--wifi=wlan0"},           {"--wifi-replay", "scans.dump"}};
    for (const QStringList& first : sources) {
        for (const QStringList& second : sources) {
            if (first.first().section('=', 0, 0) == second.first().section('=', 0, 0)) {
                continue;
            }
            const CommandLineResult result = Parse(first + second);
            EXPECT_EQ(result.exitCode, 2) << (first + second).join(' ').toStdString();
            EXPECT_EQ(result.error,
                      "kestrow: --port, --simulate, --wifi and --wifi-replay "
                      "exclude each other");
        }
    }
    for (const QStringList& args :
         {QStringList{"--wifi-scans", "2"}, QStringList{"--simulate", "--wifi-scans", "2"},
          QStringList{"--wifi", "--wifi-scans", "0"}, QStringList{"--wifi", "--wifi-scans", "101"},
          QStringList{"--wifi", "--wifi-scans", "two"}, QStringList{"--wifi="},
          QStringList{"--wifi-replay"}, QStringList{"--wifi", "--trace", "line.trace"},
          QStringList{"--simulate", "--wifi-save-dump", "x.dump"},
          QStringList{"--wifi-replay", "a.dump", "--wifi-full-6ghz"}}) {
        const CommandLineResult result = Parse(args);
        EXPECT_EQ(result.outcome, CommandLineResult::kExit) << args.join(' ').toStdString();
        EXPECT_EQ(result.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(result.error.contains('\n'));
    }
}

TEST(CommandLineTest, HelpAndVersionExitWithZero) {
    const CommandLineResult help = Parse({"--help"});
    EXPECT_EQ(help.outcome, CommandLineResult::kExit);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.contains("--client-size"));
    EXPECT_TRUE(help.output.startsWith("Usage: kestrow "));
    EXPECT_TRUE(help.output.contains("hold X Y [delete]"));
    EXPECT_TRUE(help.output.contains("open PATH [keep|discard] [recover|norecover]"));
    EXPECT_TRUE(help.output.contains("close save|discard|cancel"));
    const CommandLineResult version = Parse({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, "kestrow 1.0.0\n");
}

}  // namespace
