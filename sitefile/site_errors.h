// What opening or saving a site file can tell the surveyor. Each failure has
// a kind; the message box's text, caption and icon follow from the kind and
// are written once, here.
#pragma once

#include <string>

namespace sitefile {

enum class SiteErrorKind {
    kCannotOpen,   // the system's own text, captioned "File Open Error"
    kNotSiteFile,  // "Not a Site File."
    kObsolete,     // "Obsolete Site File, recreate using Zorvane"
    kBadMap,       // "Error Loading Site", captioned with the application title
    kCannotSave,   // "Could not update site"
    // "Could not update site" and why, on a second line, captioned like kCannotSave:
    kSiteChanged,    // the file at the site's path is not the one opened, as it was
    kReadOnlySite,   // the site file is read-only
    kPointsNotRead,  // it holds stored points the open could not take (detail says which)
    kCannotWrite,    // the system refused (detail gives its text)
};

struct SiteError {
    SiteErrorKind kind = SiteErrorKind::kCannotSave;
    // Why, precisely: the system's text for kCannotOpen (it is also the
    // message); the second line of the box for kBadMap, kPointsNotRead and
    // kCannotWrite; a reason for tools and tests otherwise.
    std::string detail;

    std::string Text() const;
    std::string Caption() const;
    // The message box's style: OK, with the error icon but for kBadMap.
    unsigned Style() const;
    // The text on one line with the detail in brackets, for a tool's error.
    std::string Describe() const;
};

// The reader's and the writer's errors are the same kind of thing.
using OpenError = SiteError;
using SaveError = SiteError;

}  // namespace sitefile
