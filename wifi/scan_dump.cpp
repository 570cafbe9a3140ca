#include "wifi/scan_dump.h"

#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "wifi/netlink_reader.h"

namespace wifi {

namespace {

std::string At(size_t offset) {
    return "message at byte " + std::to_string(offset) + ": ";
}

// Reads the nested BSS attribute of one scan-result message into `entry`.
// Answers an empty string, or why the message is malformed.
std::string ReadBss(const NetlinkAttr& bss, BssEntry& entry) {
    AttrReader reader(bss.data, bss.length);
    NetlinkAttr a;
    bool haveBssid = false;
    const NetlinkAttr* elements = nullptr;
    NetlinkAttr probeElements, beaconElements;
    bool haveProbe = false, haveBeacon = false;
    while (reader.Next(a)) {
        bool ok = true;
        switch (a.type) {
            case NL80211_BSS_BSSID:
                ok = a.length == sizeof entry.bssid;
                if (ok) {
                    std::memcpy(entry.bssid, a.data, sizeof entry.bssid);
                    haveBssid = true;
                }
                break;
            case NL80211_BSS_FREQUENCY:
                ok = ReadU32(a, entry.frequency);
                break;
            case NL80211_BSS_INFORMATION_ELEMENTS:
                probeElements = a;
                haveProbe = true;
                break;
            case NL80211_BSS_BEACON_IES:
                beaconElements = a;
                haveBeacon = true;
                break;
            case NL80211_BSS_SIGNAL_MBM: {
                int32_t v = 0;
                ok = ReadS32(a, v);
                if (ok) {
                    entry.signalMbm = v;
                }
                break;
            }
            case NL80211_BSS_SIGNAL_UNSPEC: {
                uint8_t v = 0;
                ok = ReadU8(a, v);
                if (ok && v <= 100) {  // anything above is no quality at all
                    entry.signalQuality = v;
                }
                break;
            }
            case NL80211_BSS_STATUS: {
                uint32_t v = 0;
                ok = ReadU32(a, v);
                entry.associated = ok && v == NL80211_BSS_STATUS_ASSOCIATED;
                break;
            }
            case NL80211_BSS_SEEN_MS_AGO: {
                uint32_t v = 0;
                ok = ReadU32(a, v);
                if (ok) {
                    entry.seenMsAgo = v;
                }
                break;
            }
            case NL80211_BSS_LAST_SEEN_BOOTTIME: {
                uint64_t v = 0;
                ok = ReadU64(a, v);
                if (ok) {
                    entry.lastSeenBoottimeNs = v;
                }
                break;
            }
            default:
                break;
        }
        if (!ok) {
            return "BSS attribute " + std::to_string(a.type) + " has a wrong length (" +
                   std::to_string(a.length) + " bytes)";
        }
    }
    if (reader.Failed()) {
        return "a nested attribute runs past its parent";
    }
    if (!haveBssid) {
        return "no BSSID";
    }
    // The probe response's elements name a hidden network; a beacon's do not.
    if (haveProbe) {
        elements = &probeElements;
    } else if (haveBeacon) {
        elements = &beaconElements;
    }
    if (elements != nullptr) {
        entry.ssid = SsidFromElements(elements->data, elements->length);
        entry.widthMhz = ChannelWidthFromElements(elements->data, elements->length);
    }
    return std::string();
}

// Reads the nested survey attribute of one survey message into `channel`.
std::string ReadSurvey(const NetlinkAttr& info, ChannelSurvey& channel) {
    AttrReader reader(info.data, info.length);
    NetlinkAttr a;
    while (reader.Next(a)) {
        if (a.type == NL80211_SURVEY_INFO_FREQUENCY && !ReadU32(a, channel.frequency)) {
            return "its frequency has a wrong length";
        }
        uint8_t noise = 0;
        if (a.type == NL80211_SURVEY_INFO_NOISE && ReadU8(a, noise)) {
            channel.noiseDbm = static_cast<int8_t>(noise);  // signed dBm in a byte
        }
        channel.inUse = channel.inUse || a.type == NL80211_SURVEY_INFO_IN_USE;
    }
    if (reader.Failed()) {
        return "a nested attribute runs past its parent";
    }
    return channel.frequency == 0 ? "no frequency" : std::string();
}

// One nl80211 message of a dump: a scan result, or a channel of a survey.
void ReadResult(const NetlinkMessage& m, size_t base, ScanDump& dump) {
    const size_t at = base + m.offset;
    if (m.payloadLength < kGenlHeaderSize) {
        dump.warnings.push_back(At(at) + "too short for its generic-netlink header; skipped");
        return;
    }
    const uint8_t command = m.payload[0];
    const bool survey = command == NL80211_CMD_NEW_SURVEY_RESULTS;
    if (command != NL80211_CMD_NEW_SCAN_RESULTS && !survey) {
        dump.warnings.push_back(At(at) + "not a scan result (command " + std::to_string(command) +
                                "); skipped");
        return;
    }
    const uint16_t nest = survey ? NL80211_ATTR_SURVEY_INFO : NL80211_ATTR_BSS;
    AttrReader reader(m.payload + kGenlHeaderSize, m.payloadLength - kGenlHeaderSize);
    NetlinkAttr a, found;
    bool have = false;
    while (reader.Next(a)) {
        if (a.type == nest && !have) {
            found = a;
            have = true;
        }
    }
    if (reader.Failed()) {
        dump.warnings.push_back(At(at) + "an attribute runs past its message; skipped");
        return;
    }
    if (!have) {
        dump.warnings.push_back(At(at) + (survey ? "no survey in it" : "no BSS in it") +
                                "; skipped");
        return;
    }
    if (survey) {
        ChannelSurvey channel;
        const std::string problem = ReadSurvey(found, channel);
        if (!problem.empty()) {
            dump.warnings.push_back(At(at) + "survey: " + problem + "; skipped");
            return;
        }
        dump.survey.push_back(channel);
        return;
    }
    if (dump.entries.size() >= kMaxScanEntries) {
        ++dump.leftOut;
        return;
    }
    BssEntry entry;
    const std::string problem = ReadBss(found, entry);
    if (!problem.empty()) {
        dump.warnings.push_back(At(at) + problem + "; skipped");
        return;
    }
    dump.entries.push_back(std::move(entry));
}

// The note is a no-op message with a payload of two 64-bit times.
constexpr size_t kNoteSize = kNetlinkHeaderSize + 16;

bool ReadNote(const NetlinkMessage& m, ScanNote& note) {
    if (m.type != NLMSG_NOOP || m.payloadLength != 16) {
        return false;
    }
    std::memcpy(&note.scanStartNs, m.payload, 8);
    std::memcpy(&note.dumpNs, m.payload + 8, 8);
    return true;
}

ScanDump ParseMessages(const uint8_t* data, size_t size, size_t base, bool& cut,
                       std::string& cutMessage) {
    ScanDump dump;
    dump.begin = base;
    cut = false;
    MessageReader reader(data, size);
    NetlinkMessage m;
    for (;;) {
        const MessageReader::Result result = reader.Next(m);
        if (result != MessageReader::Result::kMessage) {
            const size_t at = base + reader.Offset();
            cut = true;
            dump.end = base + size;
            if (result == MessageReader::Result::kEnd) {
                cutMessage = "the dump ends at byte " + std::to_string(at) +
                             " before its end-of-dump message";
            } else if (result == MessageReader::Result::kCut) {
                cutMessage = "the dump ends inside a message at byte " + std::to_string(at);
            } else {
                cutMessage = "the message at byte " + std::to_string(at) +
                             " is shorter than its own header; nothing after it can be read";
            }
            return dump;
        }
        if ((m.flags & NLM_F_DUMP_INTR) != 0) {
            dump.interrupted = true;
        }
        ScanNote note;
        if (m.offset == 0 && ReadNote(m, note)) {
            dump.note = note;
            continue;
        }
        int32_t code = 0;
        switch (m.type) {
            case NLMSG_DONE:
                if (ReadErrorCode(m, code) && code < 0) {
                    dump.error = code;
                }
                dump.complete = true;
                dump.end = base + reader.Offset();
                return dump;
            case NLMSG_ERROR:
                if (!ReadErrorCode(m, code)) {
                    dump.warnings.push_back(At(base + m.offset) + "an error report cut short");
                } else if (code != 0) {  // 0 is an acknowledgement
                    dump.error = code < 0 ? code : -code;
                    dump.complete = true;
                    dump.end = base + reader.Offset();
                    return dump;
                }
                break;
            case NLMSG_NOOP:
                break;
            case NLMSG_OVERRUN:
                dump.warnings.push_back(At(base + m.offset) +
                                        "the kernel reports lost data; results may be missing");
                break;
            default:
                if (m.type < NLMSG_MIN_TYPE) {
                    dump.warnings.push_back(At(base + m.offset) + "reserved type " +
                                            std::to_string(m.type) + "; skipped");
                } else {
                    ReadResult(m, base, dump);
                }
                break;
        }
    }
}

ScanDump ParseOne(const uint8_t* data, size_t size, size_t base, bool& cut,
                  std::string& cutMessage) {
    ScanDump dump = ParseMessages(data, size, base, cut, cutMessage);
    if (dump.leftOut > 0) {
        dump.warnings.push_back("the scan holds " + std::to_string(dump.leftOut) +
                                " access points more than the " + std::to_string(kMaxScanEntries) +
                                " one scan may hand on; they are left out");
    }
    return dump;
}

}  // namespace

ScanDump ParseScanDump(const uint8_t* data, size_t size, bool& cut, std::string& cutMessage) {
    return ParseOne(data, size, 0, cut, cutMessage);
}

namespace {

// Whether the dump at `offset` is a channel survey: its first message is one.
bool SurveyFollows(const uint8_t* data, size_t size, size_t offset) {
    MessageReader reader(data + offset, size - offset);
    NetlinkMessage m;
    return reader.Next(m) == MessageReader::Result::kMessage && m.type >= NLMSG_MIN_TYPE &&
           m.payloadLength >= kGenlHeaderSize && m.payload[0] == NL80211_CMD_NEW_SURVEY_RESULTS;
}

}  // namespace

ScanDump ParseSavedScan(const uint8_t* data, size_t size, size_t offset, bool& cut,
                        std::string& cutMessage) {
    ScanDump dump = ParseOne(data + offset, size - offset, offset, cut, cutMessage);
    if (cut || dump.error < 0 || !SurveyFollows(data, size, dump.end)) {
        return dump;
    }
    ScanDump survey = ParseOne(data + dump.end, size - dump.end, dump.end, cut, cutMessage);
    dump.survey.insert(dump.survey.end(), survey.survey.begin(), survey.survey.end());
    dump.warnings.insert(dump.warnings.end(), survey.warnings.begin(), survey.warnings.end());
    dump.end = survey.end;
    return dump;
}

ScanDumps ParseScanDumps(const uint8_t* data, size_t size) {
    ScanDumps result;
    size_t offset = 0;
    while (offset < size) {
        bool cut = false;
        std::string cutMessage;
        ScanDump dump = ParseSavedScan(data, size, offset, cut, cutMessage);
        if (cut) {
            result.cut = true;
            result.cutMessage = std::move(cutMessage);
            result.cutDump = std::move(dump);
            break;
        }
        offset = dump.end;  // past at least one 16-byte message
        result.dumps.push_back(std::move(dump));
    }
    return result;
}

void DropStaleEntries(std::vector<BssEntry>& entries, uint64_t scanStartBoottimeNs,
                      uint64_t dumpBoottimeNs) {
    auto stale = [&](const BssEntry& e) {
        if (e.lastSeenBoottimeNs) {
            return *e.lastSeenBoottimeNs < scanStartBoottimeNs;
        }
        if (e.seenMsAgo) {
            const uint64_t agoNs = static_cast<uint64_t>(*e.seenMsAgo) * 1000000u;
            return agoNs > dumpBoottimeNs || dumpBoottimeNs - agoNs < scanStartBoottimeNs;
        }
        return false;
    };
    entries.erase(std::remove_if(entries.begin(), entries.end(), stale), entries.end());
}

void DropStaleEntries(ScanDump& dump) {
    if (dump.note) {
        DropStaleEntries(dump.entries, dump.note->scanStartNs, dump.note->dumpNs);
    }
}

std::vector<uint8_t> ScanNoteMessage(const ScanNote& note) {
    std::vector<uint8_t> bytes(kNoteSize, 0);
    const uint32_t length = kNoteSize;
    const uint16_t type = NLMSG_NOOP;
    std::memcpy(bytes.data(), &length, 4);
    std::memcpy(bytes.data() + 4, &type, 2);
    std::memcpy(bytes.data() + kNetlinkHeaderSize, &note.scanStartNs, 8);
    std::memcpy(bytes.data() + kNetlinkHeaderSize + 8, &note.dumpNs, 8);
    return bytes;
}

std::string BssidText(const uint8_t (&bssid)[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bssid[0], bssid[1], bssid[2],
                  bssid[3], bssid[4], bssid[5]);
    return text;
}

}  // namespace wifi
