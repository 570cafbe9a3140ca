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
#include <string>
#include <vector>

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

// Value of one hexadecimal digit (either case), or -1.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace sim
