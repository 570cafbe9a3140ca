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
            break;
    }
    return "Site Update Error";
}

unsigned SiteError::Style() const {
    return platform::kMbOk | (kind == SiteErrorKind::kBadMap ? 0u : platform::kMbIconError);
}

std::string SiteError::Describe() const {
    const std::string text = Text();
    return detail.empty() || detail == text ? text : text + " (" + detail + ")";
}

}  // namespace sitefile
