#include "coverage/requirements.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/json_reader.h"
#include "platform/text.h"

namespace coverage {

namespace {

using json = platform::Json;

constexpr size_t kMaxProfileBytes = 1024 * 1024;
constexpr size_t kMaxNameBytes = 100;
constexpr size_t kMaxSsidBytes = 32;
// Levels a profile may ask for, dBm.
constexpr double kLowestDbm = -120;
constexpr double kHighestDbm = 0;
constexpr int64_t kMostCochannel = 1000;
constexpr double kMostSnrDb = 100;

struct BuiltIn {
    const char* name;
    std::optional<double> minStrongest;
    std::optional<double> minSecond;
    std::optional<int> minRadios;
    std::optional<double> minRadiosDbm;
};
const BuiltIn kBuiltIns[] = {{"data", -70, std::nullopt, std::nullopt, std::nullopt},
                             {"voice", -67, -67, std::nullopt, std::nullopt},
                             {"location", std::nullopt, std::nullopt, 3, -75}};

std::string Quoted(const std::string& field) {
    return "\"" + platform::PrintableText(field) + "\"";
}

bool ReadLevel(const json& value, const std::string& field, double& out, std::string& error) {
    if (!value.is_number() || !(value.get<double>() >= kLowestDbm) ||
        !(value.get<double>() <= kHighestDbm)) {
        error = Quoted(field) + " must be a level in dBm from " + DbmText(kLowestDbm) + " to " +
                DbmText(kHighestDbm);
        return false;
    }
    out = value.get<double>();
    return true;
}

// What a survey point heard of one access point: the sum of its readings.
struct Heard {
    double sum = 0;
    int count = 0;
};

// The profile's conditions on levels taken over its radios.
bool Holds(const Profile& p, const Levels& l) {
    return (!p.minStrongestDbm || l.strongest >= *p.minStrongestDbm) &&
           (!p.minSecondDbm || l.second >= *p.minSecondDbm) &&
           (!p.maxCochannel || l.cochannel <= *p.maxCochannel) &&
           (!p.minRadios || l.radios >= *p.minRadios) &&
           (!p.minSnrDb || (l.snr && *l.snr >= *p.minSnrDb));
}

// " on 5 GHz" for a radio heard at `level`; nothing where none was heard or
// the band is unknown.
std::string OnBand(channels::Band band, double level) {
    const char* name = channels::BandName(band);
    return name && level > kNotHeardDbm ? std::string(" on ") + name + " GHz" : std::string();
}

std::string Radios(int n) {
    return std::to_string(n) + (n == 1 ? " radio" : " radios");
}

std::string Reason(const Profile& p, const Levels& l) {
    std::string out;
    const auto add = [&out](const std::string& text) {
        out += out.empty() ? "" : "; ";
        out += text;
    };
    if (p.minStrongestDbm && l.strongest < *p.minStrongestDbm) {
        add("strongest " + DbmText(l.strongest) + " dBm < " + DbmText(*p.minStrongestDbm) +
            OnBand(l.band, l.strongest));
    }
    if (p.minSecondDbm && l.second < *p.minSecondDbm) {
        add("second radio " + DbmText(l.second) + " dBm < " + DbmText(*p.minSecondDbm) +
            OnBand(l.secondBand, l.second));
    }
    if (p.maxCochannel && l.cochannel > *p.maxCochannel) {
        add("cochannel " + Radios(l.cochannel) + " > " + std::to_string(*p.maxCochannel) + " on " +
            ChannelText(l.band, l.channel));
    }
    if (p.minRadios && l.radios < *p.minRadios) {
        add(Radios(l.radios) + " >= " + DbmText(*p.minRadiosDbm) + " dBm < " +
            std::to_string(*p.minRadios));
    }
    if (p.minSnrDb && !l.snr) {
        add(!l.noiseMeasured || l.channel == 0
                ? std::string("no noise measured")
                : "no noise measured on " + ChannelText(l.band, l.channel));
    } else if (p.minSnrDb && *l.snr < *p.minSnrDb) {
        add("SNR " + DbmText(std::round(*l.snr * 10) / 10) + " dB < " + DbmText(*p.minSnrDb) +
            " on " + ChannelText(l.band, l.channel));
    }
    return out;
}

}  // namespace

std::string DbmText(double dbm) {
    char text[32];
    if (dbm == std::round(dbm)) {
        std::snprintf(text, sizeof text, "%.0f", dbm);
    } else {
        std::snprintf(text, sizeof text, "%.1f", dbm);
    }
    return text;
}

ApFilter Profile::Filter() const {
    ApFilter filter;
    filter.ssids = ssids;
    filter.bands = bands;
    return filter;
}

std::string Profile::Describe() const {
    std::string out;
    const auto add = [&out](const std::string& text) {
        out += out.empty() ? "" : ", ";
        out += text;
    };
    if (minStrongestDbm) {
        add("strongest >= " + DbmText(*minStrongestDbm) + " dBm");
    }
    if (minSecondDbm) {
        add("second radio >= " + DbmText(*minSecondDbm) + " dBm");
    }
    if (minRadios) {
        add(Radios(*minRadios) + " >= " + DbmText(*minRadiosDbm) + " dBm");
    }
    if (minSnrDb) {
        add("SNR >= " + DbmText(*minSnrDb) + " dB");
    }
    if (maxCochannel) {
        add("at most " + Radios(*maxCochannel) + " on the strongest one's channel at " +
            DbmText(cochannelThresholdDbm) + " dBm or above");
    }
    return out.empty() ? "no condition" : out;
}

std::vector<std::string> BuiltInProfileNames() {
    std::vector<std::string> names;
    for (const BuiltIn& b : kBuiltIns) {
        names.push_back(b.name);
    }
    return names;
}

bool BuiltInProfile(const std::string& name, Profile& out) {
    for (const BuiltIn& b : kBuiltIns) {
        if (name == b.name) {
            out = Profile();
            out.name = b.name;
            out.minStrongestDbm = b.minStrongest;
            out.minSecondDbm = b.minSecond;
            out.minRadios = b.minRadios;
            out.minRadiosDbm = b.minRadiosDbm;
            return true;
        }
    }
    return false;
}

namespace {

bool ProfileFromJson(const json& object, Profile& out, std::string& error) {
    if (!object.is_object()) {
        error = "a profile must be one JSON object";
        return false;
    }
    Profile p;
    bool named = false;
    for (const auto& [field, value] : object.items()) {
        if (field == "name") {
            if (!value.is_string()) {
                error = Quoted(field) + " must be text";
                return false;
            }
            p.name = value.get<std::string>();
            if (p.name.empty() || p.name.size() > kMaxNameBytes) {
                error = Quoted(field) + " must be 1 to " + std::to_string(kMaxNameBytes) +
                        " bytes of text";
                return false;
            }
            named = true;
        } else if (field == "min_strongest_dbm" || field == "min_second_dbm" ||
                   field == "min_radios_dbm") {
            double level = 0;
            if (!ReadLevel(value, field, level, error)) {
                return false;
            }
            (field == "min_strongest_dbm" ? p.minStrongestDbm
             : field == "min_second_dbm"  ? p.minSecondDbm
                                          : p.minRadiosDbm) = level;
        } else if (field == "min_snr_db") {
            if (!value.is_number() || !(value.get<double>() >= 0) ||
                !(value.get<double>() <= kMostSnrDb)) {
                error = Quoted(field) + " must be a number of dB from 0 to " + DbmText(kMostSnrDb);
                return false;
            }
            p.minSnrDb = value.get<double>();
        } else if (field == "min_radios") {
            if (!value.is_number_integer() || value.get<int64_t>() < 1 ||
                value.get<int64_t>() > kMostCochannel) {
                error = Quoted(field) + " must be a whole number of radios from 1 to " +
                        std::to_string(kMostCochannel);
                return false;
            }
            p.minRadios = static_cast<int>(value.get<int64_t>());
        } else if (field == "bands") {
            if (!value.is_array() || value.empty()) {
                error = Quoted(field) +
                        " must be a list of one or more bands, \"2.4\", \"5\" or \"6\" (left "
                        "out, every band counts)";
                return false;
            }
            for (const json& band : value) {
                channels::Band b = channels::Band::kUnknown;
                if (!band.is_string() || !channels::ParseBand(band.get<std::string>(), b)) {
                    error = Quoted(field) + " must hold the bands \"2.4\", \"5\" or \"6\"";
                    return false;
                }
                p.bands.push_back(b);
            }
        } else if (field == "cochannel_threshold_dbm") {
            if (!ReadLevel(value, field, p.cochannelThresholdDbm, error)) {
                return false;
            }
        } else if (field == "max_cochannel") {
            if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
                value.get<int64_t>() > kMostCochannel) {
                error = Quoted(field) + " must be a whole number of radios from 0 to " +
                        std::to_string(kMostCochannel);
                return false;
            }
            p.maxCochannel = static_cast<int>(value.get<int64_t>());
        } else if (field == "ssids") {
            if (!value.is_array() || value.empty()) {
                error = Quoted(field) +
                        " must be a list of one or more SSIDs (left out, every access point "
                        "counts)";
                return false;
            }
            for (const json& ssid : value) {
                if (!ssid.is_string() || ssid.get<std::string>().size() > kMaxSsidBytes) {
                    error = Quoted(field) + " must hold SSIDs as text of at most " +
                            std::to_string(kMaxSsidBytes) + " bytes";
                    return false;
                }
                p.ssids.push_back(ssid.get<std::string>());
            }
        } else {
            error = "unknown field " + Quoted(field);
            return false;
        }
    }
    if (!named) {
        error = Quoted("name") + " is missing";
        return false;
    }
    if (p.minRadios.has_value() != p.minRadiosDbm.has_value()) {
        error = Quoted("min_radios") + " and " + Quoted("min_radios_dbm") +
                " go together (how many radios, at or above which level)";
        return false;
    }
    out = std::move(p);
    return true;
}

}  // namespace

bool ParseProfile(const std::string& text, Profile& out, std::string& error) {
    json object;
    if (!platform::ParseJson(text, "", object, error)) {
        error = "not valid JSON: " + error;
        return false;
    }
    return ProfileFromJson(object, out, error);
}

bool ResolveProfile(const std::string& nameOrPath, Profile& out, std::string& error) {
    if (BuiltInProfile(nameOrPath, out)) {
        return true;
    }
    json object;
    switch (platform::ReadJsonFile(nameOrPath, kMaxProfileBytes, object, error)) {
        case platform::JsonFile::kMissing: {
            std::string names;
            for (const std::string& name : BuiltInProfileNames()) {
                names += name + ", ";
            }
            error = "unknown profile '" + nameOrPath + "' (" + names + "or a profile file)";
            return false;
        }
        case platform::JsonFile::kFailed:
            return false;
        case platform::JsonFile::kRead:
            break;
    }
    if (!ProfileFromJson(object, out, error)) {
        error = nameOrPath + ": " + error;
        return false;
    }
    return true;
}

std::vector<PointVerdict> JudgePoints(const Survey& survey, const Profile& profile) {
    // The access points and radios as the maps know them; only the profile's count.
    const std::vector<AccessPoint> aps = PrepareSamples(survey).aps;
    const ApFilter filter = profile.Filter();
    std::map<Bssid, size_t> index;
    std::vector<size_t> selected;
    for (size_t a = 0; a < aps.size(); ++a) {
        index.emplace(aps[a].bssid, a);
        if (filter.Selects(aps[a])) {
            selected.push_back(a);
        }
    }
    const RadioSet radios(aps);
    const RadioCombiner combiner(radios, std::move(selected));
    const NoiseMap noise(survey.noise);

    std::vector<PointVerdict> out;
    out.reserve(survey.points.size());
    std::vector<double> scratch;
    for (size_t i = 0; i < survey.points.size(); ++i) {
        const SurveyPoint& point = survey.points[i];
        std::map<size_t, Heard> heard;
        for (const Reading& r : point.heard) {
            Heard& h = heard[index.at(r.bssid)];
            h.sum += r.rssi;
            ++h.count;
        }
        std::vector<double> levels(aps.size(), kNotHeardDbm);
        for (const auto& [a, h] : heard) {
            levels[a] = h.sum / h.count;
        }
        const RadioLevels got =
            combiner.Combine(levels.data(), profile.cochannelThresholdDbm, scratch);
        PointVerdict v;
        v.index = i;
        v.x = point.x;
        v.y = point.y;
        v.name = point.name;
        Levels& l = v.levels;
        l.strongest = got.strongest;
        l.second = got.second;
        l.cochannel = got.cochannel;
        l.noiseMeasured = noise.MeasuredAt(point.x, point.y);
        if (got.strongestRadio != kNoRadio) {
            const Radio& radio = radios.At(got.strongestRadio);
            l.channel = radio.channel;
            l.band = radio.band;
            if (const auto n = noise.At(radio.band, radio.channel, point.x, point.y)) {
                l.snr = got.strongest - *n;
            }
        }
        if (got.secondRadio != kNoRadio) {
            l.secondBand = radios.At(got.secondRadio).band;
        }
        if (profile.minRadios) {
            l.radios = combiner.Combine(levels.data(), *profile.minRadiosDbm, scratch).reaching;
        }
        v.pass = Holds(profile, l);
        if (!v.pass) {
            v.reason = Reason(profile, l);
        }
        out.push_back(std::move(v));
    }
    return out;
}

double AreaVerdict::PassPercent() const {
    if (judged == 0) {
        return 0;
    }
    // Whole numbers throughout: no product or quotient rounds up.
    return static_cast<double>(static_cast<uint64_t>(passing) * 1000 / judged) / 10.0;
}

AreaVerdict JudgeArea(const CoverageModel& model, const Profile& profile) {
    const ApFilter filter = profile.Filter();
    // Strongest always: it also tells which cells have a value.
    const Grid strongest = model.Map(MapRequest(Metric::kStrongest, -67, filter));
    Grid second, cochannel, radios, snr;
    if (profile.minSecondDbm) {
        second = model.Map(MapRequest(Metric::kSecond, -67, filter));
    }
    if (profile.maxCochannel) {
        cochannel =
            model.Map(MapRequest(Metric::kCochannel, profile.cochannelThresholdDbm, filter));
    }
    if (profile.minRadios) {
        radios = model.Map(MapRequest(Metric::kCount, *profile.minRadiosDbm, filter));
    }
    if (profile.minSnrDb) {
        snr = model.Map(MapRequest(Metric::kSnr, -67, filter));
    }
    AreaVerdict area;
    area.spec = model.Spec();
    area.cells.assign(strongest.values.size(), CellVerdict::kNone);
    for (size_t i = 0; i < strongest.values.size(); ++i) {
        const float s = strongest.values[i];
        if (std::isnan(s)) {
            continue;
        }
        Levels l;
        l.strongest = s;
        l.second = profile.minSecondDbm ? second.values[i] : kNotHeardDbm;
        l.cochannel = profile.maxCochannel ? static_cast<int>(cochannel.values[i]) : 0;
        l.radios = profile.minRadios ? static_cast<int>(radios.values[i]) : 0;
        if (profile.minSnrDb && !std::isnan(snr.values[i])) {
            l.snr = snr.values[i];
        }
        const bool pass = Holds(profile, l);
        area.cells[i] = pass ? CellVerdict::kPass : CellVerdict::kFail;
        ++area.judged;
        area.passing += pass;
    }
    return area;
}

}  // namespace coverage
