#include "wifi/netlink_socket.h"

#include <linux/netlink.h>
#include <netlink/errno.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace wifi {

namespace {

// Room for a burst of scan events, and for a dump's datagrams while they are
// read.
constexpr int kReceiveBufferBytes = 1 << 20;

int64_t ClockMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class LibnlSocket : public NetlinkSocket {
  public:
    explicit LibnlSocket(nl_sock* sk) : m_sk(sk) {}
    ~LibnlSocket() override { nl_socket_free(m_sk); }
    LibnlSocket(const LibnlSocket&) = delete;
    LibnlSocket& operator=(const LibnlSocket&) = delete;

    uint32_t Port() const override { return nl_socket_get_local_port(m_sk); }

    int JoinGroup(uint32_t group) override {
        const int value = static_cast<int>(group);
        return ::setsockopt(nl_socket_get_fd(m_sk), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &value,
                            sizeof value) == 0
                   ? 0
                   : -errno;
    }

    int Send(const uint8_t* bytes, size_t size) override {
        errno = 0;
        if (nl_sendto(m_sk, const_cast<uint8_t*>(bytes), size) >= 0) {
            return 0;
        }
        return errno != 0 ? -errno : -EIO;
    }

    int Receive(int timeoutMs, std::vector<uint8_t>& datagram, uint32_t& fromPort) override {
        const int64_t deadline = ClockMs(CLOCK_MONOTONIC) + timeoutMs;
        for (;;) {
            const int64_t left = deadline - ClockMs(CLOCK_MONOTONIC);
            pollfd pfd{nl_socket_get_fd(m_sk), POLLIN, 0};
            const int ready = ::poll(&pfd, 1,
                                     static_cast<int>(left <= 0        ? 0
                                                      : left < INT_MAX ? left
                                                                       : INT_MAX));
            if (ready < 0 && errno != EINTR) {
                return -errno;
            }
            if (ready <= 0) {
                if (left <= 0) {
                    return 0;
                }
                continue;
            }
            sockaddr_nl peer{};
            unsigned char* bytes = nullptr;
            const int n = nl_recv(m_sk, &peer, &bytes, nullptr);
            if (n > 0) {
                datagram.assign(bytes, bytes + n);
            }
            std::free(bytes);
            if (n > 0) {
                fromPort = peer.nl_pid;
                return n;
            }
            if (n == -NLE_NOMEM) {
                return -ENOBUFS;  // how libnl reports the kernel's overrun
            }
            if (n < 0 && n != -NLE_AGAIN && n != -NLE_INTR) {
                return -EIO;
            }
        }
    }

  private:
    nl_sock* m_sk;
};

class SystemNetlink : public NetlinkSystem {
  public:
    std::unique_ptr<NetlinkSocket> OpenSocket(std::string& error) override {
        nl_sock* sk = nl_socket_alloc();
        if (sk == nullptr) {
            error = "cannot open a netlink socket: out of memory";
            return nullptr;
        }
        if (nl_connect(sk, NETLINK_GENERIC) < 0) {
            nl_socket_free(sk);
            error = "no Wi-Fi adapter: cannot open a generic netlink socket";
            return nullptr;
        }
        const int fd = nl_socket_get_fd(sk);
        const int one = 1;
        // The kernel's reason in its error replies, without the request
        // echoed back.
        ::setsockopt(fd, SOL_NETLINK, NETLINK_EXT_ACK, &one, sizeof one);
        ::setsockopt(fd, SOL_NETLINK, NETLINK_CAP_ACK, &one, sizeof one);
        nl_socket_set_buffer_size(sk, kReceiveBufferBytes, 0);
        nl_socket_enable_msg_peek(sk);
        nl_socket_set_nonblocking(sk);
        return std::make_unique<LibnlSocket>(sk);
    }

    int64_t NowMs() override { return ClockMs(CLOCK_MONOTONIC); }

    uint64_t BoottimeNs() override {
        timespec ts{};
        clock_gettime(CLOCK_BOOTTIME, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
    }

    std::string SysfsRoot() const override { return "/sys"; }
};

}  // namespace

std::unique_ptr<NetlinkSystem> MakeSystemNetlink() {
    return std::make_unique<SystemNetlink>();
}

}  // namespace wifi
