// Netlink scan dumps built byte by byte for the tests, independent of the
// parser: host-order headers, attributes padded to four bytes.
#pragma once

#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace dump_bytes {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kFamily = 0x1c;  // any number the kernel might assign

template <typename T>
void Put(Bytes& b, T v) {
    uint8_t raw[sizeof v];
    std::memcpy(raw, &v, sizeof v);
    b.insert(b.end(), raw, raw + sizeof v);
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Attr(uint16_t type, const Bytes& value) {
    Bytes b;
    Put<uint16_t>(b, static_cast<uint16_t>(4 + value.size()));
    Put<uint16_t>(b, type);
    b.insert(b.end(), value.begin(), value.end());
    b.resize((b.size() + 3) & ~size_t{3}, 0);
    return b;
}

template <typename T>
Bytes ValueAttr(uint16_t type, T v) {
    Bytes value;
    Put(value, v);
    return Attr(type, value);
}

inline Bytes Message(uint16_t type, uint16_t flags, const Bytes& payload, uint32_t seq = 7) {
    Bytes b;
    Put<uint32_t>(b, static_cast<uint32_t>(16 + payload.size()));
    Put<uint16_t>(b, type);
    Put<uint16_t>(b, flags);
    Put<uint32_t>(b, seq);
    Put<uint32_t>(b, 4242);  // port
    b.insert(b.end(), payload.begin(), payload.end());
    b.resize((b.size() + 3) & ~size_t{3}, 0);
    return b;
}

inline Bytes ScanResultMessage(const Bytes& attrs, uint8_t command = NL80211_CMD_NEW_SCAN_RESULTS,
                               uint16_t flags = NLM_F_MULTI) {
    return Message(kFamily, flags, Bytes{command, 1, 0, 0} + attrs);
}

inline Bytes Done(int32_t error = 0) {
    Bytes payload;
    Put(payload, error);
    return Message(NLMSG_DONE, NLM_F_MULTI, payload);
}

inline Bytes Element(uint8_t id, const std::string& body) {
    Bytes b{id, static_cast<uint8_t>(body.size())};
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes SsidElement(const std::string& ssid) {
    return Element(0, ssid);
}

// One BSS as nl80211 reports it; unset fields are left out.
struct Bss {
    uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    uint32_t frequency = 5180;
    std::optional<Bytes> elements = SsidElement("Lab");
    std::optional<Bytes> beaconElements;
    std::optional<int32_t> mbm = -4500;
    std::optional<uint8_t> quality;
    std::optional<uint32_t> status;
    std::optional<uint32_t> seenMsAgo = 40;
    std::optional<uint64_t> boottimeNs;
    bool nestedFlag = false;

    Bytes Attributes() const {
        Bytes a = Attr(NL80211_BSS_BSSID, Bytes(mac, mac + 6)) +
                  ValueAttr<uint32_t>(NL80211_BSS_FREQUENCY, frequency);
        if (elements)
            a = a + Attr(NL80211_BSS_INFORMATION_ELEMENTS, *elements);
        if (beaconElements)
            a = a + Attr(NL80211_BSS_BEACON_IES, *beaconElements);
        if (mbm)
            a = a + ValueAttr<int32_t>(NL80211_BSS_SIGNAL_MBM, *mbm);
        if (quality)
            a = a + ValueAttr<uint8_t>(NL80211_BSS_SIGNAL_UNSPEC, *quality);
        if (status)
            a = a + ValueAttr<uint32_t>(NL80211_BSS_STATUS, *status);
        if (seenMsAgo)
            a = a + ValueAttr<uint32_t>(NL80211_BSS_SEEN_MS_AGO, *seenMsAgo);
        if (boottimeNs)
            a = a + ValueAttr<uint64_t>(NL80211_BSS_LAST_SEEN_BOOTTIME, *boottimeNs);
        return a;
    }
    Bytes Message() const {
        const uint16_t type = NL80211_ATTR_BSS | (nestedFlag ? NLA_F_NESTED : 0);
        return ScanResultMessage(ValueAttr<uint32_t>(NL80211_ATTR_GENERATION, 12) +
                                 ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, 3) +
                                 Attr(type, Attributes()));
    }
};

inline Bytes Dump(const std::vector<Bss>& entries) {
    Bytes b;
    for (const Bss& e : entries) {
        b = b + e.Message();
    }
    return b + Done();
}

}  // namespace dump_bytes
