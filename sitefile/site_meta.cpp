#include "sitefile/site_meta.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "sitefile/site_writer.h"

namespace sitefile {

namespace {

using nlohmann::json;

constexpr long long kMaxMetaBytes = 1024 * 1024;
constexpr char kScaleField[] = "pixels_per_metre";

// The sidecar's object; `present` false when there is none.
bool ReadObject(const std::string& path, json& object, bool& present, std::string& error) {
    present = false;
    object = json::object();
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    present = true;
    if (!S_ISREG(info.st_mode)) {
        error = path + ": is not a regular file";
        return false;
    }
    if (info.st_size > kMaxMetaBytes) {
        error = path + ": is larger than " + std::to_string(kMaxMetaBytes) + " bytes";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    try {
        object = json::parse(text.str());
    } catch (const json::parse_error& e) {
        const std::string what = e.what();
        const size_t at = what.find("] ");
        error =
            path + ": not valid JSON: " + (at == std::string::npos ? what : what.substr(at + 2));
        return false;
    }
    if (!object.is_object()) {
        error = path + ": must hold one JSON object";
        return false;
    }
    return true;
}

bool ValidScale(double v) {
    return std::isfinite(v) && v >= kMinPixelsPerMetre && v <= kMaxPixelsPerMetre;
}

std::string ScaleRange() {
    std::ostringstream text;
    text << "must be a number of pixels per metre from " << kMinPixelsPerMetre << " to "
         << kMaxPixelsPerMetre;
    return text.str();
}

}  // namespace

std::string MetaPath(const std::string& sitePath) {
    return sitePath + ".meta.json";
}

bool ReadSiteMeta(const std::string& sitePath, SiteMeta& out, std::string& error) {
    out = SiteMeta();
    const std::string path = MetaPath(sitePath);
    json object;
    bool present = false;
    if (!ReadObject(path, object, present, error)) {
        return false;
    }
    auto scale = object.find(kScaleField);
    if (scale != object.end()) {
        if (!scale->is_number() || !ValidScale(scale->get<double>())) {
            error = path + ": " + kScaleField + " " + ScaleRange();
            return false;
        }
        out.pixelsPerMetre = scale->get<double>();
    }
    return true;
}

bool WriteSiteScale(const std::string& sitePath, double pixelsPerMetre, std::string& error) {
    if (!ValidScale(pixelsPerMetre)) {
        error = "the scale " + ScaleRange();
        return false;
    }
    const std::string path = MetaPath(sitePath);
    json object;
    bool present = false;
    if (!ReadObject(path, object, present, error)) {
        error += " (not replaced)";
        return false;
    }
    object[kScaleField] = pixelsPerMetre;
    const std::string text = object.dump(2) + "\n";
    std::string detail;
    if (!ReplaceFileContents(path, std::vector<uint8_t>(text.begin(), text.end()), detail)) {
        error = path + ": " + detail;
        return false;
    }
    return true;
}

}  // namespace sitefile
