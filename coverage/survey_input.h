// The coverage analysis's input, taken from the two places a survey lives:
// the survey list of the open site, and a site file's points section.
#pragma once

#include <string>
#include <vector>

#include "coverage/survey.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "survey/record_list.h"

namespace coverage {

// The survey points of a record list. Records of one point are consecutive
// and share x and y; a record with channel 0 marks a point where nothing was
// heard. Only reads the list: the caller holds whatever lock guards it (the
// survey list is the user-interface thread's own).
Survey SurveyFromRecords(const CRecordList& list);

// The survey points of an opened site file, read with VisitPoints (the
// survey list is left alone): one per stored group, consecutive groups at one
// position being one point as they are once the file is open. Entries with
// channel 0 are not access points and are skipped. Points off the map (once
// ReadMap has read it) and entries that cannot be true are left out, each
// with a line in `ignored`. reader.Points() then says whether the whole
// section could be read.
Survey SurveyFromSiteFile(sitefile::SiteFileReader& reader,
                          std::vector<std::string>* ignored = nullptr);

// What the site's sidecar adds to its survey: each BSSID's frequency and
// channel width where the Wi-Fi adapter reported them (for readings on that
// very channel: a BSSID that moved channel keeps the band its channel
// number tells), the noise measured at the survey points, and the building:
// walls with their materials' losses, placed access points, the scale.
void ApplySiteMeta(const sitefile::SiteMeta& meta, Survey& survey);

// Opens the site file and reads its survey points with what its sidecar
// adds; false with a one-line reason when the file or its sidecar cannot be
// read.
bool LoadSurvey(const std::string& path, Survey& out, std::string& error);

}  // namespace coverage
