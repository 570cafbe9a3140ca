// The one output writer: what it replaces, what it writes to as it is, and
// what it refuses, never removing or replacing anything but a regular file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/files.h"

namespace {

class OutputFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrow-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool Write(const std::string& path, const std::string& text, std::string& error) {
        return platform::WriteOutputFile(path, text.data(), text.size(), error);
    }
    std::string m_dir;
};

TEST_F(OutputFileTest, FilesAreReplacedDevicesAndPipesWrittenToTheRestRefused) {
    std::string error;
    // A new name, then a regular file replaced whole, keeping its permissions.
    ASSERT_TRUE(Write(Path("out"), "first, longer", error)) << error;
    ASSERT_EQ(chmod(Path("out").c_str(), 0640), 0);
    ASSERT_TRUE(Write(Path("out"), "second", error)) << error;
    EXPECT_EQ(Read(Path("out")), "second");
    struct stat st {};
    ASSERT_EQ(stat(Path("out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A device is written to and stays the device.
    ASSERT_TRUE(Write("/dev/null", "gone", error)) << error;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_FALSE(Write("/dev/full", "x", error));
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;

    // A pipe: refused at once while nobody reads it, written when someone does.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(Write(Path("pipe"), "x", error));
    EXPECT_EQ(error, Path("pipe") + ": nothing reads from it");
    std::string received;
    std::thread reader([&] { received = Read(Path("pipe")); });
    while (!Write(Path("pipe"), "through", error)) {
        std::this_thread::yield();  // until the reader has opened it
    }
    reader.join();
    EXPECT_EQ(received, "through");
    ASSERT_EQ(lstat(Path("pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A folder and a link to nothing are refused, and stay as they were.
    EXPECT_FALSE(Write(m_dir, "x", error));
    EXPECT_EQ(error, m_dir + ": is a folder");
    ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("dangling").c_str()), 0);
    EXPECT_FALSE(Write(Path("dangling"), "x", error));
    EXPECT_FALSE(std::filesystem::exists(Path("nowhere")));
    EXPECT_TRUE(std::filesystem::is_symlink(Path("dangling")));
}

TEST_F(OutputFileTest, ReplacingNeverRenamesOverWhatIsNotARegularFile) {
    // Even called directly on it, a pipe is not replaced by a file.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    std::string detail;
    EXPECT_FALSE(platform::ReplaceFileContents(Path("pipe"), {1, 2, 3}, detail));
    EXPECT_NE(detail.find("is not a regular file"), std::string::npos) << detail;
    struct stat st {};
    ASSERT_EQ(lstat(Path("pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left
}

}  // namespace
