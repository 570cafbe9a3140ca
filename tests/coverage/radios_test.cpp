// Radios, bands and signal to noise: what a site with several SSIDs on each
// radio, several bands and measured noise gives the maps and the verdicts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "coverage/radios.h"
#include "coverage/requirements.h"
#include "coverage/survey_input.h"
#include "survey_maker.h"

namespace {

using namespace coverage;
using namespace coverage_test;
using channels::Band;

Reading Heard(Bssid bssid, int channel, double rssi, const std::string& ssid,
              int frequencyMhz = 0) {
    Reading r;
    r.bssid = bssid;
    r.channel = channel;
    r.rssi = rssi;
    r.ssid = ssid;
    r.frequencyMhz = frequencyMhz;
    return r;
}

SurveyPoint At(double x, double y, std::vector<Reading> heard) {
    SurveyPoint p;
    p.x = x;
    p.y = y;
    p.heard = std::move(heard);
    return p;
}

Profile Parsed(const std::string& json) {
    Profile p;
    std::string error;
    EXPECT_TRUE(ParseProfile(json, p, error)) << error;
    return p;
}

std::shared_ptr<const CoverageModel> IdwModel(const Survey& survey, int width, int height) {
    BuildOptions options;
    options.method = Method::kIdw;
    std::string error;
    auto model = CoverageModel::Build(survey, GridSpec{width, height, 1, 3}, options, error);
    EXPECT_NE(model, nullptr) << error;
    return model;
}

// Radio 1 sends Staff and Guest from one transmitter; radio 2 is another.
// The second radio, the counts and the co-channel figure never take Guest
// for a second access point, at the points and on the map alike.
TEST(Radios, TwoSsidsOfOneRadioCountOnce) {
    Survey survey;
    survey.points = {
        At(5, 5,
           {Heard(TestBssid(1, 0), 36, -55, "Staff"), Heard(TestBssid(1, 1), 36, -56, "Guest"),
            Heard(TestBssid(2, 0), 36, -72, "Staff"), Heard(TestBssid(2, 1), 36, -70, "Guest")}),
        At(20, 5,
           {Heard(TestBssid(1, 0), 36, -60, "Staff"), Heard(TestBssid(1, 1), 36, -61, "Guest"),
            Heard(TestBssid(2, 0), 36, -66, "Staff")}),
    };
    Profile voice;
    ASSERT_TRUE(BuiltInProfile("voice", voice));
    const std::vector<PointVerdict> v = JudgePoints(survey, voice);
    // The second radio is radio 2 at its strongest BSSID (Guest, -70), not radio 1's Guest.
    EXPECT_EQ(v[0].levels.second, -70);
    EXPECT_EQ(v[0].reason, "second radio -70 dBm < -67 on 5 GHz");
    EXPECT_TRUE(v[1].pass) << v[1].reason;
    EXPECT_EQ(v[0].levels.cochannel, 2) << "two radios on 36 above -82, not four BSSIDs";

    // A filter selects BSSIDs: over Staff only, radio 2 is at -72.
    const Profile staff = Parsed(R"({"name": "s", "min_second_dbm": -71, "ssids": ["Staff"]})");
    EXPECT_EQ(JudgePoints(survey, staff)[0].reason, "second radio -72 dBm < -71 on 5 GHz");

    const auto model = IdwModel(survey, 30, 10);
    ASSERT_EQ(model->Radios().Count(), 2u);
    const Grid count = model->Map(MapRequest(Metric::kCount, -80));
    const Grid cochannel = model->Map(MapRequest(Metric::kCochannel, -80));
    const Grid second = model->Map(MapRequest(Metric::kSecond));
    EXPECT_EQ(count.At(5, 5), 2.0f);
    EXPECT_EQ(cochannel.At(5, 5), 2.0f);
    EXPECT_EQ(second.At(5, 5), -70.0f);
    EXPECT_EQ(second.At(20, 5), -66.0f);

    // The location profile needs three radios: four BSSIDs are not enough.
    Profile location;
    ASSERT_TRUE(BuiltInProfile("location", location));
    EXPECT_EQ(JudgePoints(survey, location)[0].reason, "2 radios >= -75 dBm < 3");
    EXPECT_EQ(JudgeArea(*model, location).passing, 0u);
}

// 6 GHz channel 1 is not 2.4 GHz channel 1; on 5 and 6 GHz, channels whose
// reported widths overlap share the air.
TEST(Radios, BandsKeepChannelsApartAndReportedWidthsOverlap) {
    EXPECT_EQ(channels::ChannelSpan(Band::k5GHz, 44, 80).lowMhz, 5170);
    EXPECT_EQ(channels::ChannelSpan(Band::k5GHz, 44, 80).highMhz, 5250);
    EXPECT_EQ(channels::ChannelSpan(Band::k5GHz, 157, 80).lowMhz, 5735);
    EXPECT_EQ(channels::ChannelSpan(Band::k6GHz, 37, 160).lowMhz, 6105);
    EXPECT_EQ(channels::ChannelSpan(Band::k2_4GHz, 6, 40).lowMhz, 2427) << "20 MHz on 2.4 GHz";
    EXPECT_EQ(channels::ChannelSpan(Band::k2_4GHz, 15, 20).highMhz, 0) << "no such channel";

    const auto ap = [](uint8_t id, Band band, int channel, int width) {
        AccessPoint a;
        a.bssid = TestBssid(id);
        a.band = band;
        a.channel = channel;
        a.widthMhz = width;
        return a;
    };
    const RadioSet radios({ap(1, Band::k2_4GHz, 1, 0), ap(2, Band::k6GHz, 1, 0),
                           ap(3, Band::k5GHz, 36, 80), ap(4, Band::k5GHz, 44, 20),
                           ap(5, Band::k5GHz, 52, 0), ap(6, Band::k5GHz, 56, 0),
                           ap(7, Band::k2_4GHz, 1, 40), ap(8, Band::k2_4GHz, 5, 40)});
    EXPECT_FALSE(radios.Cochannel(0, 1)) << "2.4 and 6 GHz channel 1";
    EXPECT_TRUE(radios.Cochannel(2, 3)) << "80 MHz on 36 covers 44";
    EXPECT_FALSE(radios.Cochannel(3, 4)) << "44 and 52";
    EXPECT_FALSE(radios.Cochannel(4, 5)) << "20 MHz 52 and 56, widths unknown";
    EXPECT_TRUE(radios.Cochannel(0, 6));
    EXPECT_FALSE(radios.Cochannel(6, 7)) << "2.4 GHz neighbours are not co-channel";

    // The sidecar's frequency gives the band where it is the reading's channel.
    Survey survey;
    survey.points = {At(5, 5,
                        {Heard(TestBssid(1), 1, -50, "Lab"), Heard(TestBssid(2), 1, -52, "Lab"),
                         Heard(TestBssid(3), 36, -60, "Lab")})};
    sitefile::SiteMeta meta;
    meta.bssids[TestBssid(2)] = {5955, 160};
    meta.bssids[TestBssid(3)] = {5955, 20};  // not channel 36: a BSSID that moved
    ApplySiteMeta(meta, survey);
    const auto model = IdwModel(survey, 10, 10);
    ASSERT_EQ(model->AccessPoints().size(), 3u);
    EXPECT_EQ(model->AccessPoints()[1].band, Band::k6GHz);
    EXPECT_EQ(model->AccessPoints()[1].widthMhz, 160);
    EXPECT_EQ(model->AccessPoints()[2].band, Band::k5GHz);
    EXPECT_EQ(model->Map(MapRequest(Metric::kCochannel, -82)).At(5, 5), 1.0f);
    ApFilter six;
    six.bands = {Band::k6GHz};
    EXPECT_EQ(model->Map(MapRequest(Metric::kStrongest, -67, six)).At(5, 5), -52.0f);
    const Profile strict = Parsed(R"({"name": "c", "max_cochannel": 0})");
    EXPECT_EQ(JudgePoints(survey, strict)[0].reason, "cochannel 1 radio > 0 on 2.4 GHz channel 1");
}

// SNR is the strongest radio's level less its channel's noise: at a point
// as measured there, on the map from the nearest point that measured it.
TEST(Snr, FromTheNoiseMeasuredAtThePoints) {
    Survey survey;
    survey.points = {
        At(5, 5, {Heard(TestBssid(1), 36, -60, "Lab", 5180), Heard(TestBssid(2), 1, -70, "Lab")}),
        At(25, 5, {Heard(TestBssid(1), 36, -65, "Lab", 5180)}),
        At(45, 5, {Heard(TestBssid(2), 1, -50, "Lab")}),  // its channel's noise was not measured
        At(65, 5, {Heard(TestBssid(1), 36, -62, "Lab", 5180)}),  // no noise measured here
    };
    survey.noise = {{5, 5, 5180, -94}, {5, 5, 5180, -96}, {25, 5, 5180, -85}, {45, 5, 5180, -90}};
    const Profile snr = Parsed(R"({"name": "snr", "min_snr_db": 25})");
    const std::vector<PointVerdict> v = JudgePoints(survey, snr);
    EXPECT_EQ(v[0].levels.snr, 35) << "the two readings there averaged";
    EXPECT_TRUE(v[0].pass);
    EXPECT_EQ(v[1].reason, "SNR 20 dB < 25 on 5 GHz channel 36");
    EXPECT_EQ(v[2].reason, "no noise measured on 2.4 GHz channel 1");
    EXPECT_EQ(v[3].reason, "no noise measured");

    const auto model = IdwModel(survey, 70, 10);
    const Grid map = model->Map(MapRequest(Metric::kSnr));
    EXPECT_EQ(map.At(5, 5), 35.0f);
    EXPECT_EQ(map.At(25, 5), 20.0f);
    EXPECT_TRUE(std::isnan(map.At(45, 5))) << "channel 1 was measured nowhere";
    EXPECT_EQ(map.At(65, 5), -62.0f + 90) << "the nearest point that measured channel 36";
    EXPECT_TRUE(std::isnan(map.At(35, 5))) << "beyond the radius: no value at all";
    EXPECT_LT(JudgeArea(*model, snr).PassPercent(), 100.0);
}

}  // namespace
