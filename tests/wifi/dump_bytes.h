// Netlink scan dumps built byte by byte for the tests, independent of the
// parser: host-order headers, attributes padded to four bytes, each BSS with
// the attributes current kernels send (TSF, beacon interval, capability,
// channel width, per-chain signal, the probe-response flag, padding before
// 64-bit values where the kernel pads, the BSS nest without its flag).
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

constexpr uint32_t kPort = 4242;  // the requester's port in replies

inline Bytes Message(uint16_t type, uint16_t flags, const Bytes& payload, uint32_t seq = 7,
                     uint32_t port = kPort) {
    Bytes b;
    Put<uint32_t>(b, static_cast<uint32_t>(16 + payload.size()));
    Put<uint16_t>(b, type);
    Put<uint16_t>(b, flags);
    Put<uint32_t>(b, seq);
    Put<uint32_t>(b, port);
    b.insert(b.end(), payload.begin(), payload.end());
    b.resize((b.size() + 3) & ~size_t{3}, 0);
    return b;
}

inline Bytes ScanResultMessage(const Bytes& attrs, uint8_t command = NL80211_CMD_NEW_SCAN_RESULTS,
                               uint16_t flags = NLM_F_MULTI, uint32_t seq = 7,
                               uint32_t port = kPort) {
    return Message(kFamily, flags, Bytes{command, 1, 0, 0} + attrs, seq, port);
}

inline Bytes Done(int32_t error = 0, uint32_t seq = 7, uint32_t port = kPort,
                  uint16_t flags = NLM_F_MULTI) {
    Bytes payload;
    Put(payload, error);
    return Message(NLMSG_DONE, flags, payload, seq, port);
}

// A 64-bit attribute as the kernel puts it where unaligned access is slow:
// an empty padding attribute first.
inline Bytes U64Attr(uint16_t type, uint64_t value, uint16_t pad, bool padded) {
    return (padded ? Attr(pad, {}) : Bytes{}) + ValueAttr<uint64_t>(type, value);
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
    bool probeResponse = false;  // the elements came from a probe response
    bool padded = false;         // 64-bit values padded, as on ARM laptops

    Bytes Attributes() const {
        Bytes a = Attr(NL80211_BSS_BSSID, Bytes(mac, mac + 6)) +
                  ValueAttr<uint32_t>(NL80211_BSS_FREQUENCY, frequency) +
                  U64Attr(NL80211_BSS_TSF, 0x5b2e1f00aa + mac[5], NL80211_BSS_PAD, padded);
        if (elements)
            a = a + Attr(NL80211_BSS_INFORMATION_ELEMENTS, *elements);
        if (probeResponse)
            a = a + Attr(NL80211_BSS_PRESP_DATA, {});
        a = a + ValueAttr<uint16_t>(NL80211_BSS_BEACON_INTERVAL, 100) +
            ValueAttr<uint16_t>(NL80211_BSS_CAPABILITY, 0x1431);
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
            a = a + U64Attr(NL80211_BSS_LAST_SEEN_BOOTTIME, *boottimeNs, NL80211_BSS_PAD, padded);
        a = a + ValueAttr<uint32_t>(NL80211_BSS_CHAN_WIDTH, NL80211_BSS_CHAN_WIDTH_20);
        if (mbm) {
            const uint8_t chain0 = static_cast<uint8_t>(*mbm / 100 - 1);
            const uint8_t chain1 = static_cast<uint8_t>(*mbm / 100 - 4);
            a = a + Attr(NL80211_BSS_CHAIN_SIGNAL, Attr(0, {chain0}) + Attr(1, {chain1}));
        }
        return a;
    }
    Bytes Message(uint32_t seq = 7, uint32_t port = kPort, uint16_t flags = NLM_F_MULTI) const {
        const uint16_t type = NL80211_ATTR_BSS | (nestedFlag ? NLA_F_NESTED : 0);
        return ScanResultMessage(ValueAttr<uint32_t>(NL80211_ATTR_GENERATION, 12) +
                                     ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, 3) +
                                     U64Attr(NL80211_ATTR_WDEV, 1, NL80211_ATTR_PAD, padded) +
                                     Attr(type, Attributes()),
                                 NL80211_CMD_NEW_SCAN_RESULTS, flags, seq, port);
    }
};

// A BSS with the last byte of its BSSID, its frequency, level and name.
inline Bss Heard(uint8_t last, uint32_t mhz, int dbm, const std::string& ssid) {
    Bss b;
    b.mac[5] = last;
    b.frequency = mhz;
    b.mbm = dbm * 100;
    b.elements = SsidElement(ssid);
    return b;
}

inline Bytes Dump(const std::vector<Bss>& entries) {
    Bytes b;
    for (const Bss& e : entries) {
        b = b + e.Message();
    }
    return b + Done();
}

// One channel of a survey answer.
inline Bytes SurveyMessage(uint32_t mhz, std::optional<int8_t> noise, bool inUse = false,
                           uint32_t seq = 7, uint32_t port = kPort) {
    Bytes info = ValueAttr<uint32_t>(NL80211_SURVEY_INFO_FREQUENCY, mhz);
    if (noise)
        info = info + ValueAttr<uint8_t>(NL80211_SURVEY_INFO_NOISE, static_cast<uint8_t>(*noise));
    if (inUse)
        info = info + Attr(NL80211_SURVEY_INFO_IN_USE, {});
    info = info + ValueAttr<uint64_t>(NL80211_SURVEY_INFO_TIME, 120) +
           ValueAttr<uint64_t>(NL80211_SURVEY_INFO_TIME_BUSY, 31);
    return ScanResultMessage(
        ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, 3) + Attr(NL80211_ATTR_SURVEY_INFO, info),
        NL80211_CMD_NEW_SURVEY_RESULTS, NLM_F_MULTI, seq, port);
}

// The note before a saved scan: its start and the dump's time.
inline Bytes Note(uint64_t startNs, uint64_t dumpNs) {
    Bytes payload;
    Put(payload, startNs);
    Put(payload, dumpNs);
    return Message(NLMSG_NOOP, 0, payload, 0, 0);
}

// Operation elements: HT (40 MHz with the secondary above), VHT (width code,
// two segments), HE with 6 GHz operation (width code), EHT (width code).
inline Bytes HtOperation(bool forty) {
    std::string body(22, '\0');
    body[0] = 36;
    body[1] = forty ? 0x05 : 0x00;
    return Element(61, body);
}
inline Bytes VhtOperation(uint8_t width, uint8_t segment0, uint8_t segment1) {
    return Element(192, std::string{static_cast<char>(width), static_cast<char>(segment0),
                                    static_cast<char>(segment1), '\xfc', '\xff'});
}
inline Bytes He6GhzOperation(uint8_t width) {
    return Element(255, std::string{36, 0x00, 0x00, 0x02, 0x2a, '\xfc', '\xff', 37,
                                    static_cast<char>(width), 39, 47, 6});
}
inline Bytes EhtOperation(uint8_t width) {
    return Element(255, std::string{106, 0x01, 0, 0, 0, 0, static_cast<char>(width), 47, 31});
}

}  // namespace dump_bytes
