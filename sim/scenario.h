// What the simulated scanner unit hears and how it behaves: texts, line pacing,
// access points and injected faults, read from a JSON scenario file.
//
//   sim::Scenario scenario;
//   std::string error;
//   if (!sim::LoadScenario("examples/office.json", scenario, error)) { ...error... }
//
// Every field is optional; a missing one keeps the default below. Unknown
// fields are refused, so a misspelt fault never silently does nothing. Errors
// name the field and the problem, e.g. "access_points[2].step: must be an
// integer from 1 to 16".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sitefile/site_meta.h"

namespace sim {

struct SimAccessPoint {
    std::array<uint8_t, 6> mac{};
    std::string ssid;          // at most 32 characters
    int step = 1;              // channel step 1..16 on which it is heard
    int frequency = 5180;      // MHz, 1..32767 (0 would mean "nothing heard")
    int rssi = -60;            // dBm at 10 map pixels, or everywhere without a position
    double noiseDb = 0;        // standard deviation of Gaussian noise on each hearing
    bool hasPosition = false;  // x and y given
    int x = 0;
    int y = 0;
    double pathLoss = 3.0;  // exponent of the log-distance fall-off beyond 10 pixels
};

// A wall on the map, a straight segment in map pixels. Every wall the straight
// line from an access point to the surveyor crosses costs its loss: its own
// when given, else its material's at the access point's band (the sidecar's
// table, sitefile::InfoOf), else the scenario's wall loss.
struct Wall {
    Wall() = default;
    Wall(double ax, double ay, double bx, double by) : x1(ax), y1(ay), x2(bx), y2(by) {}

    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    std::optional<sitefile::Material> material;
    std::optional<double> lossDb;
};

struct ScenarioFaults {
    unsigned dropAnswerEvery = 0;  // every Nth scan command gets no answer (0 = never)
    unsigned garbageEvery = 0;     // garbage bytes before every Nth message (0 = never)
    int restartOnStep = 0;         // this step is answered once with the restart sub-code
    bool radioNotResponding = false;
};

struct Scenario {
    std::string firmware = "CV-2.10";
    std::string serial = "A1B2C3D4";
    unsigned baud = 38400;  // 10 bits a byte; 0 = as fast as possible
    unsigned dwellMs = 0;   // pause before each channel step's answer
    uint32_t seed = 1;      // noise and garbage bytes
    std::vector<SimAccessPoint> accessPoints;
    std::vector<Wall> walls;
    double wallLossDb = 5;  // lost for every wall between access point and surveyor
                            // that has no material or loss of its own
    // An access point whose level at the surveyor (noise included) is below
    // this is not heard at all.
    double sensitivityDbm = -95;
    // Shadowing: a fixed random field for each access point added to its
    // level, the same at the same place every time (see Shadowing below).
    double shadowingDb = 0;      // its standard deviation; 0 = none
    double shadowingM = 3;       // its correlation distance, metres
    double pixelsPerMetre = 20;  // the map's scale, for the correlation distance
    ScenarioFaults faults;
};

// Parses scenario JSON text. On failure answers false with a one-line error.
bool ParseScenario(const std::string& jsonText, Scenario& out, std::string& error);

// Reads and parses a scenario file; errors start with the file's path.
bool LoadScenario(const std::string& path, Scenario& out, std::string& error);

// The built-in office scenario (the text of examples/office.json), used when
// no scenario file is given.
const char* BuiltInOfficeScenarioText();
Scenario BuiltInOfficeScenario();

// The number of walls the straight line from (ax, ay) to (bx, by) crosses. A
// line that only touches a wall at an end (its own or the wall's) is judged by
// a fixed half-open rule, so walls meeting end to end across the line count
// once, never twice or not at all; a line running along a wall does not cross it.
int WallsCrossed(const std::vector<Wall>& walls, double ax, double ay, double bx, double by);
// Whether that line crosses the one wall, by the same rule.
bool CrossesWall(const Wall& wall, double ax, double ay, double bx, double by);

// What one crossing of the wall costs the access point: the wall's own loss,
// its material's at the access point's band (5 GHz for a frequency on no
// known channel), or the scenario's wall loss.
double CrossingLoss(const Scenario& scenario, const Wall& wall, const SimAccessPoint& ap);

// What the walls between an access point and the map position (x, y) cost it,
// each wall crossed counted once as WallsCrossed counts them.
double WallLoss(const Scenario& scenario, const SimAccessPoint& ap, double x, double y);

// The access point's shadowing at map position (x, y), dB: a stationary,
// Gaussian-like field of standard deviation shadowingDb whose correlation
// between two places d apart falls off as exp(-d / shadowingM) (the usual
// model of indoor shadowing), built from the scenario's seed and the access
// point's MAC: the same for the same seed and MAC wherever it is asked for.
// Zero without shadowing or without a position.
double Shadowing(const Scenario& scenario, const SimAccessPoint& ap, double x, double y);

// The level of an access point for a surveyor at map position (x, y), before
// noise and limits: the level at 10 pixels, the log-distance fall-off beyond
// them, the loss of every wall crossed and the shadowing. An access point
// without a position is heard at its level everywhere.
double PathLevel(const Scenario& scenario, const SimAccessPoint& ap, double x, double y);

// The noise-free level heard there: PathLevel kept within -100 .. -20 dBm
// (whether it is heard at all is Audible's question).
double ExactLevel(const Scenario& scenario, const SimAccessPoint& ap, double x, double y);

// Whether a level (before the -100 .. -20 limits) reaches the scenario's
// sensitivity.
inline bool Audible(const Scenario& scenario, double level) {
    return level >= scenario.sensitivityDbm;
}

}  // namespace sim
