// Command identifiers of the tool buttons: the application handles opening
// and saving, the view the rest.
#pragma once

constexpr int ID_OPEN_SITE = 32771;
constexpr int ID_SAVE_SITE = 32772;
constexpr int ID_COLOR_RANGES = 32773;
constexpr int ID_ZOOM_IN = 32774;
constexpr int ID_ZOOM_OUT = 32775;
constexpr int ID_HELP = 57670;
constexpr int ID_ABOUT = 32777;
// File → New site from floor plan (the workspace and the script's new-site).
constexpr int ID_NEW_SITE = 32790;
