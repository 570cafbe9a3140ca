// Writes the example Wi-Fi scans examples/office-wifi.dump: the office
// scenario's access points (examples/office.json) as tri-band radios, heard
// at the nine survey points of examples/demo.kscript in the order it taps
// them, plus a few neighbours. Each scan is saved as Kestrow saves one: the
// note of its start, the nl80211 scan-results dump the kernel would send
// (built with libnl as the kernel's own messages are laid out, entries still
// cached from the point before included, a hidden network's beacon beside its
// named probe answer), and the adapter's channel survey with each channel's
// noise, so `kestrow --wifi-replay` and `kscan --from-dump` read it like a
// capture from a real adapter.
//
//   make_wifi_dump examples/office.json examples/office-wifi.dump
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

// Map positions of the demo's nine survey points, in the order it taps them.
const int kPoints[9][2] = {{90, 100}, {311, 139}, {540, 110}, {540, 269}, {281, 265},
                           {89, 270}, {121, 409}, {321, 419}, {521, 410}};

// What the kernel would have assigned: any value from 16 up will do.
constexpr int kFamily = 0x22;
constexpr uint32_t kPort = 0x4a2c1f07;
constexpr uint32_t kIfindex = 3;
constexpr uint64_t kWdev = 0x100000001ull;
constexpr uint64_t kFirstScanBoottimeMs = 4213000;  // the laptop booted 70 minutes ago
constexpr uint64_t kWalkMs = 23000;                 // between two survey points
constexpr uint64_t kScanMs = 3700;                  // one scan, trigger to dump

struct Radio {
    uint8_t mac[6];
    std::string ssid;  // as sent: a hidden network sends zeros of its name's length
    uint32_t frequency;
    int channel;
    double level;     // dBm at 10 map pixels
    double pathLoss;  // exponent, as in the scenario
    double x, y;
    bool rsn;                // protected (RSN element) or open
    bool corp;               // the network this laptop is associated with
    std::string hiddenName;  // what a hidden network answers a probe with
};

// A small deterministic generator, the same everywhere, for the noise.
uint32_t g_state = 20260314;
double Uniform() {
    g_state ^= g_state << 13;
    g_state ^= g_state >> 17;
    g_state ^= g_state << 5;
    return (g_state & 0xFFFFFF) / double(0x1000000);
}
// Approximately normal, standard deviation 1 (sum of twelve uniforms).
double Gaussian() {
    double sum = 0;
    for (int i = 0; i < 12; ++i) {
        sum += Uniform();
    }
    return sum - 6.0;
}

bool ParseMac(const std::string& text, uint8_t (&mac)[6]) {
    unsigned v[6];
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) !=
        6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        mac[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

int ChannelOf(uint32_t mhz) {
    if (mhz < 3000) {
        return mhz == 2484 ? 14 : static_cast<int>(mhz - 2407) / 5;
    }
    return mhz < 5950 ? static_cast<int>(mhz - 5000) / 5 : static_cast<int>(mhz - 5950) / 5;
}

// The operation elements of the radio's channel: 20 MHz on 2.4 GHz, 80 MHz
// (HT 40 and VHT 80) on 5 GHz, 160 MHz (HE 6 GHz operation) on 6 GHz.
void AddOperation(std::vector<uint8_t>& ie, const Radio& r) {
    const uint8_t primary = static_cast<uint8_t>(r.channel);
    if (r.frequency < 5925) {
        const bool wide = r.frequency > 5000;
        std::vector<uint8_t> ht(24, 0);
        ht[0] = 61;
        ht[1] = 22;
        ht[2] = primary;
        ht[3] = wide ? ((primary / 4) % 2 == 1 ? 0x05 : 0x07) : 0x00;  // 40 above or below
        ie.insert(ie.end(), ht.begin(), ht.end());
    }
    if (r.frequency > 5000 && r.frequency < 5925) {
        const uint8_t centre = static_cast<uint8_t>((primary - 36) / 16 * 16 + 42);
        ie.insert(ie.end(), {192, 5, 1, centre, 0, 0xfc, 0xff});
    }
    if (r.frequency >= 5925) {
        const uint8_t centre = static_cast<uint8_t>((primary - 1) / 32 * 32 + 15);
        // HE operation: parameters with the 6 GHz operation information
        // present (bit 17), BSS colour, basic MCS, then primary channel,
        // control (160 MHz), both segments, minimum rate.
        ie.insert(ie.end(), {255, 12, 36, 0x00, 0x00, 0x02, 0x2a, 0xfc, 0xff, primary, 0x03,
                             static_cast<uint8_t>(centre - 8), centre, 6});
    }
}

std::vector<uint8_t> Elements(const Radio& r, const std::string& ssid) {
    std::vector<uint8_t> ie = {0, static_cast<uint8_t>(ssid.size())};
    ie.insert(ie.end(), ssid.begin(), ssid.end());
    if (r.frequency < 3000) {
        ie.insert(ie.end(), {1, 8, 0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24});
        ie.insert(ie.end(), {3, 1, static_cast<uint8_t>(r.channel)});
    } else {
        ie.insert(ie.end(), {1, 8, 0x8c, 0x12, 0x98, 0x24, 0xb0, 0x48, 0x60, 0x6c});
    }
    AddOperation(ie, r);
    if (r.rsn) {
        // RSN: version 1, CCMP group and pairwise; 802.1X, or SAE on 6 GHz.
        const uint8_t akm = r.frequency > 5925 ? 8 : 1;
        ie.insert(ie.end(), {48,   20,   1, 0, 0x00, 0x0f, 0xac, 4,    1,   0,    0x00,
                             0x0f, 0xac, 4, 1, 0,    0x00, 0x0f, 0xac, akm, 0x00, 0x00});
    }
    return ie;
}

void Append(std::vector<uint8_t>& out, nl_msg* msg) {
    const nlmsghdr* h = nlmsg_hdr(msg);
    const auto* p = reinterpret_cast<const uint8_t*>(h);
    out.insert(out.end(), p, p + NLMSG_ALIGN(h->nlmsg_len));
}

struct Heard {
    const Radio* radio;
    int dbm;
    uint32_t seenMsAgo;
    bool probeAnswer = false;  // a hidden network's named answer to our probe
};

void AppendDone(std::vector<uint8_t>& out, uint32_t seq) {
    nl_msg* done = nlmsg_alloc();
    void* status = nlmsg_reserve(done, sizeof(int32_t), NLMSG_ALIGNTO);
    nlmsghdr* h = nlmsg_hdr(done);
    h->nlmsg_type = NLMSG_DONE;
    h->nlmsg_flags = NLM_F_MULTI;
    h->nlmsg_seq = seq;
    h->nlmsg_pid = kPort;
    if (status != nullptr) {
        const int32_t zero = 0;
        std::memcpy(status, &zero, sizeof zero);
    }
    Append(out, done);
    nlmsg_free(done);
}

// The note Kestrow writes before a saved scan: its start and the dump's
// time, CLOCK_BOOTTIME nanoseconds.
void AppendNote(std::vector<uint8_t>& out, uint64_t startMs, uint64_t dumpMs) {
    const uint64_t times[2] = {startMs * 1000000, dumpMs * 1000000};
    nlmsghdr h{};
    h.nlmsg_len = sizeof h + sizeof times;
    h.nlmsg_type = NLMSG_NOOP;
    const auto* head = reinterpret_cast<const uint8_t*>(&h);
    const auto* body = reinterpret_cast<const uint8_t*>(times);
    out.insert(out.end(), head, head + sizeof h);
    out.insert(out.end(), body, body + sizeof times);
}

// The channel survey after the scan: each channel of the scan with its
// noise floor, the associated one marked in use.
void AppendSurvey(std::vector<uint8_t>& out, const std::vector<uint32_t>& channels, uint32_t inUse,
                  uint32_t seq) {
    for (uint32_t mhz : channels) {
        nl_msg* msg = nlmsg_alloc();
        genlmsg_put(msg, kPort, seq, kFamily, 0, NLM_F_MULTI, NL80211_CMD_NEW_SURVEY_RESULTS, 1);
        nla_put_u32(msg, NL80211_ATTR_IFINDEX, kIfindex);
        nlattr* info = nla_nest_start(msg, NL80211_ATTR_SURVEY_INFO);
        nla_put_u32(msg, NL80211_SURVEY_INFO_FREQUENCY, mhz);
        const int floor = mhz < 3000 ? -92 : mhz < 5925 ? -95 : -97;
        nla_put_u8(msg, NL80211_SURVEY_INFO_NOISE,
                   static_cast<uint8_t>(static_cast<int8_t>(floor - (mhz / 5) % 3)));
        if (mhz == inUse) {
            nla_put_flag(msg, NL80211_SURVEY_INFO_IN_USE);
        }
        nla_put_u64(msg, NL80211_SURVEY_INFO_TIME, mhz == inUse ? 412870 : 110);
        nla_put_u64(msg, NL80211_SURVEY_INFO_TIME_BUSY, mhz == inUse ? 61204 : 23 + mhz % 17);
        nla_nest_end(msg, info);
        Append(out, msg);
        nlmsg_free(msg);
    }
    AppendDone(out, seq);
}

void AppendScan(std::vector<uint8_t>& out, const std::vector<Heard>& heard, const Radio* associated,
                uint32_t seq, uint32_t generation, uint64_t boottimeMs) {
    for (const Heard& h : heard) {
        const Radio& r = *h.radio;
        nl_msg* msg = nlmsg_alloc();
        genlmsg_put(msg, kPort, seq, kFamily, 0, NLM_F_MULTI, NL80211_CMD_NEW_SCAN_RESULTS, 1);
        nla_put_u32(msg, NL80211_ATTR_GENERATION, generation);
        nla_put_u32(msg, NL80211_ATTR_IFINDEX, kIfindex);
        nla_put_u64(msg, NL80211_ATTR_WDEV, kWdev);
        nlattr* bss = nla_nest_start(msg, NL80211_ATTR_BSS);
        bss->nla_type &= ~NLA_F_NESTED;  // the kernel's BSS nest carries no flag
        nla_put(msg, NL80211_BSS_BSSID, 6, r.mac);
        nla_put_u32(msg, NL80211_BSS_FREQUENCY, r.frequency);
        const uint64_t seenBoottimeMs = boottimeMs - h.seenMsAgo;
        nla_put_u64(msg, NL80211_BSS_TSF, seenBoottimeMs * 1000 + r.mac[5] * 7919u);
        nla_put_u16(msg, NL80211_BSS_BEACON_INTERVAL, 100);
        nla_put_u16(msg, NL80211_BSS_CAPABILITY, r.rsn ? 0x1511 : 0x0501);
        const std::vector<uint8_t> ie = Elements(r, h.probeAnswer ? r.hiddenName : r.ssid);
        nla_put(msg, NL80211_BSS_INFORMATION_ELEMENTS, static_cast<int>(ie.size()), ie.data());
        if (h.probeAnswer) {
            nla_put_flag(msg, NL80211_BSS_PRESP_DATA);
        } else {
            nla_put(msg, NL80211_BSS_BEACON_IES, static_cast<int>(ie.size()), ie.data());
        }
        nla_put_u32(msg, NL80211_BSS_SIGNAL_MBM, static_cast<uint32_t>(h.dbm * 100));
        nla_put_u32(msg, NL80211_BSS_SEEN_MS_AGO, h.seenMsAgo);
        if (&r == associated) {
            nla_put_u32(msg, NL80211_BSS_STATUS, NL80211_BSS_STATUS_ASSOCIATED);
        }
        nla_put_u64(msg, NL80211_BSS_LAST_SEEN_BOOTTIME, seenBoottimeMs * 1000000);
        nla_put_u32(msg, NL80211_BSS_CHAN_WIDTH, NL80211_BSS_CHAN_WIDTH_20);
        nlattr* chains = nla_nest_start(msg, NL80211_BSS_CHAIN_SIGNAL);
        nla_put_u8(msg, 0, static_cast<uint8_t>(static_cast<int8_t>(h.dbm - 1)));
        nla_put_u8(msg, 1, static_cast<uint8_t>(static_cast<int8_t>(h.dbm - 3)));
        nla_nest_end(msg, chains);
        nla_nest_end(msg, bss);
        Append(out, msg);
        nlmsg_free(msg);
    }
    AppendDone(out, seq);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_wifi_dump SCENARIO.json OUT.dump\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    nlohmann::json scenario;
    try {
        in >> scenario;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_wifi_dump: %s: %s\n", argv[1], e.what());
        return 1;
    }

    // Each of the office's access points has a 2.4 GHz and a 5 GHz radio; the
    // corporate ones a 6 GHz radio too, and the lab ones also send a hidden
    // network. BSSIDs: the scenario's MAC for 5 GHz, its last byte + 0x40 for
    // 2.4 GHz, + 0x80 for 6 GHz, + 0xc0 for the hidden network.
    const int k24[] = {1, 6, 11, 6, 1, 11, 11, 1, 6, 11};
    const uint32_t k6[] = {5975, 6055, 6135, 6215, 6295};
    std::vector<Radio> radios;
    size_t index = 0, corp6 = 0;
    for (const auto& ap : scenario.at("access_points")) {
        Radio base{};
        if (!ParseMac(ap.at("mac").get<std::string>(), base.mac)) {
            std::fprintf(stderr, "make_wifi_dump: bad MAC in %s\n", argv[1]);
            return 1;
        }
        base.ssid = ap.at("ssid").get<std::string>();
        base.level = ap.at("rssi").get<double>();
        base.pathLoss = ap.value("path_loss", 3.0);
        base.x = ap.at("x").get<double>();
        base.y = ap.at("y").get<double>();
        base.corp = base.ssid == "Halloway-Corp";
        base.rsn = base.ssid != "Halloway-Guest";

        Radio five = base;
        five.frequency = ap.at("frequency").get<uint32_t>();
        radios.push_back(five);

        Radio two = base;
        two.mac[5] = static_cast<uint8_t>(base.mac[5] + 0x40);
        two.channel = k24[index % 10];
        two.frequency = 2407 + 5 * two.channel;
        two.level = base.level + 4;  // 2.4 GHz carries farther through walls
        two.pathLoss = base.pathLoss - 0.3;
        radios.push_back(two);

        if (base.corp && corp6 < 5) {
            Radio six = base;
            six.mac[5] = static_cast<uint8_t>(base.mac[5] + 0x80);
            six.frequency = k6[corp6++];
            six.level = base.level - 4;
            six.pathLoss = base.pathLoss + 0.3;
            radios.push_back(six);
        }
        if (base.ssid == "Halloway-Lab") {
            Radio hidden = five;
            hidden.mac[5] = static_cast<uint8_t>(base.mac[5] + 0xc0);
            hidden.ssid = std::string(11, '\0');  // not broadcast
            hidden.hiddenName = "Lab-Sensors";
            radios.push_back(hidden);
        }
        ++index;
    }
    // Neighbours beyond the office's walls (positions off the 640 x 480 plan).
    const struct {
        const char* mac;
        const char* ssid;
        uint32_t frequency;
        double level, x, y;
        bool rsn;
    } neighbours[] = {
        {"3c:84:6a:12:9e:51", "Bakery Guest WiFi", 2437, -40, 760, 60, false},
        {"a0:63:91:5d:02:7c", "Caf\xc3\xa9 Br\xc3\xbcnnhilde", 2462, -42, -90, 520, true},
        {"f4:92:bf:31:c8:e0", "Meridian-5G", 5745, -44, 700, 520, true},
        {"8a:14:5e:7a:01:f3", "DIRECT-7A-Officejet 8010", 2412, -46, 470, 205, true},
    };
    for (const auto& n : neighbours) {
        Radio r{};
        ParseMac(n.mac, r.mac);
        r.ssid = n.ssid;
        r.frequency = n.frequency;
        r.level = n.level;
        r.pathLoss = 3.0;
        r.x = n.x;
        r.y = n.y;
        r.rsn = n.rsn;
        radios.push_back(r);
    }
    for (Radio& r : radios) {
        r.channel = ChannelOf(r.frequency);
    }
    // The kernel lists the BSSes in the order it first heard them: 2.4 GHz
    // first, then 5 and 6 GHz, as the adapter walks its channels.
    std::stable_sort(radios.begin(), radios.end(),
                     [](const Radio& a, const Radio& b) { return a.frequency < b.frequency; });

    // The channels the adapter scans: 2.4 GHz 1-13, the 5 GHz ones of the
    // office's radios and the neighbours', the 6 GHz preferred channels.
    std::vector<uint32_t> channels;
    for (uint32_t mhz = 2412; mhz <= 2472; mhz += 5) {
        channels.push_back(mhz);
    }
    for (uint32_t ch : {36,  40,  44,  48,  52,  56,  60,  64,  100, 104, 108, 112,
                        116, 120, 124, 128, 132, 136, 140, 149, 153, 157, 161, 165}) {
        channels.push_back(5000 + 5 * ch);
    }
    for (uint32_t ch = 5; ch <= 229; ch += 16) {
        channels.push_back(5950 + 5 * ch);
    }

    std::vector<uint8_t> out;
    uint32_t generation = 412;
    std::vector<Heard> before;  // the point before's, still in the kernel's cache
    for (int p = 0; p < 9; ++p) {
        const uint64_t boottimeMs = kFirstScanBoottimeMs + p * kWalkMs;
        std::vector<Heard> heard;
        const Radio* associated = nullptr;
        int best = -200;
        for (const Radio& r : radios) {
            const double d = std::hypot(r.x - kPoints[p][0], r.y - kPoints[p][1]);
            double level =
                r.level - 10 * r.pathLoss * std::log10(std::max(d, 10.0) / 10) + 1.5 * Gaussian();
            level = std::clamp(level, -100.0, -20.0);
            const int dbm = static_cast<int>(std::lround(level));
            if (dbm < (r.frequency > 5925 ? -86 : -91)) {
                continue;  // below what the adapter decodes
            }
            // About 3.6 s a scan: 2.4 GHz first, 6 GHz last, just before the dump.
            const double start = r.frequency < 3000 ? 3600 : r.frequency < 5925 ? 2500 : 700;
            const double span = r.frequency < 3000 ? 900 : r.frequency < 5925 ? 1600 : 600;
            const uint32_t seen =
                static_cast<uint32_t>(start - span * Uniform() + (r.frequency % 7) * 3);
            heard.push_back({&r, dbm, seen});
            if (!r.hiddenName.empty()) {
                // Its answer to our probe, a moment after the beacon: the
                // kernel keeps both, in either order.
                const Heard answer{&r, dbm + 1, seen - 40, true};
                heard.insert(p % 2 == 0 ? heard.end() : heard.end() - 1, answer);
            }
            if (r.corp && r.frequency > 5000 && r.frequency < 5925 && dbm > best) {
                best = dbm;
                associated = &r;
            }
        }
        // What the point before heard and this one did not stays cached
        // (up to 30 s): a stale entry the note lets a reader leave out.
        std::vector<Heard> listed = heard;
        for (Heard old : before) {
            const bool heardAgain = std::any_of(heard.begin(), heard.end(), [&](const Heard& h) {
                return h.radio == old.radio && h.probeAnswer == old.probeAnswer;
            });
            if (!heardAgain && old.seenMsAgo + kWalkMs < 30000) {
                old.seenMsAgo += kWalkMs;
                listed.push_back(old);
            }
        }
        before = heard;
        generation += 3;
        const uint32_t seq = 1700 + static_cast<uint32_t>(2 * p);
        AppendNote(out, boottimeMs - kScanMs, boottimeMs);
        AppendScan(out, listed, associated, seq, generation, boottimeMs);
        AppendSurvey(out, channels, associated ? associated->frequency : 0, seq + 1);
    }
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file.flush()) {
        std::fprintf(stderr, "make_wifi_dump: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%s: 9 scans, %zu bytes\n", argv[2], out.size());
    return 0;
}
