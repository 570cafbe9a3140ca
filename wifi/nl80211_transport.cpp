#include "wifi/nl80211_transport.h"

#include <dirent.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
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
constexpr int kDumpTimeoutMs = 10000;

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool IsUp(const std::string& sysfs, const std::string& name) {
    const std::string flags = FirstLine(sysfs + "/class/net/" + name + "/flags");
    return !flags.empty() && (std::strtoul(flags.c_str(), nullptr, 16) & IFF_UP) != 0;
}

std::string DriverOf(const std::string& sysfs, const std::string& name) {
    char target[PATH_MAX];
    const std::string link = sysfs + "/class/net/" + name + "/device/driver";
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return std::string();
    }
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    return slash ? slash + 1 : target;
}

// The rfkill switches in `dir` whose names start with "rfkill" (and, for the
// computer's own switches, whose type is "wlan").
void AddBlocks(const std::string& dir, bool wlanOnly, RadioBlock& block) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    while (const dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, "rfkill", 6) != 0) {
            continue;
        }
        const std::string base = dir + "/" + e->d_name;
        if (wlanOnly && FirstLine(base + "/type") != "wlan") {
            continue;
        }
        block.soft = block.soft || FirstLine(base + "/soft") == "1";
        block.hard = block.hard || FirstLine(base + "/hard") == "1";
    }
    ::closedir(d);
}

template <typename T>
bool Get(const NetlinkAttr& a, T& value) {
    if (a.length < sizeof value) {
        return false;
    }
    std::memcpy(&value, a.data, sizeof value);
    return true;
}

// The u32 values of a nest (the frequencies of a scan).
std::vector<uint32_t> U32List(const NetlinkAttr& nest) {
    std::vector<uint32_t> values;
    AttrReader reader(nest.data, nest.length);
    NetlinkAttr a;
    uint32_t v = 0;
    while (reader.Next(a)) {
        if (ReadU32(a, v)) {
            values.push_back(v);
        }
    }
    return values;
}

}  // namespace

bool WirelessInterface::CanScan() const {
    return iftype == NL80211_IFTYPE_STATION || iftype == NL80211_IFTYPE_P2P_CLIENT ||
           iftype == NL80211_IFTYPE_ADHOC;
}

std::string WirelessInterface::KindText() const {
    switch (iftype) {
        case NL80211_IFTYPE_STATION:
            return "a client interface";
        case NL80211_IFTYPE_MONITOR:
            return "a monitor interface";
        case NL80211_IFTYPE_AP:
        case NL80211_IFTYPE_AP_VLAN:
            return "an access point interface";
        case NL80211_IFTYPE_P2P_GO:
            return "a Wi-Fi Direct group owner interface";
        case NL80211_IFTYPE_MESH_POINT:
            return "a mesh interface";
        default:
            return "an interface of type " + std::to_string(iftype);
    }
}

Nl80211Transport::Nl80211Transport(std::unique_ptr<NetlinkSystem> system,
                                   std::unique_ptr<TriggerHelper> helper)
    : m_system(std::move(system)), m_helper(std::move(helper)) {}

Nl80211Transport::~Nl80211Transport() = default;

bool Nl80211Transport::Connect(std::string& error) {
    if (m_family >= 0) {
        return true;
    }
    // Start afresh after an earlier failure.
    m_requests = m_system->OpenSocket(error);
    m_events = m_requests ? m_system->OpenSocket(error) : nullptr;
    if (!m_events || !ResolveFamily(error)) {
        m_requests.reset();
        m_events.reset();
        m_family = -1;
        return false;
    }
    const int rc = m_events->JoinGroup(m_scanGroup);
    if (rc < 0) {
        error = std::string("cannot follow the kernel's scan events (nl80211 \"scan\" group): ") +
                std::strerror(-rc);
        m_requests.reset();
        m_events.reset();
        m_family = -1;
        return false;
    }
    return true;
}

// Asks the generic-netlink controller for nl80211's family number and its
// "scan" multicast group.
bool Nl80211Transport::ResolveFamily(std::string& error) {
    m_family = GENL_ID_CTRL;
    uint32_t seq = 0;
    int rc = Send(CTRL_CMD_GETFAMILY, NLM_F_REQUEST, 0, nullptr, seq);
    std::vector<uint8_t> reply;
    std::string reason;
    if (rc == 0) {
        rc = Await(*m_requests, seq, false, kAckTimeoutMs, &reply, reason);
    }
    m_family = -1;
    if (rc < 0) {
        error =
            rc == -ENOENT
                ? "no Wi-Fi adapter: the kernel offers no nl80211 (no wireless driver is loaded)"
                : std::string("no Wi-Fi adapter: cannot ask the kernel for nl80211: ") +
                      std::strerror(-rc);
        return false;
    }
    MessageReader messages(reply.data(), reply.size());
    NetlinkMessage m;
    uint16_t family = 0;
    uint32_t group = 0;
    while (messages.Next(m) == MessageReader::Result::kMessage) {
        if (m.type != GENL_ID_CTRL || m.payloadLength < kGenlHeaderSize) {
            continue;
        }
        AttrReader attrs(m.payload + kGenlHeaderSize, m.payloadLength - kGenlHeaderSize);
        NetlinkAttr a;
        while (attrs.Next(a)) {
            if (a.type == CTRL_ATTR_FAMILY_ID) {
                Get(a, family);
            } else if (a.type == CTRL_ATTR_MCAST_GROUPS) {
                AttrReader groups(a.data, a.length);
                NetlinkAttr g;
                while (groups.Next(g)) {
                    AttrReader fields(g.data, g.length);
                    NetlinkAttr f;
                    std::string name;
                    uint32_t id = 0;
                    while (fields.Next(f)) {
                        if (f.type == CTRL_ATTR_MCAST_GRP_NAME) {
                            name.assign(reinterpret_cast<const char*>(f.data),
                                        strnlen(reinterpret_cast<const char*>(f.data), f.length));
                        } else if (f.type == CTRL_ATTR_MCAST_GRP_ID) {
                            ReadU32(f, id);
                        }
                    }
                    if (name == NL80211_MULTICAST_GROUP_SCAN) {
                        group = id;
                    }
                }
            }
        }
    }
    if (family < NLMSG_MIN_TYPE || group == 0) {
        error = "cannot follow the kernel's scan events (nl80211 has no \"scan\" group)";
        return false;
    }
    m_family = family;
    m_scanGroup = group;
    return true;
}

int Nl80211Transport::Send(uint8_t command, int flags, uint32_t ifindex, const ScanRequest* request,
                           uint32_t& seq) {
    nl_msg* msg = nlmsg_alloc();
    if (msg == nullptr) {
        return -ENOMEM;
    }
    seq = ++m_seq;
    bool built = genlmsg_put(msg, m_requests->Port(), seq, m_family, 0, flags, command,
                             command == CTRL_CMD_GETFAMILY ? 2 : 0) != nullptr;
    if (built && command == CTRL_CMD_GETFAMILY) {
        built = nla_put_string(msg, CTRL_ATTR_FAMILY_NAME, NL80211_GENL_NAME) == 0;
    }
    if (built && ifindex != 0) {
        built = nla_put_u32(msg, NL80211_ATTR_IFINDEX, ifindex) == 0;
    }
    if (built && request != nullptr) {
        if (!request->passive) {
            // One wildcard SSID: probe on every channel the regulatory
            // domain allows, so hidden networks answer too.
            nlattr* ssids = nla_nest_start(msg, NL80211_ATTR_SCAN_SSIDS);
            built = ssids != nullptr && nla_put(msg, 1, 0, "") == 0;
            nla_nest_end(msg, ssids);
        }
        if (built && !request->frequencies.empty()) {
            nlattr* frequencies = nla_nest_start(msg, NL80211_ATTR_SCAN_FREQUENCIES);
            built = frequencies != nullptr;
            for (size_t i = 0; built && i < request->frequencies.size(); ++i) {
                built = nla_put_u32(msg, static_cast<int>(i + 1), request->frequencies[i]) == 0;
            }
            nla_nest_end(msg, frequencies);
        }
        if (built && request->colocated6Ghz) {
            built =
                nla_put_u32(msg, NL80211_ATTR_SCAN_FLAGS, NL80211_SCAN_FLAG_COLOCATED_6GHZ) == 0;
        }
    }
    int rc = -EIO;
    if (built) {
        const nlmsghdr* header = nlmsg_hdr(msg);
        rc = m_requests->Send(reinterpret_cast<const uint8_t*>(header), header->nlmsg_len);
    }
    nlmsg_free(msg);
    return rc;
}

// Reads replies to request `seq` until their end: the NLMSG_DONE of a dump,
// the NLMSG_ERROR that acknowledges a command, or (for a request that `bytes`
// wants the answer of) its first reply. Appends the reply's messages to
// `bytes` as they came.
int Nl80211Transport::Await(NetlinkSocket& socket, uint32_t seq, bool dump, int timeoutMs,
                            std::vector<uint8_t>* bytes, std::string& reason) {
    const int64_t deadline = m_system->NowMs() + timeoutMs;
    std::vector<uint8_t> datagram;
    for (;;) {
        const int64_t left = deadline - m_system->NowMs();
        uint32_t from = 0;
        const int n = left > 0 ? socket.Receive(static_cast<int>(left), datagram, from) : 0;
        if (n <= 0) {
            return n == 0 ? -ETIMEDOUT : n;
        }
        if (from != 0) {
            continue;  // not the kernel
        }
        MessageReader reader(datagram.data(), static_cast<size_t>(n));
        NetlinkMessage m;
        while (reader.Next(m) == MessageReader::Result::kMessage) {
            if (m.seq != seq || m.pid != socket.Port()) {
                continue;  // the late answer of an earlier request
            }
            if (bytes != nullptr) {
                const size_t end = std::min<size_t>(m.offset + Align4(m.length), n);
                bytes->insert(bytes->end(), datagram.data() + m.offset, datagram.data() + end);
            }
            int32_t code = 0;
            if (m.type == NLMSG_ERROR || (m.type == NLMSG_DONE && dump)) {
                reason = ReadKernelReason(m);
                if (!ReadErrorCode(m, code)) {
                    return -EIO;
                }
                return code <= 0 ? code : -code;
            }
            if (!dump && bytes != nullptr) {
                return 0;
            }
        }
    }
}

int Nl80211Transport::Request(uint8_t command, int flags, uint32_t ifindex,
                              const ScanRequest* request, std::vector<uint8_t>* bytes,
                              std::string& reason) {
    reason.clear();
    std::string error;
    if (!Connect(error)) {
        reason = error;
        return -ENODEV;
    }
    uint32_t seq = 0;
    const int rc = Send(command, flags | NLM_F_REQUEST, ifindex, request, seq);
    if (rc < 0) {
        return rc;
    }
    const bool dump = (flags & NLM_F_DUMP) != 0;
    return Await(*m_requests, seq, dump, dump ? kDumpTimeoutMs : kAckTimeoutMs, bytes, reason);
}

bool Nl80211Transport::ListInterfaces(std::vector<WirelessInterface>& interfaces,
                                      std::string& error) {
    interfaces.clear();
    if (!Connect(error)) {
        return false;
    }
    std::vector<uint8_t> bytes;
    std::string reason;
    const int rc = Request(NL80211_CMD_GET_INTERFACE, NLM_F_DUMP, 0, nullptr, &bytes, reason);
    if (rc < 0) {
        error = std::string("cannot list the wireless interfaces: ") + std::strerror(-rc);
        return false;
    }
    const std::string sysfs = m_system->SysfsRoot();
    MessageReader reader(bytes.data(), bytes.size());
    NetlinkMessage m;
    while (reader.Next(m) == MessageReader::Result::kMessage) {
        if (m.type != m_family || m.payloadLength < kGenlHeaderSize ||
            m.payload[0] != NL80211_CMD_NEW_INTERFACE) {
            continue;
        }
        WirelessInterface wi;
        AttrReader attrs(m.payload + kGenlHeaderSize, m.payloadLength - kGenlHeaderSize);
        NetlinkAttr a;
        while (attrs.Next(a)) {
            if (a.type == NL80211_ATTR_IFNAME) {
                wi.name.assign(reinterpret_cast<const char*>(a.data),
                               strnlen(reinterpret_cast<const char*>(a.data), a.length));
            } else if (a.type == NL80211_ATTR_IFINDEX) {
                ReadU32(a, wi.ifindex);
            } else if (a.type == NL80211_ATTR_IFTYPE) {
                ReadU32(a, wi.iftype);
            } else if (a.type == NL80211_ATTR_WIPHY) {
                ReadU32(a, wi.wiphy);
            }
        }
        // A device without a network interface (P2P), a damaged message, or a
        // name that is no interface name.
        if (attrs.Failed() || wi.ifindex == 0 || wi.name.empty() || wi.name.size() >= IFNAMSIZ ||
            wi.name.find('/') != std::string::npos || wi.name == "." || wi.name == "..") {
            continue;
        }
        wi.up = IsUp(sysfs, wi.name);
        wi.driver = DriverOf(sysfs, wi.name);
        wi.phy = FirstLine(sysfs + "/class/net/" + wi.name + "/phy80211/name");
        if (wi.phy.empty()) {
            wi.phy = "phy" + std::to_string(wi.wiphy);
        }
        interfaces.push_back(wi);
    }
    return true;
}

int Nl80211Transport::TriggerScan(const WirelessInterface& wi, const ScanRequest& request,
                                  std::string& reason) {
    DropQueuedEvents();
    m_usedHelper = false;
    int rc = Request(NL80211_CMD_TRIGGER_SCAN, NLM_F_ACK, wi.ifindex, &request, nullptr, reason);
    if ((rc == -EPERM || rc == -EACCES) && m_helper) {
        std::string helperReason;
        const int helped = m_helper->Trigger(wi.name, request, helperReason);
        if (helped == 0 || (helped != -ENOENT && helped != -EPERM && helped != -EACCES)) {
            m_usedHelper = helped == 0;
            reason = helperReason;
            return helped;
        }
        reason = helperReason;
    }
    return rc;
}

int Nl80211Transport::AbortScan(const WirelessInterface& wi) {
    std::string reason;
    if (m_usedHelper) {
        return m_helper->Abort(wi.name, reason);
    }
    return Request(NL80211_CMD_ABORT_SCAN, NLM_F_ACK, wi.ifindex, nullptr, nullptr, reason);
}

void Nl80211Transport::ReadEvents(const std::vector<uint8_t>& datagram) {
    MessageReader reader(datagram.data(), datagram.size());
    NetlinkMessage m;
    while (reader.Next(m) == MessageReader::Result::kMessage) {
        if (m.type != m_family || m.payloadLength < kGenlHeaderSize) {
            continue;
        }
        ScanEvent event;
        switch (m.payload[0]) {
            case NL80211_CMD_TRIGGER_SCAN:
                event.kind = ScanEvent::Kind::kStarted;
                break;
            case NL80211_CMD_NEW_SCAN_RESULTS:
                event.kind = ScanEvent::Kind::kNewResults;
                break;
            case NL80211_CMD_SCAN_ABORTED:
                event.kind = ScanEvent::Kind::kAborted;
                break;
            default:
                continue;
        }
        AttrReader attrs(m.payload + kGenlHeaderSize, m.payloadLength - kGenlHeaderSize);
        NetlinkAttr a;
        uint32_t wiphy = 0;
        while (attrs.Next(a)) {
            if (a.type == NL80211_ATTR_IFINDEX) {
                ReadU32(a, event.ifindex);
            } else if (a.type == NL80211_ATTR_WIPHY && ReadU32(a, wiphy)) {
                event.wiphy = wiphy;
            } else if (a.type == NL80211_ATTR_SCAN_FREQUENCIES) {
                event.frequencies = U32List(a);
            }
        }
        m_pending.push_back(std::move(event));
    }
}

ScanEvent Nl80211Transport::WaitScanEvent(std::chrono::milliseconds timeout) {
    std::string error;
    if (m_pending.empty() && Connect(error)) {
        const int64_t deadline = m_system->NowMs() + timeout.count();
        std::vector<uint8_t> datagram;
        while (m_pending.empty()) {
            const int64_t left = deadline - m_system->NowMs();
            uint32_t from = 0;
            const int n = left > 0 ? m_events->Receive(static_cast<int>(left), datagram, from) : 0;
            if (n == -ENOBUFS) {
                ScanEvent lost;
                lost.kind = ScanEvent::Kind::kLost;
                return lost;
            }
            if (n <= 0) {
                break;
            }
            if (from == 0) {  // events come from the kernel, never from another program
                datagram.resize(static_cast<size_t>(n));
                ReadEvents(datagram);
            }
        }
    }
    if (m_pending.empty()) {
        return ScanEvent();
    }
    ScanEvent event = std::move(m_pending.front());
    m_pending.pop_front();
    return event;
}

void Nl80211Transport::DropQueuedEvents() {
    m_pending.clear();
    std::string error;
    if (!Connect(error)) {
        return;
    }
    std::vector<uint8_t> datagram;
    uint32_t from = 0;
    while (m_events->Receive(0, datagram, from) > 0) {
    }
}

int Nl80211Transport::DumpScan(uint32_t ifindex, std::vector<uint8_t>& bytes, std::string& reason) {
    bytes.clear();
    return Request(NL80211_CMD_GET_SCAN, NLM_F_DUMP, ifindex, nullptr, &bytes, reason);
}

int Nl80211Transport::DumpSurvey(uint32_t ifindex, std::vector<uint8_t>& bytes,
                                 std::string& reason) {
    bytes.clear();
    return Request(NL80211_CMD_GET_SURVEY, NLM_F_DUMP, ifindex, nullptr, &bytes, reason);
}

RadioBlock Nl80211Transport::RadioBlockOf(const WirelessInterface& wi) {
    const std::string sysfs = m_system->SysfsRoot();
    RadioBlock block;
    AddBlocks(sysfs + "/class/net/" + wi.name + "/phy80211", false, block);
    AddBlocks(sysfs + "/class/rfkill", true, block);
    return block;
}

}  // namespace wifi
