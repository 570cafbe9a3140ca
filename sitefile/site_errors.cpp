#include "sitefile/site_errors.h"

#include "platform/message_box.h"

namespace sitefile {

namespace {

// The message, and the reason on a second line starting with a capital.
std::string WithReason(const std::string& message, std::string reason) {
    if (reason.empty()) {
        return message;
    }
    if (reason[0] >= 'a' && reason[0] <= 'z') {
        reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
    }
    return message + "\n" + reason + (reason.back() == '.' ? "" : ".");
}

}  // namespace

std::string SiteError::Text() const {
    switch (kind) {
        case SiteErrorKind::kCannotOpen:
            return detail;
        case SiteErrorKind::kNotSiteFile:
            return "Not a Site File.";
        case SiteErrorKind::kObsolete:
            return "Obsolete Site File, recreate using Zorvane";
        case SiteErrorKind::kBadMap:
            return WithReason("Error Loading Site", detail);
        case SiteErrorKind::kCannotSave:
            break;
        case SiteErrorKind::kCannotWrite:
            return WithReason("Could not update site", detail);
        case SiteErrorKind::kPointsNotRead:
            return "Could not update site\nThe site holds stored survey points that the open could "
                   "not take (" +
                   detail +
                   "); a save would lose them. Open it without keeping its points to survey "
                   "it anew.";
        case SiteErrorKind::kSiteChanged:
            return "Could not update site\nThe site file was changed or replaced since it was "
                   "opened.";
        case SiteErrorKind::kReadOnlySite:
            return "Could not update site\nThe site file is read-only.";
    }
    return "Could not update site";
}

std::string SiteError::Caption() const {
    switch (kind) {
        case SiteErrorKind::kCannotOpen:
            return "File Open Error";
        case SiteErrorKind::kNotSiteFile:
        case SiteErrorKind::kObsolete:
            return "File Error";
        case SiteErrorKind::kBadMap:
            return platform::kApplicationTitle;
        case SiteErrorKind::kCannotSave:
        case SiteErrorKind::kSiteChanged:
        case SiteErrorKind::kReadOnlySite:
        case SiteErrorKind::kPointsNotRead:
        case SiteErrorKind::kCannotWrite:
            break;
    }
    return "Site Update Error";
}

unsigned SiteError::Style() const {
    return platform::kMbOk | (kind == SiteErrorKind::kBadMap ? 0u : platform::kMbIconError);
}

std::string SiteError::Describe() const {
    std::string text = Text();
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, ": ");
    }
    const bool shown = kind == SiteErrorKind::kBadMap || kind == SiteErrorKind::kCannotWrite ||
                       kind == SiteErrorKind::kPointsNotRead;
    return detail.empty() || detail == text || shown ? text : text + " (" + detail + ")";
}

}  // namespace sitefile
