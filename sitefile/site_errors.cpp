#include "sitefile/site_errors.h"

#include "platform/message_box.h"

namespace sitefile {

std::string SiteError::Text() const {
    switch (kind) {
        case SiteErrorKind::kCannotOpen:
            return detail;
        case SiteErrorKind::kNotSiteFile:
            return "Not a Site File.";
        case SiteErrorKind::kObsolete:
            return "Obsolete Site File, recreate using Zorvane";
        case SiteErrorKind::kBadMap:
            return "Error Loading Site";
        case SiteErrorKind::kCannotSave:
            break;
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
    return detail.empty() || detail == text ? text : text + " (" + detail + ")";
}

}  // namespace sitefile
