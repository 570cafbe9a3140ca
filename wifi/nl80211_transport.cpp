#include "wifi/nl80211_transport.h"

#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "wifi/netlink_reader.h"

namespace wifi {

namespace {

constexpr int kAckTimeoutMs = 2000;
constexpr int kDumpTimeoutMs = 5000;
constexpr int kSocketBufferBytes = 1 << 20;

int64_t SteadyMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// One receive on a netlink socket, as the kernel delivered it; freed by the
// destructor.
struct Datagram {
    unsigned char* bytes = nullptr;
    int length = 0;
    ~Datagram() { std::free(bytes); }
};

// Waits at most until `deadline` for a datagram: its length, 0 when the wait
// ran out, or a negative errno.
int ReceiveUntil(nl_sock* sk, int64_t deadline, Datagram& datagram) {
    for (;;) {
        const int64_t left = deadline - SteadyMs();
        if (left <= 0) {
            return 0;
        }
        pollfd pfd{nl_socket_get_fd(sk), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left < INT_MAX ? left : INT_MAX));
        if (ready < 0 && errno != EINTR) {
            return -errno;
        }
        if (ready <= 0) {
            continue;
        }
        sockaddr_nl peer{};
        std::free(datagram.bytes);
        datagram.bytes = nullptr;
        datagram.length = nl_recv(sk, &peer, &datagram.bytes, nullptr);
        if (datagram.length > 0) {
            return datagram.length;
        }
        if (datagram.length < 0 && datagram.length != -NLE_AGAIN && datagram.length != -NLE_INTR) {
            // A multicast overrun (ENOBUFS) loses events, not the socket.
            if (datagram.length != -NLE_NOMEM) {
                return -EIO;
            }
        }
    }
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string DriverOf(const std::string& name) {
    char target[PATH_MAX];
    const std::string link = "/sys/class/net/" + name + "/device/driver";
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return std::string();
    }
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    return slash ? slash + 1 : target;
}

bool IsUp(const std::string& name) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    const bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_UP) != 0;
    ::close(fd);
    return up;
}

}  // namespace

Nl80211Transport::~Nl80211Transport() {
    nl_socket_free(m_requests);
    nl_socket_free(m_events);
}

bool Nl80211Transport::Connect(std::string& error) {
    if (m_family >= 0) {
        return true;
    }
    // Start afresh after an earlier failure.
    nl_socket_free(m_requests);
    nl_socket_free(m_events);
    m_requests = nl_socket_alloc();
    m_events = nl_socket_alloc();
    if (m_requests == nullptr || m_events == nullptr) {
        error = "cannot open a netlink socket: out of memory";
        return false;
    }
    if (genl_connect(m_requests) < 0 || genl_connect(m_events) < 0) {
        error = "no Wi-Fi adapter: cannot open a generic netlink socket";
        return false;
    }
    // Resolved on blocking sockets with libnl's own acknowledgements.
    const int family = genl_ctrl_resolve(m_requests, "nl80211");
    if (family < 0) {
        error = "no Wi-Fi adapter: the kernel offers no nl80211 (no wireless driver is loaded)";
        return false;
    }
    const int group = genl_ctrl_resolve_grp(m_requests, "nl80211", "scan");
    if (group < 0 || nl_socket_add_membership(m_events, group) < 0) {
        error = "cannot follow the kernel's scan events (nl80211 \"scan\" group)";
        return false;
    }
    // From here on, replies are read raw, each wait bounded by poll().
    for (nl_sock* sk : {m_requests, m_events}) {
        nl_socket_enable_msg_peek(sk);
        nl_socket_disable_auto_ack(sk);
        nl_socket_set_buffer_size(sk, kSocketBufferBytes, 0);
        nl_socket_set_nonblocking(sk);
    }
    m_family = family;
    return true;
}

// Throws away the events already queued: the end of a scan that finished
// before ours was asked for must not pass for ours.
void Nl80211Transport::DrainEvents() {
    for (;;) {
        pollfd pfd{nl_socket_get_fd(m_events), POLLIN, 0};
        if (::poll(&pfd, 1, 0) <= 0) {
            return;
        }
        sockaddr_nl peer{};
        unsigned char* bytes = nullptr;
        const int n = nl_recv(m_events, &peer, &bytes, nullptr);
        std::free(bytes);
        if (n <= 0 && n != -NLE_NOMEM) {
            return;
        }
    }
}

// Sends one nl80211 request for the interface (0: none) and reads its replies
// until their end: the NLMSG_DONE of a dump, or the NLMSG_ERROR that
// acknowledges a command. Appends the reply's messages to `bytes` as they
// came. Answers 0, the kernel's negative errno, or -ETIMEDOUT.
int Nl80211Transport::Request(uint8_t command, int flags, uint32_t ifindex, bool dump,
                              int timeoutMs, std::vector<uint8_t>* bytes) {
    std::string error;
    if (!Connect(error)) {
        return -ENODEV;
    }
    nl_msg* msg = nlmsg_alloc();
    if (msg == nullptr) {
        return -ENOMEM;
    }
    bool built =
        genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, m_family, 0, flags, command, 0) != nullptr;
    if (built && ifindex != 0) {
        built = nla_put_u32(msg, NL80211_ATTR_IFINDEX, ifindex) == 0;
    }
    if (built && command == NL80211_CMD_TRIGGER_SCAN) {
        // One wildcard SSID: probe on every channel the regulatory domain
        // allows, so hidden networks answer too.
        nlattr* ssids = nla_nest_start(msg, NL80211_ATTR_SCAN_SSIDS);
        built = ssids != nullptr && nla_put(msg, 1, 0, "") == 0;
        if (built) {
            nla_nest_end(msg, ssids);
        }
    }
    if (!built || nl_send_auto(m_requests, msg) < 0) {
        nlmsg_free(msg);
        return -EIO;
    }
    const uint32_t seq = nlmsg_hdr(msg)->nlmsg_seq;
    nlmsg_free(msg);

    const int64_t deadline = SteadyMs() + timeoutMs;
    for (;;) {
        Datagram datagram;
        const int n = ReceiveUntil(m_requests, deadline, datagram);
        if (n <= 0) {
            return n == 0 ? -ETIMEDOUT : n;
        }
        MessageReader reader(datagram.bytes, static_cast<size_t>(n));
        NetlinkMessage m;
        while (reader.Next(m) == MessageReader::Result::kMessage) {
            if (m.seq != seq) {
                continue;  // the late answer of an earlier request
            }
            if (bytes != nullptr) {
                const size_t end = std::min<size_t>(m.offset + Align4(m.length), n);
                bytes->insert(bytes->end(), datagram.bytes + m.offset, datagram.bytes + end);
            }
            int32_t code = 0;
            if (m.type == NLMSG_ERROR) {
                return ReadErrorCode(m, code) ? (code <= 0 ? code : -code) : -EIO;
            }
            if (m.type == NLMSG_DONE && dump) {
                return 0;
            }
        }
    }
}

bool Nl80211Transport::ListInterfaces(std::vector<WirelessInterface>& interfaces,
                                      std::string& error) {
    interfaces.clear();
    if (!Connect(error)) {
        return false;
    }
    std::vector<uint8_t> bytes;
    const int rc = Request(NL80211_CMD_GET_INTERFACE, NLM_F_DUMP, 0, true, kDumpTimeoutMs, &bytes);
    if (rc < 0) {
        error = std::string("cannot list the wireless interfaces: ") + std::strerror(-rc);
        return false;
    }
    MessageReader reader(bytes.data(), bytes.size());
    NetlinkMessage m;
    while (reader.Next(m) == MessageReader::Result::kMessage) {
        if (m.type < NLMSG_MIN_TYPE || m.payloadLength < kGenlHeaderSize ||
            m.payload[0] != NL80211_CMD_NEW_INTERFACE) {
            continue;
        }
        WirelessInterface wi;
        uint32_t type = 0, wiphy = 0;
        AttrReader attrs(m.payload + kGenlHeaderSize, m.payloadLength - kGenlHeaderSize);
        NetlinkAttr a;
        while (attrs.Next(a)) {
            if (a.type == NL80211_ATTR_IFNAME) {
                wi.name.assign(reinterpret_cast<const char*>(a.data),
                               strnlen(reinterpret_cast<const char*>(a.data), a.length));
            } else if (a.type == NL80211_ATTR_IFINDEX) {
                ReadU32(a, wi.ifindex);
            } else if (a.type == NL80211_ATTR_IFTYPE) {
                ReadU32(a, type);
            } else if (a.type == NL80211_ATTR_WIPHY) {
                ReadU32(a, wiphy);
            }
        }
        if (attrs.Failed() || wi.ifindex == 0 || wi.name.empty()) {
            continue;  // a device without a network interface (P2P), or damaged
        }
        wi.station = type == NL80211_IFTYPE_STATION;
        wi.up = IsUp(wi.name);
        wi.driver = DriverOf(wi.name);
        wi.phy = ReadLine("/sys/class/net/" + wi.name + "/phy80211/name");
        if (wi.phy.empty()) {
            wi.phy = "phy" + std::to_string(wiphy);
        }
        interfaces.push_back(wi);
    }
    return true;
}

int Nl80211Transport::TriggerScan(uint32_t ifindex) {
    std::string error;
    if (!Connect(error)) {
        return -ENODEV;
    }
    DrainEvents();
    return Request(NL80211_CMD_TRIGGER_SCAN, NLM_F_ACK, ifindex, false, kAckTimeoutMs, nullptr);
}

ScanEvent Nl80211Transport::WaitScanEvent(uint32_t ifindex, std::chrono::milliseconds timeout) {
    std::string error;
    if (!Connect(error)) {
        return ScanEvent::kNone;
    }
    const int64_t deadline = SteadyMs() + timeout.count();
    for (;;) {
        Datagram datagram;
        const int n = ReceiveUntil(m_events, deadline, datagram);
        if (n <= 0) {
            return ScanEvent::kNone;
        }
        MessageReader reader(datagram.bytes, static_cast<size_t>(n));
        NetlinkMessage m;
        while (reader.Next(m) == MessageReader::Result::kMessage) {
            if (m.type != m_family || m.payloadLength < kGenlHeaderSize) {
                continue;
            }
            const uint8_t command = m.payload[0];
            if (command != NL80211_CMD_NEW_SCAN_RESULTS && command != NL80211_CMD_SCAN_ABORTED) {
                continue;
            }
            AttrReader attrs(m.payload + kGenlHeaderSize, m.payloadLength - kGenlHeaderSize);
            NetlinkAttr a;
            uint32_t index = 0;
            while (attrs.Next(a)) {
                if (a.type == NL80211_ATTR_IFINDEX) {
                    ReadU32(a, index);
                }
            }
            if (index == ifindex) {
                return command == NL80211_CMD_NEW_SCAN_RESULTS ? ScanEvent::kNewResults
                                                               : ScanEvent::kAborted;
            }
        }
    }
}

int Nl80211Transport::DumpScan(uint32_t ifindex, std::vector<uint8_t>& bytes) {
    bytes.clear();
    return Request(NL80211_CMD_GET_SCAN, NLM_F_DUMP, ifindex, true, kDumpTimeoutMs, &bytes);
}

int64_t Nl80211Transport::NowMs() {
    return SteadyMs();
}

uint64_t Nl80211Transport::BoottimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace wifi
