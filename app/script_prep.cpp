// The script's site-preparation commands: a site from a floor plan, its
// scale, its walls and its access points.
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "app/script_runner.h"
#include "coverage/survey.h"

namespace {

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && errno != ERANGE && std::isfinite(value);
}

bool ParseDoubles(const std::vector<std::string>& words, size_t first, size_t count,
                  double* values) {
    for (size_t i = 0; i < count; ++i) {
        if (first + i >= words.size() || !ParseDouble(words[first + i], values[i])) {
            return false;
        }
    }
    return true;
}

bool Refuse(const std::string& command, std::string& reason) {
    reason = command + ": this window has no site preparation";
    return false;
}

}  // namespace

bool ScriptHost::NewSite(const std::string&, const std::string&, int, std::string& reason) {
    return Refuse("new-site", reason);
}
bool ScriptHost::Scale(double, double, double, double, double, std::string& reason) {
    return Refuse("scale", reason);
}
bool ScriptHost::AddWall(const sitefile::Wall&, std::string& reason) {
    return Refuse("wall", reason);
}
bool ScriptHost::DetectWalls(std::string& reason) {
    return Refuse("detect-walls", reason);
}
bool ScriptHost::PlaceAccessPoint(const sitefile::MacBytes&, double, double, std::string& reason) {
    return Refuse("place-ap", reason);
}

std::optional<ScriptRunner::Outcome> ScriptRunner::ExecutePreparation(
    const std::vector<std::string>& words, std::string& reason) {
    const std::string& command = words[0];
    const size_t argc = words.size() - 1;
    auto done = [](bool ok) { return ok ? Outcome::kNext : Outcome::kFail; };
    auto usage = [&reason](const char* form) {
        reason = std::string("usage: ") + form;
        return Outcome::kFail;
    };
    double v[5];
    if (command == "new-site") {
        int page = 1;
        if (argc < 2 || argc > 3) {
            return usage("new-site IMAGE SITE [PAGE]");
        }
        if (argc == 3) {
            char* end = nullptr;
            const long parsed = std::strtol(words[3].c_str(), &end, 10);
            if (words[3].empty() || *end != '\0' || parsed < 1 || parsed > 1000000) {
                return usage("new-site IMAGE SITE [PAGE] (PAGE from 1)");
            }
            page = static_cast<int>(parsed);
        }
        return done(m_host.NewSite(words[1], words[2], page, reason));
    }
    if (command == "scale") {
        if (argc != 5 || !ParseDoubles(words, 1, 5, v)) {
            return usage("scale X1 Y1 X2 Y2 METRES");
        }
        return done(m_host.Scale(v[0], v[1], v[2], v[3], v[4], reason));
    }
    if (command == "wall") {
        if ((argc != 4 && argc != 5) || !ParseDoubles(words, 1, 4, v)) {
            return usage("wall X1 Y1 X2 Y2 [MATERIAL]");
        }
        sitefile::Wall wall{v[0], v[1], v[2], v[3], sitefile::Material::kDrywall};
        if (argc == 5 && !sitefile::ParseMaterial(words[5], wall.material)) {
            reason =
                "wall: unknown material '" + words[5] + "' (" + sitefile::MaterialNames() + ")";
            return Outcome::kFail;
        }
        return done(m_host.AddWall(wall, reason));
    }
    if (command == "detect-walls") {
        if (argc != 0) {
            return usage("detect-walls");
        }
        return done(m_host.DetectWalls(reason));
    }
    if (command == "place-ap") {
        sitefile::MacBytes bssid{};
        if (argc != 3 || !ParseDoubles(words, 2, 2, v)) {
            return usage("place-ap BSSID X Y");
        }
        if (!coverage::ParseBssid(words[1], bssid)) {
            reason = "place-ap: '" + words[1] + "' is not a BSSID (aa:bb:cc:dd:ee:ff)";
            return Outcome::kFail;
        }
        return done(m_host.PlaceAccessPoint(bssid, v[0], v[1], reason));
    }
    return std::nullopt;
}
