#include "platform/serial_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using platform::DeviceControlBlock;
using platform::SerialPort;
namespace dcb = platform::dcb;

TEST(SerialDevicePath, ComNamesMapToTtyS) {
    EXPECT_EQ(platform::SerialDevicePath("COM1:"), "/dev/ttyS0");
    EXPECT_EQ(platform::SerialDevicePath("COM3:"), "/dev/ttyS2");
    EXPECT_EQ(platform::SerialDevicePath("COM10:"), "/dev/ttyS9");
    EXPECT_EQ(platform::SerialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    for (const char* other : {"COM0:", "COM:", "COMX:", "COM1", "com1:"}) {
        EXPECT_EQ(platform::SerialDevicePath(other), other);
    }
}

// The test holds the master side; the port under test opens the slave.
class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        grantpt(master);
        unlockpt(master);
        char name[128] = {};
        ptsname_r(master, name, sizeof name);
        slavePath = name;
        ASSERT_TRUE(port.Open(slavePath));
    }
    void TearDown() override {
        port.Close();
        if (master >= 0) {
            close(master);
        }
    }
    // The link's settings: 38400 8N1, flow control off, RTS on, DTR off.
    DeviceControlBlock LinkSettings() {
        DeviceControlBlock block;
        EXPECT_TRUE(port.GetCommState(block));
        block.BaudRate = 38400;
        block.ByteSize = 8;
        block.Parity = platform::kNoParity;
        block.StopBits = platform::kOneStopBit;
        block.flags = (block.flags & 0xFFFFD483) | 0x1000;
        return block;
    }

    int master = -1;
    std::string slavePath;
    SerialPort port;
};

TEST_F(SerialPortTest, FlagMasksClearFlowControlAndSetRaw) {
    // Start from a port with every kind of flow control switched on.
    DeviceControlBlock noisy;
    ASSERT_TRUE(port.GetCommState(noisy));
    noisy.BaudRate = 9600;
    noisy.flags |= dcb::kOutX | dcb::kInX | dcb::kOutxCtsFlow;
    ASSERT_TRUE(port.SetCommState(noisy));
    DeviceControlBlock before;
    ASSERT_TRUE(port.GetCommState(before));
    EXPECT_EQ(before.BaudRate, 9600u);
    EXPECT_EQ(before.flags & (dcb::kOutX | dcb::kInX | dcb::kOutxCtsFlow),
              dcb::kOutX | dcb::kInX | dcb::kOutxCtsFlow);

    DeviceControlBlock settings = LinkSettings();
    EXPECT_EQ(settings.flags & (dcb::kOutX | dcb::kInX | dcb::kOutxCtsFlow | dcb::kOutxDsrFlow |
                                dcb::kDsrSensitivity | dcb::kNull | dcb::kDtrControlMask),
              0u);
    EXPECT_EQ(settings.flags & dcb::kRtsControlMask, 1u << dcb::kRtsControlShift);
    ASSERT_TRUE(port.SetCommState(settings));

    DeviceControlBlock after;
    ASSERT_TRUE(port.GetCommState(after));
    EXPECT_EQ(after.BaudRate, 38400u);
    EXPECT_EQ(after.ByteSize, 8);
    EXPECT_EQ(after.Parity, platform::kNoParity);
    EXPECT_EQ(after.StopBits, platform::kOneStopBit);
    EXPECT_EQ(after.flags & (dcb::kOutX | dcb::kInX | dcb::kOutxCtsFlow), 0u);

    termios tio{};
    ASSERT_EQ(tcgetattr(port.Descriptor(), &tio), 0);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], platform::kReadTimeoutTenths);
}

TEST_F(SerialPortTest, OtherFramingsAndUnknownSpeeds) {
    DeviceControlBlock block = LinkSettings();
    block.ByteSize = 7;
    block.Parity = platform::kEvenParity;
    block.StopBits = platform::kTwoStopBits;
    block.flags |= dcb::kParity;
    ASSERT_TRUE(port.SetCommState(block));
    DeviceControlBlock read;
    ASSERT_TRUE(port.GetCommState(read));
    // A pseudo-terminal always runs 8 bits without parity; the rest reads back.
    EXPECT_EQ(read.StopBits, platform::kTwoStopBits);
    EXPECT_TRUE(read.flags & dcb::kParity);

    block.BaudRate = 12345;
    EXPECT_FALSE(port.SetCommState(block));
    block.BaudRate = 38400;
    block.ByteSize = 9;
    EXPECT_FALSE(port.SetCommState(block));
}

TEST_F(SerialPortTest, ReadsWaitBrieflyAndReportAVanishedDevice) {
    ASSERT_TRUE(port.SetCommState(LinkSettings()));
    uint8_t buffer[8] = {};
    EXPECT_EQ(port.Read(buffer, 1), 0);  // nothing there: the read time-out

    ASSERT_EQ(write(master, "xyz", 3), 3);
    ASSERT_EQ(port.Read(buffer, 1), 1);
    EXPECT_EQ(buffer[0], 'x');
    ASSERT_EQ(port.Read(buffer, 8), 2);
    EXPECT_EQ(buffer[0], 'y');

    ASSERT_EQ(port.Write(reinterpret_cast<const uint8_t*>("ok"), 2), 2);
    char echoed[2] = {};
    ASSERT_EQ(read(master, echoed, 2), 2);
    EXPECT_EQ(std::string(echoed, 2), "ok");

    close(master);
    master = -1;
    EXPECT_EQ(port.Read(buffer, 1), -1);
    EXPECT_EQ(port.Read(buffer, 1), -1);
}

TEST_F(SerialPortTest, PurgeDiscardsPendingInput) {
    ASSERT_TRUE(port.SetCommState(LinkSettings()));
    ASSERT_EQ(write(master, "stale", 5), 5);
    usleep(50000);  // let the bytes reach the slave's input queue
    EXPECT_TRUE(port.PurgeComm(platform::kPurgeTxClear));
    EXPECT_TRUE(port.PurgeComm(platform::kPurgeRxClear));
    uint8_t buffer[8];
    EXPECT_EQ(port.Read(buffer, 8), 0);
}

TEST(SerialPort, ClosedPortsAndNonTerminals) {
    SerialPort port;
    uint8_t byte = 0;
    DeviceControlBlock block;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Read(&byte, 1), -1);
    EXPECT_EQ(port.Write(&byte, 1), -1);
    EXPECT_FALSE(port.GetCommState(block));
    EXPECT_FALSE(port.Open("/nonexistent/port"));

    char path[] = "/tmp/kestrow-plain-file-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(port.Open(path));  // opens, but is no terminal
    EXPECT_FALSE(port.GetCommState(block));
    block.BaudRate = 38400;
    EXPECT_FALSE(port.SetCommState(block));
    port.Close();
    unlink(path);
}

}  // namespace
