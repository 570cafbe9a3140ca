// The scan-dump parser over dumps built byte by byte: what it reads from each
// BSS, and how it survives damaged and hostile input.
#include "wifi/scan_dump.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/text.h"
#include "tests/wifi/dump_bytes.h"
#include "wifi/channels.h"
#include "wifi/dump_file.h"

namespace {

using namespace dump_bytes;
using wifi::BssEntry;
using wifi::ScanDump;

ScanDump ParseWhole(const Bytes& bytes) {
    bool cut = true;
    std::string cutMessage;
    ScanDump dump = wifi::ParseScanDump(bytes.data(), bytes.size(), cut, cutMessage);
    EXPECT_FALSE(cut) << cutMessage;
    EXPECT_TRUE(dump.complete);
    return dump;
}

TEST(ScanDump, ReadsEachBssOnEveryBand) {
    Bss a;  // 2.4 GHz, the associated one, its nest flagged as newer kernels do
    a.frequency = 2412;
    a.elements = Element(1, "\x82\x84") + SsidElement("Office") + Element(3, "\x01");
    a.mbm = -3812;
    a.status = NL80211_BSS_STATUS_ASSOCIATED;
    a.seenMsAgo = 120;
    a.boottimeNs = 5000000000ull;
    a.nestedFlag = true;
    Bss b;  // 5 GHz, only authenticated, no seen time
    b.mac[5] = 0x66;
    b.frequency = 5180;
    b.status = NL80211_BSS_STATUS_AUTHENTICATED;
    b.seenMsAgo.reset();
    Bss c;  // 6 GHz, no status at all
    c.mac[5] = 0x77;
    c.frequency = 5975;
    c.elements = SsidElement("Six");

    const ScanDump dump = ParseWhole(Dump({a, b, c}));
    ASSERT_EQ(dump.entries.size(), 3u);
    EXPECT_TRUE(dump.warnings.empty());
    const BssEntry& e = dump.entries[0];
    EXPECT_EQ(wifi::BssidText(e.bssid), "02:11:22:33:44:55");
    EXPECT_EQ(e.frequency, 2412u);
    EXPECT_EQ(e.ssid, "Office");
    EXPECT_EQ(e.signalMbm, -3812);
    EXPECT_FALSE(e.signalQuality);
    EXPECT_EQ(e.seenMsAgo, 120u);
    EXPECT_EQ(e.lastSeenBoottimeNs, 5000000000ull);
    EXPECT_TRUE(e.associated);

    EXPECT_EQ(wifi::BssidText(dump.entries[1].bssid), "02:11:22:33:44:66");
    EXPECT_FALSE(dump.entries[1].associated);
    EXPECT_FALSE(dump.entries[1].seenMsAgo);
    EXPECT_FALSE(dump.entries[2].associated);
    EXPECT_EQ(dump.entries[2].ssid, "Six");

    const wifi::Band bands[] = {wifi::Band::k2_4GHz, wifi::Band::k5GHz, wifi::Band::k6GHz};
    const int channels[] = {1, 36, 5};
    for (int i = 0; i < 3; ++i) {
        const wifi::Channel ch = wifi::ChannelFromFrequency(dump.entries[i].frequency);
        EXPECT_EQ(ch.band, bands[i]);
        EXPECT_EQ(ch.number, channels[i]);
    }
}

TEST(ScanDump, SsidAndSignalVariants) {
    Bss hiddenEmpty;
    hiddenEmpty.elements = SsidElement("");
    Bss hiddenZeros;
    hiddenZeros.elements = SsidElement(std::string(8, '\0'));
    Bss latin1;  // not UTF-8: shown as Latin-1
    latin1.elements = SsidElement("Caf\xe9");
    Bss beaconOnly;  // no probe response: the beacon's elements name it
    beaconOnly.elements.reset();
    beaconOnly.beaconElements = SsidElement("FromBeacon");
    Bss qualityOnly;
    qualityOnly.mbm.reset();
    qualityOnly.quality = 70;
    Bss overLong;  // 31 ASCII bytes and a 2-byte character: the character does not fit
    overLong.elements = SsidElement(std::string(31, 'x') + "\xc3\xa9" + "tail");
    Bss pastList;  // the SSID element claims 20 bytes, the list holds 3 more
    pastList.elements = Element(3, "\x06") + Bytes{0, 20, 'A', 'B', 'C'};
    Bss badQuality;
    badQuality.mbm.reset();
    badQuality.quality = 101;

    const ScanDump dump = ParseWhole(Dump({hiddenEmpty, hiddenZeros, latin1, beaconOnly,
                                           qualityOnly, overLong, pastList, badQuality}));
    ASSERT_EQ(dump.entries.size(), 8u);
    EXPECT_EQ(dump.entries[0].ssid, "");
    EXPECT_EQ(dump.entries[1].ssid, std::string(8, '\0'));
    const std::string& zeros = dump.entries[1].ssid;
    EXPECT_EQ(platform::TextFromBytes(zeros.data(), zeros.size()), "");
    const std::string& cafe = dump.entries[2].ssid;
    EXPECT_EQ(platform::TextFromBytes(cafe.data(), cafe.size()), "Caf\xc3\xa9");
    EXPECT_EQ(dump.entries[3].ssid, "FromBeacon");
    EXPECT_FALSE(dump.entries[4].signalMbm);
    EXPECT_EQ(dump.entries[4].signalQuality, 70);
    EXPECT_EQ(dump.entries[5].ssid, std::string(31, 'x'));
    EXPECT_EQ(dump.entries[6].ssid, "");  // nothing read past the list
    EXPECT_FALSE(dump.entries[7].signalQuality);
}

TEST(ScanDump, MalformedMessagesAreSkippedWithAWarning) {
    Bss good;
    const Bytes goodMessage = good.Message();

    // An attribute that claims more than its message holds.
    Bytes pastMessage = ScanResultMessage(ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, 3));
    pastMessage[16 + 4] = 200;  // its length field
    // Inside the BSS nest, an attribute that runs past the nest (but not past
    // the message: the interface index follows the nest).
    Bytes nest = good.Attributes() + Bytes{60, 0, NL80211_BSS_SEEN_MS_AGO, 0, 1, 2, 3, 4};
    Bytes pastParent = ScanResultMessage(Attr(NL80211_ATTR_BSS, nest) +
                                         ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, 3) +
                                         Attr(200, Bytes(64, 0xEE)));
    // A five-byte BSSID; no BSSID at all; a message too short for its
    // generic-netlink header; another command; a frequency of two bytes.
    Bytes shortBssid =
        ScanResultMessage(Attr(NL80211_ATTR_BSS, Attr(NL80211_BSS_BSSID, Bytes(5, 1))));
    Bytes noBssid =
        ScanResultMessage(Attr(NL80211_ATTR_BSS, ValueAttr<uint32_t>(NL80211_BSS_FREQUENCY, 2412)));
    Bytes noGenl = Message(kFamily, NLM_F_MULTI, Bytes{NL80211_CMD_NEW_SCAN_RESULTS});
    Bytes otherCommand =
        ScanResultMessage(Attr(NL80211_ATTR_BSS, good.Attributes()), NL80211_CMD_NEW_INTERFACE);
    Bytes shortFrequency = ScanResultMessage(Attr(
        NL80211_ATTR_BSS,
        Attr(NL80211_BSS_BSSID, Bytes(6, 1)) + Attr(NL80211_BSS_FREQUENCY, Bytes{0x6c, 0x09})));

    const Bytes bytes = goodMessage + pastMessage + pastParent + shortBssid + noBssid + noGenl +
                        otherCommand + shortFrequency + goodMessage + Done();
    const ScanDump dump = ParseWhole(bytes);
    EXPECT_EQ(dump.entries.size(), 2u);
    ASSERT_EQ(dump.warnings.size(), 7u);
    EXPECT_EQ(dump.warnings[0], "message at byte " + std::to_string(goodMessage.size()) +
                                    ": an attribute runs past its message; skipped");
    EXPECT_NE(dump.warnings[1].find("a nested attribute runs past its parent"), std::string::npos);
    for (const std::string& w : dump.warnings) {
        EXPECT_EQ(w.find('\n'), std::string::npos);
        EXPECT_NE(w.find("skipped"), std::string::npos) << w;
    }
}

TEST(ScanDump, CutFilesAndSeveralDumps) {
    Bss first, second;
    second.mac[5] = 0x99;
    const Bytes one = Dump({first});
    const Bytes two = Dump({first, second});

    // Two whole dumps, then a third cut inside its second message.
    Bytes third = Dump({first, second});
    const size_t cutAt = first.Message().size() + 20;
    third.resize(cutAt);
    wifi::ScanDumps all =
        wifi::ParseScanDumps((one + two + third).data(), one.size() + two.size() + third.size());
    ASSERT_EQ(all.dumps.size(), 2u);
    EXPECT_EQ(all.dumps[0].entries.size(), 1u);
    EXPECT_EQ(all.dumps[1].entries.size(), 2u);
    EXPECT_EQ(all.dumps[1].begin, one.size());
    EXPECT_TRUE(all.cut);
    EXPECT_EQ(all.cutMessage, "the dump ends inside a message at byte " +
                                  std::to_string(one.size() + two.size() + first.Message().size()));
    EXPECT_EQ(all.cutDump.entries.size(), 1u);

    // Cut inside a header; a whole message but no end-of-dump message; a
    // header whose length is below its own size.
    Bytes headerCut = one;
    headerCut.resize(10);
    EXPECT_TRUE(wifi::ParseScanDumps(headerCut.data(), headerCut.size()).cut);
    const Bytes noDone = first.Message();
    wifi::ScanDumps unfinished = wifi::ParseScanDumps(noDone.data(), noDone.size());
    EXPECT_TRUE(unfinished.cut);
    EXPECT_EQ(unfinished.cutDump.entries.size(), 1u);
    EXPECT_NE(unfinished.cutMessage.find("before its end-of-dump message"), std::string::npos);
    Bytes badLength = one;
    badLength[0] = 8;
    badLength[1] = badLength[2] = badLength[3] = 0;
    wifi::ScanDumps bad = wifi::ParseScanDumps(badLength.data(), badLength.size());
    EXPECT_TRUE(bad.cut);
    EXPECT_NE(bad.cutMessage.find("shorter than its own header"), std::string::npos);

    // The kernel ends a dump with an error, or marks it interrupted.
    Bytes errorPayload;
    Put<int32_t>(errorPayload, -EBUSY);
    const Bytes failed = first.Message() + Message(NLMSG_ERROR, 0, errorPayload + Bytes(16, 0));
    const ScanDump failedDump = ParseWhole(failed);
    EXPECT_EQ(failedDump.error, -EBUSY);
    const Bytes interrupted =
        ScanResultMessage(Attr(NL80211_ATTR_BSS, first.Attributes()), NL80211_CMD_NEW_SCAN_RESULTS,
                          NLM_F_MULTI | NLM_F_DUMP_INTR) +
        Done();
    EXPECT_TRUE(ParseWhole(interrupted).interrupted);
    EXPECT_FALSE(ParseWhole(one).interrupted);
}

TEST(ScanDump, EntriesOlderThanTheScanAreDropped) {
    std::vector<BssEntry> entries(5);
    entries[0].lastSeenBoottimeNs = 10'000'000'000;  // the scan started at 10 s
    entries[1].lastSeenBoottimeNs = 9'999'999'999;
    entries[1].seenMsAgo = 0;     // the boot-time stamp decides over the age
    entries[2].seenMsAgo = 2000;  // dump read at 12.5 s: seen at 10.5 s
    entries[3].seenMsAgo = 2600;  // seen at 9.9 s
    // entries[4]: neither, kept
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].bssid[5] = static_cast<uint8_t>(i);
    }
    wifi::DropStaleEntries(entries, 10'000'000'000, 12'500'000'000);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].bssid[5], 0);
    EXPECT_EQ(entries[1].bssid[5], 2);
    EXPECT_EQ(entries[2].bssid[5], 4);
}

TEST(ScanDump, SavedScansKeepTheirNoteAndSurveyAndOldOnesReadAsBefore) {
    Bss stale, fresh, old;
    stale.boottimeNs = 9'000'000'000;
    stale.seenMsAgo.reset();
    fresh.mac[5] = 0x66;
    fresh.boottimeNs = 10'500'000'000;
    old.mac[5] = 0x77;
    const Bytes survey =
        SurveyMessage(2412, -91, true) + SurveyMessage(5180, std::nullopt) + Done();
    const Bytes bytes = Note(10'000'000'000, 12'000'000'000) + Dump({stale, fresh}) + survey +
                        Dump({old});  // a scan saved before notes and surveys
    wifi::ScanDumps all = wifi::ParseScanDumps(bytes.data(), bytes.size());
    ASSERT_FALSE(all.cut) << all.cutMessage;
    ASSERT_EQ(all.dumps.size(), 2u);
    wifi::ScanDump& first = all.dumps[0];
    ASSERT_TRUE(first.note);
    EXPECT_EQ(first.note->scanStartNs, 10'000'000'000u);
    EXPECT_EQ(first.note->dumpNs, 12'000'000'000u);
    ASSERT_EQ(first.survey.size(), 2u);
    EXPECT_EQ(first.survey[0].frequency, 2412u);
    EXPECT_EQ(first.survey[0].noiseDbm, -91);
    EXPECT_TRUE(first.survey[0].inUse);
    EXPECT_FALSE(first.survey[1].noiseDbm);
    EXPECT_TRUE(first.warnings.empty());
    EXPECT_EQ(all.dumps[1].begin, bytes.size() - Dump({old}).size());
    wifi::DropStaleEntries(first);
    ASSERT_EQ(first.entries.size(), 1u);
    EXPECT_EQ(first.entries[0].bssid[5], 0x66);
    wifi::DropStaleEntries(all.dumps[1]);  // no note: nothing is known to be stale
    EXPECT_EQ(all.dumps[1].entries.size(), 1u);

    // The note written is the note read.
    const std::vector<uint8_t> note = wifi::ScanNoteMessage({10'000'000'000, 12'000'000'000});
    EXPECT_EQ(note, Note(10'000'000'000, 12'000'000'000));

    // A survey cut short is a cut file, whose scan is still read.
    Bytes cut = Note(1, 2) + Dump({fresh}) + survey;
    cut.resize(cut.size() - 8);
    wifi::ScanDumps shortened = wifi::ParseScanDumps(cut.data(), cut.size());
    EXPECT_TRUE(shortened.cut);
    EXPECT_EQ(shortened.cutDump.entries.size(), 1u);

    // One scan hands on at most kMaxScanEntries access points; the rest are
    // told, not held.
    Bytes many;
    Bss each;
    for (size_t i = 0; i < wifi::kMaxScanEntries + 3; ++i) {
        each.mac[2] = static_cast<uint8_t>(i >> 16);
        each.mac[3] = static_cast<uint8_t>(i >> 8);
        each.mac[4] = static_cast<uint8_t>(i);
        const Bytes m = each.Message();
        many.insert(many.end(), m.begin(), m.end());
    }
    const Bytes done = Done();
    many.insert(many.end(), done.begin(), done.end());
    const ScanDump bounded = ParseWhole(many);
    EXPECT_EQ(bounded.entries.size(), wifi::kMaxScanEntries);
    ASSERT_EQ(bounded.warnings.size(), 1u);
    EXPECT_EQ(bounded.warnings[0],
              "the scan holds 3 access points more than the 100000 one scan "
              "may hand on; they are left out");
}

TEST(ScanDump, ChannelWidthsFromTheOperationElements) {
    const Bytes ssid = SsidElement("Net");
    struct Case {
        Bytes elements;
        int width;
    } cases[] = {
        {{}, 0},
        {ssid, 20},  // a legacy access point
        {ssid + HtOperation(false), 20},
        {ssid + HtOperation(true), 40},
        {ssid + HtOperation(true) + VhtOperation(0, 0, 0), 40},  // VHT leaves it to HT
        {ssid + HtOperation(true) + VhtOperation(1, 42, 0), 80},
        {ssid + HtOperation(true) + VhtOperation(1, 42, 50), 160},
        {ssid + VhtOperation(1, 42, 155), 160},  // 80+80
        {ssid + He6GhzOperation(2), 80},
        {ssid + He6GhzOperation(3), 160},
        {ssid + He6GhzOperation(1) + EhtOperation(4), 320},
        {ssid + Element(61, std::string(10, '\x07')), 20},  // an HT operation cut short
        {ssid + Element(255, std::string{36, 0, 0, 0x02}),
         20},                                // HE without room for its 6 GHz part
        {ssid + Bytes{192, 40, 1, 42}, 20},  // runs past the list: not read
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wifi::ChannelWidthFromElements(c.elements.data(), c.elements.size()), c.width)
            << c.elements.size();
    }
    // A BSS takes the width of its latest frame's elements.
    Bss wide;
    wide.elements = ssid + HtOperation(true) + VhtOperation(1, 42, 0);
    wide.beaconElements = ssid;
    EXPECT_EQ(ParseWhole(Dump({wide})).entries[0].widthMhz, 80);
}

TEST(Channels, FrequenciesLevelsAndQualities) {
    struct Case {
        uint32_t mhz;
        wifi::Band band;
        int channel;
    } cases[] = {
        {2412, wifi::Band::k2_4GHz, 1},  {2472, wifi::Band::k2_4GHz, 13},
        {2484, wifi::Band::k2_4GHz, 14}, {2477, wifi::Band::kUnknown, 0},
        {2413, wifi::Band::kUnknown, 0}, {4920, wifi::Band::k5GHz, 184},
        {5180, wifi::Band::k5GHz, 36},   {5885, wifi::Band::k5GHz, 177},
        {5935, wifi::Band::k6GHz, 2},    {5955, wifi::Band::k6GHz, 1},
        {7115, wifi::Band::k6GHz, 233},  {7120, wifi::Band::kUnknown, 0},
        {5950, wifi::Band::kUnknown, 0}, {58320, wifi::Band::kUnknown, 0},
        {0, wifi::Band::kUnknown, 0},
    };
    for (const Case& c : cases) {
        const wifi::Channel ch = wifi::ChannelFromFrequency(c.mhz);
        EXPECT_EQ(ch.band, c.band) << c.mhz;
        EXPECT_EQ(ch.number, c.channel) << c.mhz;
    }
    EXPECT_EQ(wifi::RoundMbmToDbm(-4549), -45);
    EXPECT_EQ(wifi::RoundMbmToDbm(-4550), -46);
    EXPECT_EQ(wifi::RoundMbmToDbm(-4551), -46);
    EXPECT_EQ(wifi::RoundMbmToDbm(450), 5);
    EXPECT_EQ(wifi::RoundMbmToDbm(INT32_MIN), -21474836);
    EXPECT_EQ(wifi::QualityToDbm(0), -100);
    EXPECT_EQ(wifi::QualityToDbm(70), -65);
    EXPECT_EQ(wifi::QualityToDbm(100), -50);
}

}  // namespace

namespace {

// Saved scans are appended whole; what is not a regular file is refused at
// once, a FIFO without a reader included, never waited for.
TEST(DumpFile, AppendsToRegularFilesOnly) {
    const std::string dir = ::testing::TempDir() + "dumpfile_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/scans.dump", fifo = dir + "/fifo";
    std::string error;
    const std::vector<uint8_t> one = Dump({Bss()}), two = Note(1, 2) + Dump({Bss()});
    ASSERT_TRUE(wifi::AppendDumpFile(file, one, error)) << error;
    ASSERT_TRUE(wifi::AppendDumpFile(file, two, error)) << error;
    std::vector<uint8_t> read;
    ASSERT_TRUE(wifi::ReadDumpFile(file, read, error)) << error;
    EXPECT_EQ(read, one + two);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(wifi::AppendDumpFile(fifo, one, error));
    EXPECT_EQ(error, "cannot write " + fifo + ": No such device or address");
    EXPECT_FALSE(wifi::ReadDumpFile(fifo, read, error));
    EXPECT_EQ(error, fifo + " is not a regular file");
    EXPECT_FALSE(wifi::AppendDumpFile("/dev/null", one, error));
    EXPECT_EQ(error, "/dev/null is not a regular file");
    std::filesystem::remove_all(dir);
}

}  // namespace
