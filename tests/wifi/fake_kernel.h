// The kernel's nl80211, NetworkManager and iwd as the Wi-Fi code meets them
// on a laptop, on one fake clock. Requests are read as the kernel reads them
// (libnl's parser); answers and events are built byte by byte as current
// kernels send them: the scan's TRIGGER_SCAN event before the trigger's
// acknowledgement, acknowledgements capped with the kernel's reason in an
// extended-ack attribute, end events carrying the wiphy, dumps split into
// datagrams near 16 KiB, the radio busy while any of its devices scans or
// checks for radar, only the kernel's port trusted. The services answer a
// request at once and scan later, as they do.
#pragma once

#include <linux/genetlink.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "tests/wifi/dump_bytes.h"
#include "wifi/netlink_socket.h"
#include "wifi/scan_dump.h"
#include "wifi/scan_transport.h"
#include "wifi/system_bus.h"

namespace fake {

using dump_bytes::Bss;
using dump_bytes::Bytes;

constexpr uint32_t kScanGroup = 5;
constexpr uint64_t kBootNs = 100'000'000'000;  // CLOCK_BOOTTIME when the fake clock reads 0
constexpr size_t kDatagramBytes = 16384;       // how much one dump datagram holds at most

struct Interface {
    std::string name;
    uint32_t ifindex;
    uint32_t wiphy = 0;
    uint32_t iftype = NL80211_IFTYPE_STATION;
    bool up = true;
};

// A BSS the radio hears `afterMs` after the start of a scan.
struct Hears {
    Bss bss;
    int64_t afterMs;
};

class Kernel {
  public:
    // ---- the laptop
    int64_t now = 0;
    std::vector<Interface> interfaces{{"wlan0", 3}};
    std::vector<Hears> hears;  // what each scan of ours (or for us) hears
    int scanMs = 3000;
    bool privileged = true;  // the program may start scans itself
    bool capAck = true;      // acknowledgements without the request echoed
    int interruptDumps = 0;  // the next dumps of results come marked NLM_F_DUMP_INTR
    std::vector<wifi::ChannelSurvey> survey;
    int surveyError = 0;  // -EOPNOTSUPP: a driver that keeps no survey
    std::vector<uint32_t> channels{2412, 2437, 2462, 5180, 5500, 5955, 6035, 6115};
    int refuseTriggers = 0;               // a refusal of every trigger (-EINVAL, ...)
    std::function<void()> beforeTrigger;  // runs as a trigger comes in

    // ---- what happened
    std::vector<int64_t> triggers;  // accepted or not, from anyone
    std::vector<wifi::ScanRequest> requests;
    std::vector<int64_t> aborts;
    int scanDumps = 0;

    Kernel() {
        char name[] = "/tmp/kestrow_sysfs_XXXXXX";
        m_sysfs = ::mkdtemp(name) ? name : "/tmp";
        for (const Interface& i : interfaces) {
            WriteSysfs(i);
        }
    }
    ~Kernel() { std::filesystem::remove_all(m_sysfs); }
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    const std::string& Sysfs() const { return m_sysfs; }
    void WriteSysfs(const Interface& i) {
        const std::string net = m_sysfs + "/class/net/" + i.name;
        std::filesystem::create_directories(net + "/phy80211");
        std::ofstream(net + "/flags") << (i.up ? "0x1003\n" : "0x1002\n");
        std::ofstream(net + "/phy80211/name") << "phy" << i.wiphy << "\n";
        std::filesystem::create_directories(m_sysfs + "/bus/pci/drivers/iwlwifi");
        std::filesystem::create_directories(net + "/device");
        std::error_code exists;
        std::filesystem::create_directory_symlink(m_sysfs + "/bus/pci/drivers/iwlwifi",
                                                  net + "/device/driver", exists);
    }
    // An rfkill switch of the interface's radio (soft, hard: "0" or "1").
    void Rfkill(const std::string& iface, bool soft, bool hard) {
        const std::string dir = m_sysfs + "/class/net/" + iface + "/phy80211/rfkill1";
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/soft") << (soft ? "1\n" : "0\n");
        std::ofstream(dir + "/hard") << (hard ? "1\n" : "0\n");
    }

    // ---- things that happen at times of the fake clock
    void At(int64_t ms, std::function<void()> action) { m_actions.emplace(ms, std::move(action)); }
    // Another device of the radio (Wi-Fi Direct, without an interface)
    // scans from..to; or, without events, the radio checks for radar.
    void OtherScan(int64_t fromMs, int64_t toMs, bool events = true) {
        At(fromMs, [=] {
            ++m_othersBusy;
            if (events) {
                Event(NL80211_CMD_TRIGGER_SCAN, 0, channels);
            }
        });
        At(toMs, [=] {
            --m_othersBusy;
            if (events) {
                Event(NL80211_CMD_NEW_SCAN_RESULTS, 0, channels);
            }
        });
    }
    // The adapter is plugged out and in: it comes back with another index.
    void Replug(int64_t ms, uint32_t ifindex) {
        At(ms, [=] { interfaces[0].ifindex = ifindex; });
    }
    // The events socket's queue overruns: what waits in it is lost, and its
    // next read answers ENOBUFS.
    void Overrun(int64_t ms) {
        At(ms, [=] {
            if (m_events) {
                m_events->queue.clear();
                m_events->queue.push_back({{}, 0, true});
            }
        });
    }
    // A datagram from another program's port to our events socket.
    void Spoof(int64_t ms, Bytes datagram) {
        At(ms, [=] {
            if (m_events) {
                m_events->queue.push_back({datagram, 4321, false});
            }
        });
    }

    // Starts a scan of the interface for someone (the kernel's own handling
    // of a trigger): 0, -ENODEV, -ENETDOWN or -EBUSY. Parts after the first
    // follow the one before at once (iwd's split scans).
    int StartScan(uint32_t ifindex, const wifi::ScanRequest& request, int parts = 1,
                  bool hear = true) {
        if (beforeTrigger) {
            beforeTrigger();
        }
        triggers.push_back(now);
        requests.push_back(request);
        if (refuseTriggers != 0) {
            return refuseTriggers;
        }
        const Interface* wi = Find(ifindex);
        if (wi == nullptr) {
            return -ENODEV;
        }
        if (!wi->up) {
            return -ENETDOWN;
        }
        if (m_running || m_othersBusy > 0) {
            return -EBUSY;
        }
        for (const Hears& h : hears) {
            if (hear) {
                Cache(h.bss, now + h.afterMs);
            }
        }
        RunPart(ifindex, request, parts, scanMs / parts);
        return 0;
    }

    // A service's scan of the interface, `delayMs` after its request; one
    // that hears nothing of what the test follows (a background scan).
    void ScanLater(int64_t delayMs, int parts, bool hear = true) {
        const uint32_t ifindex = interfaces[0].ifindex;
        At(now + delayMs, [=] { StartScan(ifindex, {}, parts, hear); });
    }
    bool Scanning() const { return m_running; }
    int64_t LastEndMs() const { return m_lastEndMs; }

    // A BSS cached as heard at `heardAtMs`, replacing the entry of the same
    // BSSID, channel and name (a hidden network's two entries stay two).
    void Cache(const Bss& bss, int64_t heardAtMs) {
        for (auto& [cached, at] : m_cache) {
            if (std::equal(bss.mac, bss.mac + 6, cached.mac) && bss.frequency == cached.frequency &&
                bss.elements == cached.elements) {
                at = heardAtMs;
                return;
            }
        }
        m_cache.emplace_back(bss, heardAtMs);
    }

    std::unique_ptr<wifi::NetlinkSystem> System();
    std::unique_ptr<wifi::TriggerHelper> Helper(bool capable = true);

    // ---- the sockets' side
    struct Datagram {
        Bytes bytes;
        uint32_t from = 0;
        bool overrun = false;
    };
    struct Socket {
        uint32_t port;
        bool joined = false;
        std::deque<Datagram> queue;
    };

    // Runs what is due by `deadline`, one action at a time, until `done`.
    void RunUntil(int64_t deadline, const std::function<bool()>& done) {
        while (!done() && !m_actions.empty() && m_actions.begin()->first <= deadline) {
            auto next = m_actions.begin();
            now = std::max(now, next->first);
            std::function<void()> action = std::move(next->second);
            m_actions.erase(next);
            action();
        }
    }
    // Runs what is due until a datagram waits in `socket`, at most until
    // `deadline`.
    bool WaitFor(Socket& socket, int64_t deadline) {
        RunUntil(deadline, [&] { return !socket.queue.empty(); });
        if (socket.queue.empty()) {
            now = std::max(now, deadline);
        }
        return !socket.queue.empty();
    }

    std::shared_ptr<Socket> Open() {
        auto socket = std::make_shared<Socket>();
        socket->port = 0x5000 + static_cast<uint32_t>(m_sockets++);
        return socket;
    }
    void Join(const std::shared_ptr<Socket>& socket) {
        socket->joined = true;
        m_events = socket;
    }

    // The kernel reads one request from `socket` and answers it, all it
    // had to do until now done first.
    void Handle(Socket& socket, const uint8_t* bytes, size_t size) {
        RunUntil(now, [] { return false; });
        auto* header = reinterpret_cast<nlmsghdr*>(const_cast<uint8_t*>(bytes));
        if (size < NLMSG_HDRLEN + GENL_HDRLEN || header->nlmsg_len != size ||
            header->nlmsg_pid != socket.port || (header->nlmsg_flags & NLM_F_REQUEST) == 0) {
            return;
        }
        const uint32_t seq = header->nlmsg_seq;
        const uint8_t command = static_cast<genlmsghdr*>(nlmsg_data(header))->cmd;
        if (header->nlmsg_type == GENL_ID_CTRL) {
            nlattr* tb[CTRL_ATTR_MAX + 1] = {};
            genlmsg_parse(header, 0, tb, CTRL_ATTR_MAX, nullptr);
            if (command != CTRL_CMD_GETFAMILY || tb[CTRL_ATTR_FAMILY_NAME] == nullptr ||
                std::string(nla_get_string(tb[CTRL_ATTR_FAMILY_NAME])) != "nl80211") {
                return Ack(socket, bytes, -ENOENT, "", seq);
            }
            return Reply(socket, {FamilyMessage(seq, socket.port)});
        }
        nlattr* tb[NL80211_ATTR_MAX + 1] = {};
        genlmsg_parse(header, 0, tb, NL80211_ATTR_MAX, nullptr);
        const uint32_t ifindex =
            tb[NL80211_ATTR_IFINDEX] ? nla_get_u32(tb[NL80211_ATTR_IFINDEX]) : 0;
        switch (command) {
            case NL80211_CMD_GET_INTERFACE:
                return Reply(socket, InterfaceMessages(seq, socket.port));
            case NL80211_CMD_TRIGGER_SCAN: {
                if (!privileged) {
                    return Ack(socket, bytes, -EPERM, "", seq);
                }
                wifi::ScanRequest request;
                request.passive = tb[NL80211_ATTR_SCAN_SSIDS] == nullptr;
                request.colocated6Ghz =
                    tb[NL80211_ATTR_SCAN_FLAGS] &&
                    (nla_get_u32(tb[NL80211_ATTR_SCAN_FLAGS]) & NL80211_SCAN_FLAG_COLOCATED_6GHZ);
                if (tb[NL80211_ATTR_SCAN_FREQUENCIES]) {
                    nlattr* f = nullptr;
                    int left = 0;
                    nla_for_each_nested(f, tb[NL80211_ATTR_SCAN_FREQUENCIES], left) {
                        request.frequencies.push_back(nla_get_u32(f));
                    }
                }
                const int rc = StartScan(ifindex, request);
                return Ack(socket, bytes, rc, rc == -EBUSY ? "" : m_reason, seq);
            }
            case NL80211_CMD_ABORT_SCAN:
                return Ack(socket, bytes, privileged ? Abort(ifindex) : -EPERM, "", seq);
            case NL80211_CMD_GET_SCAN:
                return Reply(socket, ScanMessages(ifindex, seq, socket.port));
            case NL80211_CMD_GET_SURVEY:
                return Reply(socket, SurveyMessages(ifindex, seq, socket.port));
            default:
                return Ack(socket, bytes, -EOPNOTSUPP, "", seq);
        }
    }

    // The extended-ack reason of refused triggers.
    void SetReason(const std::string& reason) { m_reason = reason; }

    int Abort(uint32_t ifindex) {
        aborts.push_back(now);
        if (!m_running || m_runningIndex != ifindex) {
            return -ENOENT;
        }
        m_running = false;
        ++m_generation;  // its end never comes
        Event(NL80211_CMD_SCAN_ABORTED, ifindex, {});
        return 0;
    }

    // A scan event to the "scan" group: wiphy, interface (none for a
    // device without one), wireless device, the scan's SSIDs and channels.
    void Event(uint8_t command, uint32_t ifindex, const std::vector<uint32_t>& frequencies,
               uint32_t wiphy = 0) {
        using namespace dump_bytes;
        Bytes attrs = ValueAttr<uint32_t>(NL80211_ATTR_WIPHY, wiphy);
        if (ifindex != 0) {
            attrs = attrs + ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, ifindex);
        }
        Bytes list;
        for (size_t i = 0; i < frequencies.size(); ++i) {
            list = list + ValueAttr<uint32_t>(static_cast<uint16_t>(i), frequencies[i]);
        }
        attrs = attrs + ValueAttr<uint64_t>(NL80211_ATTR_WDEV, ifindex ? 1 : 2) +
                Attr(NL80211_ATTR_SCAN_SSIDS | NLA_F_NESTED, Attr(0, {})) +
                Attr(NL80211_ATTR_SCAN_FREQUENCIES | NLA_F_NESTED, list);
        if (m_events) {
            m_events->queue.push_back({ScanResultMessage(attrs, command, 0, 0, 0), 0, false});
        }
    }

  private:
    const Interface* Find(uint32_t ifindex) const {
        for (const Interface& i : interfaces) {
            if (i.ifindex == ifindex) {
                return &i;
            }
        }
        return nullptr;
    }

    void RunPart(uint32_t ifindex, const wifi::ScanRequest& request, int parts, int partMs) {
        m_running = true;
        m_runningIndex = ifindex;
        const std::vector<uint32_t> covered =
            request.frequencies.empty() ? channels : request.frequencies;
        Event(NL80211_CMD_TRIGGER_SCAN, ifindex, covered);
        const int generation = ++m_generation;
        At(now + partMs, [=] {
            if (generation != m_generation) {
                return;  // aborted
            }
            m_running = false;
            m_lastEndMs = now;
            Event(NL80211_CMD_NEW_SCAN_RESULTS, ifindex, covered);
            if (parts > 1) {
                At(now + 5, [=] { RunPart(ifindex, request, parts - 1, partMs); });
            }
        });
    }

    void Ack(Socket& socket, const uint8_t* request, int error, const std::string& reason,
             uint32_t seq) {
        using namespace dump_bytes;
        const auto* header = reinterpret_cast<const nlmsghdr*>(request);
        Bytes payload;
        Put<int32_t>(payload, error);
        const bool capped = capAck || error == 0;
        payload.insert(payload.end(), request, request + (capped ? 16 : header->nlmsg_len));
        payload.resize((payload.size() + 3) & ~size_t{3}, 0);
        uint16_t flags = capped ? NLM_F_CAPPED : 0;
        if (!reason.empty()) {
            payload = payload + Attr(NLMSGERR_ATTR_MSG, Bytes(reason.begin(), reason.end() + 1));
            flags |= NLM_F_ACK_TLVS;
        }
        socket.queue.push_back({Message(NLMSG_ERROR, flags, payload, seq, socket.port), 0, false});
    }

    // Messages in datagrams of at most kDatagramBytes, as a dump is read.
    void Reply(Socket& socket, const std::vector<Bytes>& messages) {
        Bytes datagram;
        for (const Bytes& m : messages) {
            if (!datagram.empty() && datagram.size() + m.size() > kDatagramBytes) {
                socket.queue.push_back({datagram, 0, false});
                datagram.clear();
            }
            datagram = dump_bytes::operator+(datagram, m);
        }
        socket.queue.push_back({datagram, 0, false});
    }

    Bytes FamilyMessage(uint32_t seq, uint32_t port) const {
        using namespace dump_bytes;
        const auto group = [](uint16_t index, const std::string& name, uint32_t id) {
            return Attr(index | NLA_F_NESTED,
                        Attr(CTRL_ATTR_MCAST_GRP_NAME, Bytes(name.begin(), name.end() + 1)) +
                            ValueAttr<uint32_t>(CTRL_ATTR_MCAST_GRP_ID, id));
        };
        const std::string family = "nl80211";
        const Bytes attrs = Attr(CTRL_ATTR_FAMILY_NAME, Bytes(family.begin(), family.end() + 1)) +
                            ValueAttr<uint16_t>(CTRL_ATTR_FAMILY_ID, kFamily) +
                            ValueAttr<uint32_t>(CTRL_ATTR_VERSION, 1) +
                            Attr(CTRL_ATTR_MCAST_GROUPS | NLA_F_NESTED,
                                 group(1, "config", 4) + group(2, "scan", kScanGroup) +
                                     group(3, "regulatory", 6) + group(4, "mlme", 7));
        return Message(GENL_ID_CTRL, 0, Bytes{CTRL_CMD_NEWFAMILY, 2, 0, 0} + attrs, seq, port);
    }

    std::vector<Bytes> InterfaceMessages(uint32_t seq, uint32_t port) const {
        using namespace dump_bytes;
        std::vector<Bytes> messages;
        for (const Interface& i : interfaces) {
            messages.push_back(ScanResultMessage(
                ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, i.ifindex) +
                    Attr(NL80211_ATTR_IFNAME, Bytes(i.name.begin(), i.name.end() + 1)) +
                    ValueAttr<uint32_t>(NL80211_ATTR_WIPHY, i.wiphy) +
                    ValueAttr<uint32_t>(NL80211_ATTR_IFTYPE, i.iftype) +
                    ValueAttr<uint64_t>(NL80211_ATTR_WDEV, 1),
                NL80211_CMD_NEW_INTERFACE, NLM_F_MULTI, seq, port));
        }
        // The radio's Wi-Fi Direct device: no interface, no name.
        messages.push_back(ScanResultMessage(
            ValueAttr<uint32_t>(NL80211_ATTR_WIPHY, 0) +
                ValueAttr<uint32_t>(NL80211_ATTR_IFTYPE, NL80211_IFTYPE_P2P_DEVICE) +
                ValueAttr<uint64_t>(NL80211_ATTR_WDEV, 2),
            NL80211_CMD_NEW_INTERFACE, NLM_F_MULTI, seq, port));
        messages.push_back(Done(0, seq, port));
        return messages;
    }

    std::vector<Bytes> ScanMessages(uint32_t ifindex, uint32_t seq, uint32_t port) {
        using namespace dump_bytes;
        ++scanDumps;
        if (Find(ifindex) == nullptr) {
            return {Done(-ENODEV, seq, port)};
        }
        const bool interrupted = interruptDumps > 0;
        interruptDumps -= interrupted;
        std::vector<Bytes> messages;
        for (const auto& [cached, heardAt] : m_cache) {
            if (heardAt > now || now - heardAt > 30000) {
                continue;  // not heard yet, or expired from the cache
            }
            Bss bss = cached;
            bss.seenMsAgo = static_cast<uint32_t>(now - heardAt);
            bss.boottimeNs = kBootNs + static_cast<uint64_t>(heardAt) * 1000000u;
            // The generation changes half-way through an interrupted dump.
            const bool flag = interrupted && messages.size() * 2 >= m_cache.size();
            messages.push_back(bss.Message(seq, port, NLM_F_MULTI | (flag ? NLM_F_DUMP_INTR : 0)));
        }
        messages.push_back(Done(0, seq, port, NLM_F_MULTI | (interrupted ? NLM_F_DUMP_INTR : 0)));
        return messages;
    }

    std::vector<Bytes> SurveyMessages(uint32_t ifindex, uint32_t seq, uint32_t port) const {
        using namespace dump_bytes;
        if (Find(ifindex) == nullptr || surveyError != 0) {
            return {Done(Find(ifindex) ? surveyError : -ENODEV, seq, port)};
        }
        std::vector<Bytes> messages;
        for (const wifi::ChannelSurvey& c : survey) {
            std::optional<int8_t> noise;
            if (c.noiseDbm) {
                noise = static_cast<int8_t>(*c.noiseDbm);
            }
            messages.push_back(SurveyMessage(c.frequency, noise, c.inUse, seq, port));
        }
        messages.push_back(Done(0, seq, port));
        return messages;
    }

    std::string m_sysfs;
    std::string m_reason;
    std::multimap<int64_t, std::function<void()>> m_actions;
    std::vector<std::pair<Bss, int64_t>> m_cache;
    std::shared_ptr<Socket> m_events;
    int m_sockets = 0;
    int m_othersBusy = 0;
    bool m_running = false;
    uint32_t m_runningIndex = 0;
    int m_generation = 0;
    int64_t m_lastEndMs = -1;
};

class FakeSocket : public wifi::NetlinkSocket {
  public:
    FakeSocket(Kernel& kernel) : m_kernel(kernel), m_socket(kernel.Open()) {}
    uint32_t Port() const override { return m_socket->port; }
    int JoinGroup(uint32_t group) override {
        if (group != kScanGroup) {
            return -EINVAL;
        }
        m_kernel.Join(m_socket);
        return 0;
    }
    int Send(const uint8_t* bytes, size_t size) override {
        m_kernel.Handle(*m_socket, bytes, size);
        return 0;
    }
    int Receive(int timeoutMs, std::vector<uint8_t>& datagram, uint32_t& fromPort) override {
        if (!m_kernel.WaitFor(*m_socket, m_kernel.now + timeoutMs)) {
            return 0;
        }
        Kernel::Datagram next = std::move(m_socket->queue.front());
        m_socket->queue.pop_front();
        if (next.overrun) {
            return -ENOBUFS;
        }
        datagram = std::move(next.bytes);
        fromPort = next.from;
        return static_cast<int>(datagram.size());
    }

  private:
    Kernel& m_kernel;
    std::shared_ptr<Kernel::Socket> m_socket;
};

class FakeSystem : public wifi::NetlinkSystem {
  public:
    explicit FakeSystem(Kernel& kernel) : m_kernel(kernel) {}
    std::unique_ptr<wifi::NetlinkSocket> OpenSocket(std::string&) override {
        return std::make_unique<FakeSocket>(m_kernel);
    }
    int64_t NowMs() override { return m_kernel.now; }
    uint64_t BoottimeNs() override {
        return kBootNs + static_cast<uint64_t>(m_kernel.now) * 1000000u;
    }
    std::string SysfsRoot() const override { return m_kernel.Sysfs(); }

  private:
    Kernel& m_kernel;
};

inline std::unique_ptr<wifi::NetlinkSystem> Kernel::System() {
    return std::make_unique<FakeSystem>(*this);
}

// kscan as the scan helper: with the capability, the kernel starts the scan
// for it; without, it answers EPERM as the kernel answers it.
class FakeHelper : public wifi::TriggerHelper {
  public:
    FakeHelper(Kernel& kernel, bool capable) : m_kernel(kernel), m_capable(capable) {}
    int Trigger(const std::string& iface, const wifi::ScanRequest& request,
                std::string& reason) override {
        reason.clear();
        if (!m_capable) {
            reason = "the scan helper has not been given the capability";
            return -EPERM;
        }
        for (const Interface& i : m_kernel.interfaces) {
            if (i.name == iface) {
                return m_kernel.StartScan(i.ifindex, request);
            }
        }
        return -ENODEV;
    }
    int Abort(const std::string&, std::string&) override {
        return m_kernel.Abort(m_kernel.interfaces[0].ifindex);
    }

  private:
    Kernel& m_kernel;
    bool m_capable;
};

inline std::unique_ptr<wifi::TriggerHelper> Kernel::Helper(bool capable) {
    return std::make_unique<FakeHelper>(*this, capable);
}

// NetworkManager (on wpa_supplicant or on iwd) and iwd on the system bus.
// RequestScan and Station.Scan answer at once; the scan itself starts after
// the service's own wait. NetworkManager's device objects and iwd's station
// objects are renumbered when the device or iwd comes back.
class Bus : public wifi::SystemBus {
  public:
    explicit Bus(Kernel& kernel) : m_kernel(kernel) {}

    bool networkManager = true;
    bool iwd = false;
    bool allowed = true;
    int deferMs = 1500;  // NetworkManager's wait before its scan (8000 while connected)
    int parts = 1;       // kernel scans one request becomes (iwd splits)
    int requests = 0;
    int generation = 1;  // of the objects' paths

    bool Call(const std::string& service, const std::string& path, const std::string& interface,
              const std::string& member, const std::string&, const std::string& argument,
              std::string* replyPath, wifi::BusError& error) override {
        if (!Running(service, error)) {
            return false;
        }
        if (member == "GetDeviceByIpIface") {
            if (argument != m_kernel.interfaces[0].name) {
                return Fail(error, "org.freedesktop.NetworkManager.UnknownDevice",
                            "No device found for the requested iface.");
            }
            *replyPath = DevicePath();
            return true;
        }
        if (path != (service == kIwd ? StationPath() : DevicePath())) {
            return Fail(error, "org.freedesktop.DBus.Error.UnknownMethod",
                        "No such interface '" + interface + "' on object at path " + path);
        }
        if (!allowed) {
            return Fail(error,
                        service == kIwd ? "org.freedesktop.DBus.Error.AccessDenied"
                                        : "org.freedesktop.NetworkManager.PermissionDenied",
                        "Not authorized to request a scan");
        }
        ++requests;
        if (service == kIwd && (m_kernel.Scanning() || m_scanningUntil > m_kernel.now)) {
            return Fail(error, "net.connman.iwd.Busy", "Operation already in progress");
        }
        const int delay = service == kIwd ? 0 : deferMs;
        m_kernel.ScanLater(delay, parts);
        m_scanningUntil = m_kernel.now + delay + m_kernel.scanMs + 5 * parts + 30;
        return true;
    }

    bool GetBool(const std::string& service, const std::string& path, const std::string&,
                 const std::string& property, bool& value, wifi::BusError& error) override {
        if (!Running(service, error)) {
            return false;
        }
        if (path != StationPath() || property != "Scanning") {
            return Fail(error, "org.freedesktop.DBus.Error.UnknownObject", "Unknown object");
        }
        value = m_scanningUntil > m_kernel.now;  // a moment after its last part ends
        return true;
    }

    bool ManagedObjects(const std::string& service, wifi::BusObjects& objects,
                        wifi::BusError& error) override {
        if (!Running(service, error)) {
            return false;
        }
        objects.clear();
        objects["/net/connman/iwd/0"]["net.connman.iwd.Adapter"]["Powered"] = "true";
        auto& station = objects[StationPath()];
        station["net.connman.iwd.Device"] = {{"Name", m_kernel.interfaces[0].name},
                                             {"Mode", "station"}};
        station["net.connman.iwd.Station"]["Scanning"] = "false";
        return true;
    }

  private:
    static constexpr const char* kIwd = "net.connman.iwd";

    bool Running(const std::string& service, wifi::BusError& error) const {
        if ((service == kIwd && iwd) || (service != kIwd && networkManager)) {
            return true;
        }
        return Fail(error, "org.freedesktop.DBus.Error.ServiceUnknown",
                    "The name " + service + " was not provided by any .service files");
    }
    static bool Fail(wifi::BusError& error, const std::string& name, const std::string& message) {
        error = {name, message};
        return false;
    }
    std::string DevicePath() const {
        return "/org/freedesktop/NetworkManager/Devices/" + std::to_string(generation + 2);
    }
    std::string StationPath() const {
        return "/net/connman/iwd/0/" + std::to_string(generation + 3);
    }

    Kernel& m_kernel;
    int64_t m_scanningUntil = -1;
};

}  // namespace fake
