// Preparing a site for its survey: the map's scale, the walls and where the
// known access points hang. Each change is written to the site's sidecar at
// once (sitefile::UpdateSiteMeta), so nothing done here waits for a save and
// nothing is lost when the program stops. The window's tools, the script
// commands and ksf all go through here.
//
// Every change reads the sidecar from disk, makes the change there and writes
// it back, so what another program wrote meanwhile (ksf in a terminal) is
// kept; the copy held here is always what was last written or read.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plan/plan_import.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"

namespace plan {

// The scale of a map on which the line from (x1, y1) to (x2, y2) is `metres`
// long. False with a reason for a line without length, a length that is not
// a positive number, or a scale outside the range a sidecar holds.
bool ScaleFromLine(double x1, double y1, double x2, double y2, double metres,
                   double& pixelsPerMetre, std::string& error);

// A label is kept to this many bytes.
constexpr size_t kMaxLabelBytes = 256;

class SitePreparation {
  public:
    // Takes the site at `sitePath` whose map is `width` x `height` pixels and
    // reads its sidecar. A sidecar that cannot be read answers false with
    // the reason; the site is still taken, with nothing prepared, and the
    // first change sets the damaged sidecar aside (Note() then says where).
    bool Load(const std::string& sitePath, int width, int height, std::string& error);
    // Reads the sidecar again (another program changed it).
    bool Reload(std::string& error);

    const std::string& SitePath() const { return m_sitePath; }
    const sitefile::SiteMeta& Meta() const { return m_meta; }
    // Said once after a change that had to set a damaged sidecar aside.
    std::string TakeNote();

    bool SetScale(double pixelsPerMetre, std::string& error);
    bool SetScaleFromLine(double x1, double y1, double x2, double y2, double metres,
                          std::string& error);

    // Walls are named by their place in Meta().walls. A wall is refused when
    // an end lies outside the map or it has no length.
    bool AddWall(const sitefile::Wall& wall, std::string& error);
    // Moves the ends of (or changes the material of) wall `index`.
    bool ChangeWall(size_t index, const sitefile::Wall& to, std::string& error);
    bool DeleteWall(size_t index, std::string& error);
    // All the walls at once: the detected walls once reviewed, or none.
    bool ReplaceWalls(const std::vector<sitefile::Wall>& walls, std::string& error);

    // Places (or moves) an access point. An empty label keeps the one it had.
    bool PlaceAccessPoint(const sitefile::MacBytes& bssid, double x, double y,
                          const std::string& label, std::string& error);
    bool UnplaceAccessPoint(const sitefile::MacBytes& bssid, std::string& error);

  private:
    using Change = std::function<bool(sitefile::SiteMeta&, std::string&)>;
    bool Update(const Change& change, std::string& error);
    bool CheckInside(double x, double y, const char* what, std::string& error) const;
    bool CheckWall(const sitefile::Wall& wall, std::string& error) const;
    // Edits wall `index` of the copy held here where it is in the sidecar now.
    bool EditWall(size_t index,
                  const std::function<void(std::vector<sitefile::Wall>&, size_t at)>& edit,
                  std::string& error);
    // Where wall `index` of the copy held here is in `walls` as read now.
    std::optional<size_t> Locate(const std::vector<sitefile::Wall>& walls, size_t index) const;

    std::string m_sitePath;
    int m_width = 0;
    int m_height = 0;
    sitefile::SiteMeta m_meta;
    std::string m_note;
};

// A new site at `sitePath` from the plan at `planPath` (LoadPlan, then
// WriteNewSite). A sidecar already at the new site's sidecar path belongs to
// another plan (its scale, its walls), so it is moved aside as `.replaced`
// first and a note says so. `notes` gets what LoadPlan noted; `plan`, when given, what
// was drawn (its kind and pages). False with a one-line reason, nothing
// written.
bool CreateSiteFromPlan(const std::string& planPath, const PlanOptions& options,
                        const std::string& sitePath, std::vector<std::string>& notes,
                        std::string& error, sitefile::SiteMap* map = nullptr, Plan* plan = nullptr);

// The walls drawn in the site's map as walls of `material`: proposals for the
// surveyor to review before ReplaceWalls keeps them.
std::vector<sitefile::Wall> ProposeWalls(const sitefile::SiteMap& map,
                                         std::optional<double> pixelsPerMetre,
                                         sitefile::Material material);

}  // namespace plan
