#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

struct BaudEntry {
    uint32_t rate;
    speed_t speed;
};

constexpr BaudEntry kBaudTable[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool SpeedForRate(uint32_t rate, speed_t& speed) {
    for (const auto& entry : kBaudTable) {
        if (entry.rate == rate) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

uint32_t RateForSpeed(speed_t speed) {
    for (const auto& entry : kBaudTable) {
        if (entry.speed == speed) {
            return entry.rate;
        }
    }
    return 0;
}

uint32_t ControlField(uint32_t flags, uint32_t mask, uint32_t shift) {
    return (flags & mask) >> shift;
}

// Raises or drops one modem line. Pseudo-terminals have no modem lines: the
// ioctl fails there and the line is simply left alone.
void SetModemLine(int fd, int line, bool raised) {
    ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

std::string SerialDevicePath(const std::string& portName) {
    // "COMn:" with n from 1 upwards.
    if (portName.size() >= 5 && portName.compare(0, 3, "COM") == 0 && portName.back() == ':') {
        std::string digits = portName.substr(3, portName.size() - 4);
        bool allDigits = !digits.empty() && digits.size() <= 3;
        for (char c : digits) {
            allDigits = allDigits && c >= '0' && c <= '9';
        }
        if (allDigits) {
            int n = std::atoi(digits.c_str());
            if (n >= 1) {
                return "/dev/ttyS" + std::to_string(n - 1);
            }
        }
    }
    return portName;
}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& portName) {
    Close();
    std::string path = SerialDevicePath(portName);
    // Non-blocking open so a port without carrier does not hang the open.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastError = std::strerror(errno);
        if (errno == EACCES) {
            m_lastError += ": add yourself to the dialout group";
        }
        return false;
    }
    m_lastError.clear();
    ioctl(fd, TIOCEXCL);  // not every device supports exclusive use
    // The port stays non-blocking: reads and writes wait in poll() with a
    // bound, so a line that stops draining can never hold a write forever.
    m_fd = fd;
    m_path = path;
    return true;
}

void SerialPort::Close() {
    if (m_fd >= 0) {
        ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }
}

bool SerialPort::GetCommState(DeviceControlBlock& block) {
    termios tio{};
    if (m_fd < 0 || tcgetattr(m_fd, &tio) != 0) {
        return false;
    }
    block = DeviceControlBlock{};
    block.BaudRate = RateForSpeed(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            block.ByteSize = 5;
            break;
        case CS6:
            block.ByteSize = 6;
            break;
        case CS7:
            block.ByteSize = 7;
            break;
        default:
            block.ByteSize = 8;
            break;
    }
    if (tio.c_cflag & PARENB) {
        block.Parity = (tio.c_cflag & PARODD) ? kOddParity : kEvenParity;
    }
    block.StopBits = (tio.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;

    uint32_t flags = dcb::kBinary;
    if (tio.c_iflag & INPCK) {
        flags |= dcb::kParity;
    }
    if (tio.c_iflag & IXON) {
        flags |= dcb::kOutX;
    }
    if (tio.c_iflag & IXOFF) {
        flags |= dcb::kInX;
    }
    if (tio.c_iflag & IXANY) {
        flags |= dcb::kTXContinueOnXoff;
    }
    int lines = 0;
    bool haveLines = ioctl(m_fd, TIOCMGET, &lines) == 0;
    if (tio.c_cflag & CRTSCTS) {
        flags |= dcb::kOutxCtsFlow | (dcb::kControlHandshake << dcb::kRtsControlShift);
    } else if (haveLines && (lines & TIOCM_RTS)) {
        flags |= dcb::kControlEnable << dcb::kRtsControlShift;
    }
    if (haveLines && (lines & TIOCM_DTR)) {
        flags |= dcb::kControlEnable << dcb::kDtrControlShift;
    }
    block.flags = flags;
    block.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    block.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    block.EofChar = static_cast<char>(tio.c_cc[VEOF]);
    return true;
}

bool SerialPort::SetCommState(const DeviceControlBlock& block) {
    termios tio{};
    speed_t speed;
    if (m_fd < 0 || tcgetattr(m_fd, &tio) != 0) {
        m_lastError = std::string("cannot read the line settings: ") + std::strerror(errno);
        return false;
    }
    if (!SpeedForRate(block.BaudRate, speed)) {
        m_lastError = "unsupported speed " + std::to_string(block.BaudRate);
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);

    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CREAD | CLOCAL;
    switch (block.ByteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return false;
    }
    if (block.Parity == kOddParity) {
        tio.c_cflag |= PARENB | PARODD;
    } else if (block.Parity == kEvenParity) {
        tio.c_cflag |= PARENB;
    }
    if (block.StopBits != kOneStopBit) {
        tio.c_cflag |= CSTOPB;
    }

    uint32_t rtsControl = ControlField(block.flags, dcb::kRtsControlMask, dcb::kRtsControlShift);
    uint32_t dtrControl = ControlField(block.flags, dcb::kDtrControlMask, dcb::kDtrControlShift);
    if ((block.flags & dcb::kOutxCtsFlow) || rtsControl == dcb::kControlHandshake) {
        tio.c_cflag |= CRTSCTS;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (block.flags & dcb::kOutX) {
        tio.c_iflag |= IXON;
    }
    if (block.flags & dcb::kInX) {
        tio.c_iflag |= IXOFF;
    }
    if (block.flags & dcb::kTXContinueOnXoff) {
        tio.c_iflag |= IXANY;
    }
    if (block.flags & dcb::kParity) {
        tio.c_iflag |= INPCK;
    }
    if (block.XonChar != block.XoffChar) {
        tio.c_cc[VSTART] = static_cast<cc_t>(block.XonChar);
        tio.c_cc[VSTOP] = static_cast<cc_t>(block.XoffChar);
    }
    // VMIN 0 / VTIME n is the platform's read time-out written into the
    // terminal settings, but the descriptor is opened O_NONBLOCK, which makes
    // the terminal driver ignore VTIME: a read returns at once. What times a
    // read is the poll() in Read, bounded by the same kReadTimeoutTenths.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = kReadTimeoutTenths;

    if (tcsetattr(m_fd, TCSANOW, &tio) != 0) {
        m_lastError = std::string("cannot apply the line settings: ") + std::strerror(errno);
        return false;
    }
    if (dtrControl != dcb::kControlHandshake) {
        SetModemLine(m_fd, TIOCM_DTR, dtrControl == dcb::kControlEnable);
    }
    if (rtsControl == dcb::kControlEnable || rtsControl == dcb::kControlDisable) {
        SetModemLine(m_fd, TIOCM_RTS, rtsControl == dcb::kControlEnable);
    }
    return true;
}

bool SerialPort::SetupComm(uint32_t, uint32_t) {
    return m_fd >= 0;
}

bool SerialPort::PurgeComm(unsigned flags) {
    if (m_fd < 0) {
        return false;
    }
    bool ok = true;
    if (flags & kPurgeTxClear) {
        ok = tcflush(m_fd, TCOFLUSH) == 0 && ok;
    }
    if (flags & kPurgeRxClear) {
        ok = tcflush(m_fd, TCIFLUSH) == 0 && ok;
    }
    return ok;
}

int SerialPort::Read(uint8_t* buffer, unsigned count) {
    if (m_fd < 0) {
        return -1;
    }
    if (count == 0) {
        return 0;
    }
    // This poll() is what times the read (see SetCommState: VTIME is inert on
    // the non-blocking descriptor). It also reports a device that has gone away
    // (hang-up, removal), which a plain read would answer with an endless run
    // of empty reads.
    pollfd waitFor{m_fd, POLLIN, 0};
    int ready = ::poll(&waitFor, 1, kReadTimeoutTenths * 100);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (ready == 0) {
        return 0;
    }
    if (waitFor.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        if (!(waitFor.revents & POLLIN)) {
            return -1;
        }
    }
    ssize_t n = ::read(m_fd, buffer, count);
    if (n < 0) {
        return (errno == EINTR || errno == EAGAIN) ? 0 : -1;
    }
    if (n == 0) {
        // Readable yet nothing to read: end of file, the line has hung up.
        return -1;
    }
    return static_cast<int>(n);
}

unsigned SerialPort::PendingInput() const {
    int waiting = 0;
    if (m_fd < 0 || ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<unsigned>(waiting);
}

int SerialPort::Write(const uint8_t* bytes, unsigned count) {
    if (m_fd < 0) {
        return -1;
    }
    if (count == 0) {
        return 0;
    }
    // Never wait more than a second in all on a line that does not drain;
    // answers what went out by then.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    unsigned done = 0;
    while (done < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd waitFor{m_fd, POLLOUT, 0};
        int ready = ::poll(&waitFor, 1, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return done != 0 ? static_cast<int>(done) : -1;
        }
        if (ready == 0) {
            break;
        }
        if (waitFor.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            return done != 0 ? static_cast<int>(done) : -1;
        }
        ssize_t n = ::write(m_fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return done != 0 ? static_cast<int>(done) : -1;
        }
        done += static_cast<unsigned>(n);
    }
    return static_cast<int>(done);
}

}  // namespace platform
