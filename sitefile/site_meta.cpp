#include "sitefile/site_meta.h"

#include <sys/stat.h>

#include <cmath>
#include <set>
#include <sstream>

#include "platform/files.h"
#include "platform/json_reader.h"
#include "sitefile/site_writer.h"

namespace sitefile {

namespace {

using platform::Json;
using platform::JsonChecker;

constexpr MaterialInfo kMaterials[kMaterialCount] = {
    {Material::kDrywall, "drywall", {3, 4, 5}},
    {Material::kGlass, "glass", {3, 4, 6}},
    {Material::kWood, "wood", {4, 5, 6}},
    {Material::kBrick, "brick", {6, 10, 12}},
    {Material::kConcrete, "concrete", {12, 15, 18}},
    {Material::kMetal, "metal", {20, 26, 30}},
};

const std::set<std::string> kKnownFields = {"pixels_per_metre", "walls", "access_points",
                                            "bssids",           "noise", "walks",
                                            "estimated_levels", "report"};

constexpr double kMaxCoordinate = kMaxMetaCoordinate;

bool Coordinate(JsonChecker& check, const Json& object, const std::string& where, const char* key,
                double& value) {
    return check.Require(object, where, key) &&
           check.Number(object, where, key, -kMaxCoordinate, kMaxCoordinate, value);
}

bool ReadBssid(JsonChecker& check, const Json& value, const std::string& field, MacBytes& out) {
    std::string text;
    if (!check.TextValue(value, field, 64, text)) {
        return false;
    }
    if (!coverage::ParseBssid(text, out)) {
        return check.Fail(field, "'" + text + "' is not a BSSID (aa:bb:cc:dd:ee:ff)");
    }
    return true;
}

bool ReadWalls(JsonChecker& check, const Json& root, SiteMeta& out) {
    const Json* items = nullptr;
    if (!check.Array(root, "", "walls", kMaxWalls, items) || items == nullptr) {
        return !check.Failed();
    }
    out.walls.reserve(items->size());
    for (size_t i = 0; i < items->size(); ++i) {
        const Json& item = (*items)[i];
        const std::string where = JsonChecker::Item("walls", i);
        Wall wall;
        std::string material = "drywall";
        if (!check.IsObject(item, where) || !Coordinate(check, item, where, "x1", wall.x1) ||
            !Coordinate(check, item, where, "y1", wall.y1) ||
            !Coordinate(check, item, where, "x2", wall.x2) ||
            !Coordinate(check, item, where, "y2", wall.y2) ||
            !check.Text(item, where, "material", 32, material)) {
            return false;
        }
        if (!ParseMaterial(material, wall.material)) {
            return check.Fail(where + ".material", "unknown material '" + material + "' (one of " +
                                                       MaterialNames() + ")");
        }
        out.walls.push_back(wall);
    }
    return true;
}

bool ReadAccessPoints(JsonChecker& check, const Json& root, SiteMeta& out) {
    const Json* items = nullptr;
    if (!check.Array(root, "", "access_points", kMaxPlacedAccessPoints, items) ||
        items == nullptr) {
        return !check.Failed();
    }
    for (size_t i = 0; i < items->size(); ++i) {
        const Json& item = (*items)[i];
        const std::string where = JsonChecker::Item("access_points", i);
        PlacedAccessPoint ap;
        if (!check.IsObject(item, where) || !check.Require(item, where, "bssid") ||
            !ReadBssid(check, item["bssid"], where + ".bssid", ap.bssid) ||
            !Coordinate(check, item, where, "x", ap.x) ||
            !Coordinate(check, item, where, "y", ap.y) ||
            !check.Text(item, where, "label", 256, ap.label)) {
            return false;
        }
        if (out.PlacedAt(ap.bssid) != nullptr) {
            return check.Fail(where + ".bssid", "placed twice");
        }
        out.accessPoints.push_back(ap);
    }
    return true;
}

bool ReadBssids(JsonChecker& check, const Json& root, SiteMeta& out) {
    auto it = root.find("bssids");
    if (it == root.end()) {
        return true;
    }
    if (!it->is_object()) {
        return check.Fail("bssids", "must be a JSON object of BSSIDs");
    }
    if (it->size() > kMaxBssidChannels) {
        return check.Fail("bssids", "has " + std::to_string(it->size()) +
                                        " entries, more than the " +
                                        std::to_string(kMaxBssidChannels) + " allowed");
    }
    for (auto entry = it->begin(); entry != it->end(); ++entry) {
        const std::string where = "bssids." + entry.key();
        MacBytes bssid{};
        if (!coverage::ParseBssid(entry.key(), bssid)) {
            return check.Fail(where, "is not a BSSID (aa:bb:cc:dd:ee:ff)");
        }
        long long frequency = 0;
        long long width = 0;
        if (!check.IsObject(*entry, where) ||
            !check.Integer(*entry, where, "frequency", 0, 100000, frequency) ||
            !check.Integer(*entry, where, "width_mhz", 0, 1000, width)) {
            return false;
        }
        out.bssids[bssid] = {static_cast<int>(frequency), static_cast<int>(width)};
    }
    return true;
}

bool ReadNoise(JsonChecker& check, const Json& root, SiteMeta& out) {
    const Json* items = nullptr;
    if (!check.Array(root, "", "noise", kMaxNoiseReadings, items) || items == nullptr) {
        return !check.Failed();
    }
    out.noise.reserve(items->size());
    for (size_t i = 0; i < items->size(); ++i) {
        const Json& item = (*items)[i];
        const std::string where = JsonChecker::Item("noise", i);
        NoiseReading reading;
        long long frequency = 0;
        if (!check.IsObject(item, where) || !Coordinate(check, item, where, "x", reading.x) ||
            !Coordinate(check, item, where, "y", reading.y) ||
            !check.Require(item, where, "frequency") ||
            !check.Integer(item, where, "frequency", 1, 100000, frequency) ||
            !check.Require(item, where, "noise_dbm") ||
            !check.Number(item, where, "noise_dbm", -150, 0, reading.noiseDbm)) {
            return false;
        }
        reading.frequencyMhz = static_cast<int>(frequency);
        out.noise.push_back(reading);
    }
    return true;
}

bool ReadEstimated(JsonChecker& check, const Json& root, SiteMeta& out) {
    const Json* items = nullptr;
    if (!check.Array(root, "", "estimated_levels", kMaxNoiseReadings, items) || items == nullptr) {
        return !check.Failed();
    }
    for (size_t i = 0; i < items->size(); ++i) {
        const Json& item = (*items)[i];
        const std::string where = JsonChecker::Item("estimated_levels", i);
        std::pair<double, double> point;
        if (!check.IsObject(item, where) || !Coordinate(check, item, where, "x", point.first) ||
            !Coordinate(check, item, where, "y", point.second)) {
            return false;
        }
        out.estimatedLevels.push_back(point);
    }
    return true;
}

bool ReadWalks(JsonChecker& check, const Json& root, SiteMeta& out) {
    const Json* items = nullptr;
    if (!check.Array(root, "", "walks", kMaxWalks, items) || items == nullptr) {
        return !check.Failed();
    }
    for (size_t i = 0; i < items->size(); ++i) {
        const Json& item = (*items)[i];
        const std::string where = JsonChecker::Item("walks", i);
        Walk walk;
        const Json* path = nullptr;
        const Json* times = nullptr;
        const Json* points = nullptr;
        if (!check.IsObject(item, where) ||
            !check.Array(item, where, "path", kMaxWalkCorners, path) ||
            !check.Array(item, where, "times_s", kMaxWalkCorners, times) ||
            !check.Array(item, where, "points", kMaxWalkCorners, points) ||
            !check.Number(item, where, "speed", 0, 1e6, walk.speed)) {
            return false;
        }
        for (size_t c = 0; path != nullptr && c < path->size(); ++c) {
            const Json& corner = (*path)[c];
            const std::string field = JsonChecker::Item(where + ".path", c);
            double x = 0;
            double y = 0;
            if (!corner.is_array() || corner.size() != 2) {
                return check.Fail(field, "must be [x, y]");
            }
            if (!check.NumberValue(corner[0], field, -kMaxCoordinate, kMaxCoordinate, x) ||
                !check.NumberValue(corner[1], field, -kMaxCoordinate, kMaxCoordinate, y)) {
                return false;
            }
            walk.path.emplace_back(x, y);
        }
        for (size_t c = 0; times != nullptr && c < times->size(); ++c) {
            double t = 0;
            if (!check.NumberValue((*times)[c], JsonChecker::Item(where + ".times_s", c), 0, 1e9,
                                   t)) {
                return false;
            }
            walk.timesS.push_back(t);
        }
        if (!walk.timesS.empty() && walk.timesS.size() != walk.path.size()) {
            return check.Fail(where + ".times_s", "must have one time for every corner of path");
        }
        for (size_t p = 0; points != nullptr && p < points->size(); ++p) {
            std::string name;
            if (!check.TextValue((*points)[p], JsonChecker::Item(where + ".points", p), 32, name)) {
                return false;
            }
            walk.points.push_back(name);
        }
        out.walks.push_back(std::move(walk));
    }
    return true;
}

bool ReadReport(JsonChecker& check, const Json& root, SiteMeta& out) {
    auto it = root.find("report");
    if (it == root.end()) {
        return true;
    }
    return check.IsObject(*it, "report") &&
           check.Text(*it, "report", "customer", kMaxReportFieldBytes, out.report.customer) &&
           check.Text(*it, "report", "surveyor", kMaxReportFieldBytes, out.report.surveyor) &&
           check.Text(*it, "report", "notes", kMaxReportFieldBytes, out.report.notes);
}

// Numbers as short as they can be written and still read back the same.
Json Number(double v) {
    if (std::floor(v) == v && std::fabs(v) < 1e15) {
        return static_cast<long long>(v);
    }
    return v;
}

std::string ScaleRange() {
    std::ostringstream text;
    text << "must be a number of pixels per metre from " << kMinPixelsPerMetre << " to "
         << kMaxPixelsPerMetre;
    return text.str();
}

bool FromJson(const Json& root, const std::string& name, SiteMeta& out, std::string& error) {
    out = SiteMeta();
    JsonChecker check(name);
    if (!check.IsObject(root, "")) {
        error = name + ": must hold one JSON object";
        return false;
    }
    double scale = 0;
    if (root.contains("pixels_per_metre")) {
        if (!check.Number(root, "", "pixels_per_metre", kMinPixelsPerMetre, kMaxPixelsPerMetre,
                          scale)) {
            error = name + ": pixels_per_metre " + ScaleRange();
            return false;
        }
        out.pixelsPerMetre = scale;
    }
    if (!ReadWalls(check, root, out) || !ReadAccessPoints(check, root, out) ||
        !ReadBssids(check, root, out) || !ReadNoise(check, root, out) ||
        !ReadEstimated(check, root, out) || !ReadWalks(check, root, out) ||
        !ReadReport(check, root, out)) {
        error = check.Error();
        out = SiteMeta();
        return false;
    }
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (kKnownFields.count(it.key()) == 0) {
            out.otherFields[it.key()] = it->dump(-1, ' ', false, Json::error_handler_t::replace);
        }
    }
    return true;
}

// Reads the sidecar. `present` says whether there is one at all.
bool ReadMeta(const std::string& sitePath, SiteMeta& out, bool& present, std::string& error) {
    out = SiteMeta();
    const std::string path = MetaPath(sitePath);
    Json root;
    switch (platform::ReadJsonFile(path, kMaxMetaBytes, root, error)) {
        case platform::JsonFile::kMissing:
            present = false;
            error.clear();
            return true;
        case platform::JsonFile::kFailed:
            present = true;
            return false;
        case platform::JsonFile::kRead:
            break;
    }
    present = true;
    return FromJson(root, path, out, error);
}

}  // namespace

const MaterialInfo& InfoOf(Material material) {
    return kMaterials[static_cast<int>(material)];
}

const MaterialInfo (&AllMaterials())[kMaterialCount] {
    return kMaterials;
}

bool ParseMaterial(const std::string& name, Material& out) {
    for (const MaterialInfo& info : kMaterials) {
        if (name == info.name) {
            out = info.material;
            return true;
        }
    }
    return false;
}

std::string MaterialNames() {
    std::string names;
    for (const MaterialInfo& info : kMaterials) {
        names += (names.empty() ? "" : ", ") + std::string(info.name);
    }
    return names;
}

const PlacedAccessPoint* SiteMeta::PlacedAt(const MacBytes& bssid) const {
    for (const PlacedAccessPoint& ap : accessPoints) {
        if (ap.bssid == bssid) {
            return &ap;
        }
    }
    return nullptr;
}

std::string MetaPath(const std::string& sitePath) {
    return sitePath + ".meta.json";
}

bool ParseSiteMeta(const std::string& text, const std::string& name, SiteMeta& out,
                   std::string& error) {
    Json root;
    return platform::ParseJson(text, name, root, error) && FromJson(root, name, out, error);
}

bool ReadSiteMeta(const std::string& sitePath, SiteMeta& out, std::string& error) {
    bool present = false;
    return ReadMeta(sitePath, out, present, error);
}

std::string MetaText(const SiteMeta& meta) {
    Json root = Json::object();
    for (const auto& [name, text] : meta.otherFields) {
        std::string ignored;
        Json value;
        if (platform::ParseJson(text, name, value, ignored)) {
            root[name] = std::move(value);
        }
    }
    if (meta.pixelsPerMetre) {
        root["pixels_per_metre"] = *meta.pixelsPerMetre;
    }
    if (!meta.walls.empty()) {
        Json walls = Json::array();
        for (const Wall& wall : meta.walls) {
            walls.push_back({{"x1", Number(wall.x1)},
                             {"y1", Number(wall.y1)},
                             {"x2", Number(wall.x2)},
                             {"y2", Number(wall.y2)},
                             {"material", InfoOf(wall.material).name}});
        }
        root["walls"] = std::move(walls);
    }
    if (!meta.accessPoints.empty()) {
        Json aps = Json::array();
        for (const PlacedAccessPoint& ap : meta.accessPoints) {
            Json entry = {
                {"bssid", coverage::BssidText(ap.bssid)}, {"x", Number(ap.x)}, {"y", Number(ap.y)}};
            if (!ap.label.empty()) {
                entry["label"] = ap.label;
            }
            aps.push_back(std::move(entry));
        }
        root["access_points"] = std::move(aps);
    }
    if (!meta.bssids.empty()) {
        Json bssids = Json::object();
        for (const auto& [bssid, channel] : meta.bssids) {
            Json entry = Json::object();
            if (channel.frequencyMhz > 0) {
                entry["frequency"] = channel.frequencyMhz;
            }
            if (channel.widthMhz > 0) {
                entry["width_mhz"] = channel.widthMhz;
            }
            bssids[coverage::BssidText(bssid)] = std::move(entry);
        }
        root["bssids"] = std::move(bssids);
    }
    if (!meta.noise.empty()) {
        Json noise = Json::array();
        for (const NoiseReading& reading : meta.noise) {
            noise.push_back({{"x", Number(reading.x)},
                             {"y", Number(reading.y)},
                             {"frequency", reading.frequencyMhz},
                             {"noise_dbm", Number(reading.noiseDbm)}});
        }
        root["noise"] = std::move(noise);
    }
    if (!meta.estimatedLevels.empty()) {
        Json points = Json::array();
        for (const auto& [x, y] : meta.estimatedLevels) {
            points.push_back({{"x", Number(x)}, {"y", Number(y)}});
        }
        root["estimated_levels"] = std::move(points);
    }
    if (!meta.walks.empty()) {
        Json walks = Json::array();
        for (const Walk& walk : meta.walks) {
            Json path = Json::array();
            for (const auto& [x, y] : walk.path) {
                path.push_back({Number(x), Number(y)});
            }
            Json entry = {{"path", std::move(path)}};
            if (!walk.timesS.empty()) {
                Json times = Json::array();
                for (double t : walk.timesS) {
                    times.push_back(Number(t));
                }
                entry["times_s"] = std::move(times);
            }
            if (walk.speed > 0) {
                entry["speed"] = Number(walk.speed);
            }
            entry["points"] = walk.points;
            walks.push_back(std::move(entry));
        }
        root["walks"] = std::move(walks);
    }
    if (!meta.report.Empty()) {
        Json report = Json::object();
        if (!meta.report.customer.empty()) {
            report["customer"] = meta.report.customer;
        }
        if (!meta.report.surveyor.empty()) {
            report["surveyor"] = meta.report.surveyor;
        }
        if (!meta.report.notes.empty()) {
            report["notes"] = meta.report.notes;
        }
        root["report"] = std::move(report);
    }
    // Text that is not valid UTF-8 is written as it would be shown.
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

namespace {

// Writes `meta` over the sidecar; `damaged` says the one there could not be
// read, so it is set aside first.
bool Store(const std::string& sitePath, const SiteMeta& meta, bool damaged, std::string& error,
           std::string* note) {
    const std::string path = MetaPath(sitePath);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + ": is not a regular file; it was left as it is";
        return false;
    }
    if (damaged) {
        std::string aside;
        if (!platform::MoveAsideNumbered(path, ".damaged", aside, error)) {
            error += " (the sidecar could not be read and was not replaced)";
            return false;
        }
        if (note != nullptr) {
            *note = path + " could not be read; it was moved aside to " + aside +
                    " and a new one written";
        }
    }
    const std::string text = MetaText(meta);
    std::string detail;
    if (!ReplaceFileContents(path, std::vector<uint8_t>(text.begin(), text.end()), detail,
                             platform::ReadWriteBitsOf(sitePath))) {
        error = path + ": " + detail;
        return false;
    }
    return true;
}

}  // namespace

bool WriteSiteMeta(const std::string& sitePath, const SiteMeta& meta, std::string& error,
                   std::string* note) {
    SiteMeta old;
    bool present = false;
    std::string readError;
    const bool damaged = !ReadMeta(sitePath, old, present, readError);
    return Store(sitePath, meta, damaged, error, note);
}

bool UpdateSiteMeta(const std::string& sitePath,
                    const std::function<bool(SiteMeta&, std::string& error)>& change,
                    std::string& error, std::string* note) {
    SiteMeta meta;
    bool present = false;
    std::string readError;
    const bool damaged = !ReadMeta(sitePath, meta, present, readError);
    if (damaged) {
        meta = SiteMeta();
    }
    if (!change(meta, error)) {
        return false;
    }
    return Store(sitePath, meta, damaged, error, note);
}

bool WriteSiteScale(const std::string& sitePath, double pixelsPerMetre, std::string& error,
                    std::string* note) {
    if (!std::isfinite(pixelsPerMetre) || pixelsPerMetre < kMinPixelsPerMetre ||
        pixelsPerMetre > kMaxPixelsPerMetre) {
        error = "the scale " + ScaleRange();
        return false;
    }
    return UpdateSiteMeta(
        sitePath,
        [pixelsPerMetre](SiteMeta& meta, std::string&) {
            meta.pixelsPerMetre = pixelsPerMetre;
            return true;
        },
        error, note);
}

bool CopySiteMeta(const std::string& fromSite, const std::string& toSite, std::string& error) {
    SiteMeta meta;
    bool present = false;
    if (!ReadMeta(fromSite, meta, present, error)) {
        return false;
    }
    if (!present) {
        // A sidecar already beside the new path belongs to the file replaced there.
        SiteMeta stale;
        bool there = false;
        std::string ignored;
        ReadMeta(toSite, stale, there, ignored);
        if (!there) {
            return true;
        }
    }
    return Store(toSite, meta, false, error, nullptr);
}

}  // namespace sitefile
