// What the commands of ksf share: their arguments and how they end.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "survey/channels.h"

// Arguments after the command: positional ones and the values of known
// options, as given (each command checks the ones it uses).
struct Args {
    std::vector<std::string> positional;
    std::set<std::string> given;  // options that were given, flags too ("-o" for --output)
    std::string format;
    std::string map;
    std::string output;
    std::string metric;
    std::string threshold;
    std::string method;
    std::string cell;
    std::string radius;
    std::string pixelsPerMetre;
    std::string line;
    std::string metres;
    std::string profile;
    std::string minArea;
    std::string page;
    std::string width;
    std::string material;
    std::string customer;
    std::string surveyor;
    std::string notes;
    std::string place;    // --place BSSID (X and Y follow as positional arguments)
    std::string unplace;  // --unplace BSSID
    std::string label;
    std::string wallsMode;  // --walls on|off
    std::vector<std::string> ssids;
    std::vector<std::string> bssids;
    std::vector<std::string> channels;
    std::vector<std::string> bands;
    std::vector<std::string> walls;  // --add
};

bool ParseArgs(const std::vector<std::string>& in, Args& args, std::string& error);

// A finite number, all of the text.
bool ParseNumber(const std::string& text, double& out);
// A whole number, all of the text, within [low, high].
bool ParseInt(const std::string& text, long low, long high, long& out);
// Four finite numbers separated by commas: X1,Y1,X2,Y2.
bool ParseSegment(const std::string& text, double (&v)[4]);
// Whether -o names the SITE itself, which an output must never replace.
bool OutputIsTheSite(const Args& args);
// Writes an output through platform::WriteOutputFile ("-" is standard
// output); false with the reason.
bool WriteOutput(const std::string& path, const void* data, size_t size, std::string& error);

// --band values; false with the usage message for a bad one.
bool ParseBands(const std::vector<std::string>& texts, std::vector<channels::Band>& out,
                std::string& error);
// --method, where given.
bool ParseMethodOption(const Args& args, coverage::Method& out, std::string& error);
// --walls on|off (on by default): whether the coverage model takes in the
// sidecar's walls.
bool ParseWallsOption(const Args& args, bool& on, std::string& error);
// Tells that a survey without noise measurements has no SNR.
void WarnNoNoise(const std::string& path);

// One line on standard error; the exit status: 2 for a usage error, 1 when
// the work failed.
int UsageError(const std::string& message);
int WorkError(const std::string& message);

bool OpenSite(const std::string& path, sitefile::SiteFileReader& reader, std::string& error);
// One warning line for each stored record left out because it cannot be true.
void WarnIgnored(const std::vector<std::string>& ignored);
// The error of a site whose points section cannot all be read.
std::string PointsNotRead(const std::string& path, const sitefile::PointsReport& report);
// The survey of an opened site with its sidecar applied (its walls left out
// without `walls`); false with the message when part of its points cannot be
// read. Readings the survey ignores are warned about.
bool ReadSurvey(const std::string& path, sitefile::SiteFileReader& reader,
                const sitefile::SiteMeta& meta, bool walls, coverage::Survey& survey,
                std::string& error);
// OpenSite and every check Kestrow's open makes (the map, the layout a save
// needs), so a site Kestrow refuses is refused with the reason `info` gives.
// The map read is kept in `map` when one is given.
bool OpenAcceptedSite(const std::string& path, sitefile::SiteFileReader& reader, std::string& error,
                      sitefile::SiteMap* map = nullptr);

// Site preparation: a site from a floor plan, its walls.
int Create(const Args& args);
int Walls(const Args& args);
// Access points: placed or estimated, and placing them.
int Aps(const Args& args);

// The coverage commands.
int Heatmap(const Args& args);
int Scale(const Args& args);
int Check(const Args& args);
int Report(const Args& args);
