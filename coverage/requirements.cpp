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

struct BuiltIn {
    const char* name;
    double minStrongest;
    std::optional<double> minSecond;
};
const BuiltIn kBuiltIns[] = {{"data", -70, std::nullopt}, {"voice", -67, -67}};

std::string Quoted(const std::string& field) {
    return "\"" + field + "\"";
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

// The profile's conditions on levels taken over its access points.
bool Holds(const Profile& p, double strongest, double second, int cochannel) {
    return (!p.minStrongestDbm || strongest >= *p.minStrongestDbm) &&
           (!p.minSecondDbm || second >= *p.minSecondDbm) &&
           (!p.maxCochannel || cochannel <= *p.maxCochannel);
}

std::string Reason(const Profile& p, const Levels& l) {
    std::string out;
    const auto add = [&out](const std::string& text) {
        out += out.empty() ? "" : "; ";
        out += text;
    };
    if (p.minStrongestDbm && l.strongest < *p.minStrongestDbm) {
        add("strongest " + DbmText(l.strongest) + " dBm < " + DbmText(*p.minStrongestDbm));
    }
    if (p.minSecondDbm && l.second < *p.minSecondDbm) {
        add("second " + DbmText(l.second) + " dBm < " + DbmText(*p.minSecondDbm));
    }
    if (p.maxCochannel && l.cochannel > *p.maxCochannel) {
        add("cochannel " + std::to_string(l.cochannel) + " > " + std::to_string(*p.maxCochannel) +
            " on channel " + std::to_string(l.channel));
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
        add("second >= " + DbmText(*minSecondDbm) + " dBm");
    }
    if (maxCochannel) {
        add("at most " + std::to_string(*maxCochannel) + " on the strongest one's channel at " +
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
        } else if (field == "min_strongest_dbm" || field == "min_second_dbm") {
            double level = 0;
            if (!ReadLevel(value, field, level, error)) {
                return false;
            }
            (field == "min_strongest_dbm" ? p.minStrongestDbm : p.minSecondDbm) = level;
        } else if (field == "cochannel_threshold_dbm") {
            if (!ReadLevel(value, field, p.cochannelThresholdDbm, error)) {
                return false;
            }
        } else if (field == "max_cochannel") {
            if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
                value.get<int64_t>() > kMostCochannel) {
                error = Quoted(field) + " must be a whole number of access points from 0 to " +
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
    // The access points as the maps know them: in BSSID order, each with the
    // SSID and channel it was first heard with; only the profile's count.
    const ApFilter filter = profile.Filter();
    std::map<Bssid, AccessPoint> known;
    for (const SurveyPoint& point : survey.points) {
        for (const Reading& r : point.heard) {
            if (known.count(r.bssid) == 0) {
                AccessPoint ap;
                ap.bssid = r.bssid;
                ap.ssid = r.ssid;
                ap.channel = r.channel;
                known.emplace(r.bssid, ap);
            }
        }
    }
    std::vector<AccessPoint> selected;
    for (const auto& [bssid, ap] : known) {
        if (filter.Selects(ap)) {
            selected.push_back(ap);
        }
    }

    std::vector<PointVerdict> out;
    out.reserve(survey.points.size());
    for (size_t i = 0; i < survey.points.size(); ++i) {
        const SurveyPoint& point = survey.points[i];
        std::map<Bssid, Heard> heard;
        for (const Reading& r : point.heard) {
            Heard& h = heard[r.bssid];
            h.sum += r.rssi;
            ++h.count;
        }
        // The same walk as a map's cell: ties go to the first in BSSID order.
        std::vector<double> levels(selected.size(), kNotHeardDbm);
        Levels l;
        size_t strongest = selected.size();
        for (size_t a = 0; a < selected.size(); ++a) {
            const auto it = heard.find(selected[a].bssid);
            const double v = it == heard.end() ? kNotHeardDbm : it->second.sum / it->second.count;
            levels[a] = v;
            if (strongest == selected.size() || v > l.strongest) {
                l.second = strongest == selected.size() ? l.second : l.strongest;
                l.strongest = v;
                strongest = a;
            } else if (v > l.second) {
                l.second = v;
            }
        }
        if (strongest != selected.size()) {
            l.channel = selected[strongest].channel;
            for (size_t a = 0; a < selected.size(); ++a) {
                l.cochannel +=
                    selected[a].channel == l.channel && levels[a] >= profile.cochannelThresholdDbm;
            }
        }
        PointVerdict v;
        v.index = i;
        v.x = point.x;
        v.y = point.y;
        v.name = point.name;
        v.levels = l;
        v.pass = Holds(profile, l.strongest, l.second, l.cochannel);
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
    Grid second, cochannel;
    if (profile.minSecondDbm) {
        second = model.Map(MapRequest(Metric::kSecond, -67, filter));
    }
    if (profile.maxCochannel) {
        cochannel =
            model.Map(MapRequest(Metric::kCochannel, profile.cochannelThresholdDbm, filter));
    }
    AreaVerdict area;
    area.spec = model.Spec();
    area.cells.assign(strongest.values.size(), CellVerdict::kNone);
    for (size_t i = 0; i < strongest.values.size(); ++i) {
        const float s = strongest.values[i];
        if (std::isnan(s)) {
            continue;
        }
        const bool pass = Holds(profile, s, profile.minSecondDbm ? second.values[i] : kNotHeardDbm,
                                profile.maxCochannel ? static_cast<int>(cochannel.values[i]) : 0);
        area.cells[i] = pass ? CellVerdict::kPass : CellVerdict::kFail;
        ++area.judged;
        area.passing += pass;
    }
    return area;
}

}  // namespace coverage
