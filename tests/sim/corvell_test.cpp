// The corvell tool as a person runs it: decode --describe on a capture, and
// sim on a pseudo-terminal with a link, ended by a signal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "sim/unit_protocol.h"

extern char** environ;

namespace {

using sim::Bytes;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string TempPath(const char* name) {
    return ::testing::TempDir() + "corvell_test_" + std::to_string(::getpid()) + "_" + name;
}

// Runs corvell to completion with stdout and stderr captured in files.
ToolRun Corvell(const std::vector<std::string>& args) {
    std::string outPath = TempPath("out"), errPath = TempPath("err");
    std::string command = std::string(CORVELL_PATH);
    for (const std::string& a : args) {
        command += " '" + a + "'";
    }
    command += " >" + outPath + " 2>" + errPath;
    ToolRun run;
    run.status = std::system(command.c_str());
    run.out = Slurp(outPath);
    run.err = Slurp(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

// Writes bytes to a scratch file and decodes it.
ToolRun DecodeBytes(const Bytes& stream) {
    std::string capture = TempPath("stream.bin");
    std::ofstream(capture, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), stream.size());
    ToolRun run = Corvell({"decode", capture});
    std::remove(capture.c_str());
    return run;
}

// The codec's own frames are checked in tests/tools; these are the edges of
// the command line itself.
TEST(Corvell, EncodeTypesAreDecimalOrHexAndErrorsAreOneLine) {
    // Decimal stays decimal with a leading zero; hexadecimal needs its 0x.
    EXPECT_EQ("11 12 0A 11 13\n", Corvell({"encode", "010"}).out);
    EXPECT_EQ("11 12 FF 11 13\n", Corvell({"encode", "0XfF"}).out);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"encode", "-1"},
                                               {"encode", "0x"},
                                               {"encode", "+5"},
                                               {"encode", " 5"},
                                               {"encode", "5x"},
                                               {"encode", "1", "ABC"},
                                               {}}) {
        ToolRun run = Corvell(bad);
        EXPECT_EQ(2, WEXITSTATUS(run.status)) << bad.size();
        EXPECT_EQ("", run.out);
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
    ToolRun tooLong = Corvell({"encode", "1", std::string(2 * 124, 'A')});
    EXPECT_EQ(1, WEXITSTATUS(tooLong.status));
    EXPECT_EQ(1, std::count(tooLong.err.begin(), tooLong.err.end(), '\n'));
}

TEST(Corvell, HelpAndVersionAnswerAfterACommandToo) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"encode", "--help"}, {"decode", "--help"}, {"sim", "--help"}}) {
        ToolRun run = Corvell(args);
        EXPECT_EQ(0, WEXITSTATUS(run.status));
        EXPECT_EQ(0u, run.out.find("Usage: corvell encode TYPE [HEX...]"));
    }
    ToolRun version = Corvell({"decode", "--version"});
    EXPECT_EQ(0, WEXITSTATUS(version.status));
    EXPECT_EQ(0u, version.out.find("corvell "));
}

TEST(Corvell, DecodeReadsBackToBackFramesAndDropsOverlongOnes) {
    // The two passes after a delivery read nothing, so a frame right behind
    // another is read whole.
    EXPECT_EQ("type=01 length=0 payload=\ntype=02 length=0 payload=\n",
              DecodeBytes({0x11, 0x12, 0x01, 0x11, 0x13, 0x11, 0x12, 0x02, 0x11, 0x13}).out);

    // A payload over the 8192-byte buffer is abandoned, not overrun.
    Bytes huge = {0x11, 0x12, 0x07};
    huge.insert(huge.end(), 9000, 0x41);
    huge.insert(huge.end(), {0x11, 0x13, 0x00, 0x00});
    Bytes after = sim::EncodeUnitFrame(2, {'O', 'K'});
    huge.insert(huge.end(), after.begin(), after.end());
    ToolRun run = DecodeBytes(huge);
    EXPECT_EQ(0, WEXITSTATUS(run.status));
    EXPECT_EQ("type=02 length=2 payload=4F 4B\n", run.out);
}

TEST(Corvell, DecodeFailuresAreOneLineAndExitOne) {
    ToolRun missing = Corvell({"decode", TempPath("no-such-capture")});
    EXPECT_EQ(1, WEXITSTATUS(missing.status));
    EXPECT_EQ(1, std::count(missing.err.begin(), missing.err.end(), '\n'));

    // A directory opens but cannot be read: an error, not an empty decode.
    ToolRun directory = Corvell({"decode", ::testing::TempDir()});
    EXPECT_EQ(1, WEXITSTATUS(directory.status));
    EXPECT_EQ("", directory.out);
    EXPECT_EQ(1, std::count(directory.err.begin(), directory.err.end(), '\n'));

    EXPECT_EQ(2, WEXITSTATUS(Corvell({"decode", "a", "b"}).status));
    EXPECT_EQ(2, WEXITSTATUS(Corvell({"decode", "--bogus"}).status));
}

// A wire trace as kestrow --trace writes it: the host's frames written whole,
// the unit's bytes one read each. Messages come out in time order, each led
// by its direction; a pause longer than a read's time-out inside a frame
// loses that frame, as it did on the line.
TEST(Corvell, DecodeTraceReadsBothDirectionsInTimeOrder) {
    const std::string trace = TempPath("trace");
    {
        std::ofstream out(trace);
        out << "# 0.000100 opened /dev/ttyUSB0\n"
               "0.100000 tx 11 12 01 11 13\n"
               "0.120000 rx 11\n0.120300 rx 12\n0.120600 rx 01 56\n0.120900 rx 31\n"
               "0.121200 rx 11\n0.121500 rx 13\n"
               "0.121800 tx 11 12 02 11 13\n"
               "0.140000 rx 11\n0.140300 rx 12\n0.140600 rx 02\n"
               "0.900000 rx 41 11 13\n"  // 0.76 s later: that frame is lost
               "\n";
    }
    ToolRun run = Corvell({"decode", "--trace", trace});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "tx type=01 length=0 payload=\n"
              "rx type=01 length=2 payload=56 31\n"
              "tx type=02 length=0 payload=\n");

    {
        std::ofstream out(trace, std::ios::app);
        out << "1.000000 rx 1G\n";
    }
    run = Corvell({"decode", "--trace", trace});
    EXPECT_EQ(WEXITSTATUS(run.status), 1);
    EXPECT_EQ(run.err, "corvell: " + trace + ":15: '1G' is not a byte in hexadecimal\n");
    EXPECT_EQ(WEXITSTATUS(Corvell({"decode", "--trace"}).status), 2);
    std::remove(trace.c_str());
}

TEST(Corvell, DecodeDescribeAddsAnIndentedReadingOfEachMessage) {
    Bytes stream = {0x00, 0x00};  // keep-alive first
    auto add = [&stream](uint8_t type, const Bytes& payload) {
        Bytes frame = sim::EncodeUnitFrame(type, payload);
        stream.insert(stream.end(), frame.begin(), frame.end());
    };
    add(1, {});
    add(2, {'A', '1', 'B', '2', 'C', '3', 'D', '4'});
    add(3, {0x01, 0x00, 0x1C, 0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0x3A});
    add(3, {0x00});
    add(4, {0x00, 0x00, 0xFF, 0x02, 0x00, 0x03});
    std::string capture = TempPath("capture.bin");
    std::ofstream(capture, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), stream.size());

    ToolRun run = Corvell({"decode", "--describe", capture});
    std::remove(capture.c_str());
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(
        "type=01 length=0 payload=\n"
        "    firmware-version request\n"
        "type=02 length=8 payload=41 31 42 32 43 33 44 34\n"
        "    serial number \"A1B2C3D4\"\n"
        "type=03 length=12 payload=01 00 1C 00 00 10 00 00 00 00 00 3A\n"
        "    scan command, channel step 16\n"
        "type=03 length=1 payload=00\n"
        "    radio not responding\n"
        "type=04 length=6 payload=00 00 FF 02 00 03\n"
        "    sub-code 030002FF, restart: the sweep starts again at step 1\n",
        run.out);

    // Without --describe the output stays one line a message.
    ToolRun plain = Corvell({"decode", "/dev/null"});
    EXPECT_EQ(0, plain.status);
    EXPECT_EQ("", plain.out);
}

TEST(Corvell, SimRefusesABrokenScenarioNamingTheField) {
    std::string path = TempPath("bad.json");
    std::ofstream(path) << R"({"access_points": [{"mac": "00:0a:1b:2c:3d:4e", "step": 0}]})";
    ToolRun run = Corvell({"sim", "--scenario", path});
    std::remove(path.c_str());
    EXPECT_EQ(1, WEXITSTATUS(run.status));
    EXPECT_EQ("", run.out);
    EXPECT_EQ("corvell: " + path + ": access_points[0].step: must be an integer from 1 to 16\n",
              run.err);

    ToolRun usage = Corvell({"sim", "--bogus"});
    EXPECT_EQ(2, WEXITSTATUS(usage.status));
}

TEST(Corvell, SimServesOnItsTerminalAndLinkUntilSignalled) {
    std::string link = TempPath("link");
    std::string errPath = TempPath("sim_err");
    int out[2];
    ASSERT_EQ(0, ::pipe(out));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> args = {CORVELL_PATH, "sim", "--link", link, "--verbose"};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, CORVELL_PATH, &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    // The first line is the terminal's path; it is printed once the link exists.
    std::string firstLine;
    char c = 0;
    pollfd p{out[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') {
        firstLine += c;
    }
    EXPECT_EQ(0u, firstLine.find("/dev/pts/")) << firstLine;
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(firstLine, target);

    int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    const uint8_t request[] = {0x11, 0x12, 0x01, 0x11, 0x13};
    ASSERT_EQ(5, ::write(fd, request, sizeof request));
    Bytes expected = sim::EncodeUnitFrame(1, {'C', 'V', '-', '2', '.', '1', '0'});
    Bytes got;
    pollfd q{fd, POLLIN, 0};
    while (got.size() < expected.size() && ::poll(&q, 1, 10000) > 0) {
        uint8_t buffer[64];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_EQ(expected, got);
    ::close(fd);

    ASSERT_EQ(0, ::kill(pid, SIGTERM));
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    struct stat st;
    EXPECT_NE(0, ::lstat(link.c_str(), &st)) << "the link is removed at the end";
    std::string log = Slurp(errPath);
    EXPECT_NE(std::string::npos, log.find("host> type=01 length=0 payload=\n")) << log;
    EXPECT_NE(std::string::npos, log.find("unit> type=01 length=7 payload=43 56 2D 32 2E 31 30\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("firmware version \"CV-2.10\"")) << log;
    ::close(out[0]);
    std::remove(errPath.c_str());
}

}  // namespace
