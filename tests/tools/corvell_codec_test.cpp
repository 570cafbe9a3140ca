// corvell encode and decode as a person runs them: every framing example,
// the stuffing, the frames the receive machine loses, and the exit codes.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct ToolRun {
    int status;
    std::string out;
};

// Runs corvell with the given arguments (shell words) and optional input bytes.
ToolRun Corvell(const std::string& args, const std::string& input = "") {
    std::string inPath = ::testing::TempDir() + "corvell_in_" + std::to_string(getpid());
    std::ofstream(inPath, std::ios::binary) << input;
    std::string command = std::string(CORVELL_EXE) + " " + args + " <" + inPath + " 2>/dev/null";
    ToolRun run{-1, ""};
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            run.out.append(buffer, n);
        }
        int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::remove(inPath.c_str());
    return run;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

TEST(CorvellEncode, PrintsTheFramesOfTheProtocol) {
    EXPECT_EQ(Corvell("encode 1").out, "11 12 01 11 13\n");
    EXPECT_EQ(Corvell("encode 2").out, "11 12 02 11 13\n");
    EXPECT_EQ(Corvell("encode 3 '01 00 1C 00 00 01 00 00 00 00 00 3A'").out,
              "11 12 03 01 00 1C 00 00 01 00 00 00 00 00 3A 11 13\n");
    EXPECT_EQ(Corvell("encode 3 1105").out, "11 12 03 11 14 05 11 13\n");
    EXPECT_EQ(Corvell("encode 0x11").out, "11 12 11 14 11 13\n");
    EXPECT_EQ(Corvell("encode 7 11 11").out, "11 12 07 11 14 11 14 11 13\n");
    EXPECT_EQ(Corvell("encode 3 0a0B").out, "11 12 03 0A 0B 11 13\n");
}

TEST(CorvellEncode, RefusesBadArgumentsAndOverlongPayloads) {
    EXPECT_EQ(Corvell("encode").status, 2);
    EXPECT_EQ(Corvell("encode 256").status, 2);
    EXPECT_EQ(Corvell("encode x1").status, 2);
    EXPECT_EQ(Corvell("encode 1 abc").status, 2);  // odd number of digits
    EXPECT_EQ(Corvell("encode 1 zz").status, 2);
    EXPECT_EQ(Corvell("frobnicate").status, 2);
    EXPECT_EQ(Corvell("encode 3 " + std::string(123 * 2, '0')).status, 0);
    ToolRun tooLong = Corvell("encode 3 " + std::string(124 * 2, '0'));
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_EQ(tooLong.out, "");
}

TEST(CorvellDecode, PrintsEachDeliveredMessage) {
    EXPECT_EQ(Corvell("decode", Bytes({0x11, 0x12, 0x05, 0x41, 0x42, 0x11, 0x13})).out,
              "type=05 length=2 payload=41 42\n");
    EXPECT_EQ(Corvell("decode", Bytes({0x11, 0x12, 0x11, 0x14, 0x11, 0x13})).out,
              "type=11 length=0 payload=\n");
    EXPECT_EQ(Corvell("decode", Bytes({0x11, 0x12, 0x03, 0x11, 0x14, 0x11, 0x14, 0x11, 0x13})).out,
              "type=03 length=2 payload=11 11\n");
    // Keep-alive bytes and noise between frames are skipped.
    EXPECT_EQ(Corvell("decode", Bytes({0x00, 0x00, 0x11, 0x12, 0x01, 0x11, 0x13, 0x7F, 0x11, 0x12,
                                       0x02, 0x41, 0x11, 0x13}))
                  .out,
              "type=01 length=0 payload=\ntype=02 length=1 payload=41\n");
}

TEST(CorvellDecode, LosesTheFramesTheReceiveMachineLoses) {
    // A wrong byte after an escape abandons the frame.
    EXPECT_EQ(Corvell("decode", Bytes({0x11, 0x12, 0x05, 0x11, 0x15})).out, "");
    // A doubled first start byte loses the frame that follows it.
    EXPECT_EQ(Corvell("decode", Bytes({0x11, 0x11, 0x12, 0x05, 0x41, 0x11, 0x13})).out, "");
    // A frame without its end marker, followed at once by the next frame: both lost.
    EXPECT_EQ(
        Corvell("decode", Bytes({0x11, 0x12, 0x05, 0x41, 0x11, 0x12, 0x06, 0x42, 0x11, 0x13})).out,
        "");
    // A frame cut off by the end of the input is not delivered.
    EXPECT_EQ(Corvell("decode", Bytes({0x11, 0x12, 0x05, 0x41})).out, "");
}

TEST(CorvellDecode, ReadsAFileAndReportsAMissingOne) {
    std::string path = ::testing::TempDir() + "corvell_capture_" + std::to_string(getpid());
    std::ofstream(path, std::ios::binary) << Bytes({0x11, 0x12, 0x02, 0x41, 0x42, 0x11, 0x13});
    EXPECT_EQ(Corvell("decode " + path).out, "type=02 length=2 payload=41 42\n");
    std::remove(path.c_str());
    EXPECT_EQ(Corvell("decode " + path).status, 1);
}

}  // namespace
