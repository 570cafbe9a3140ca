// Dialog template and control identifiers of the dialogs in this folder. (Template 133, the
// sign-off dialog, belongs to the site-file save, which defines its own identifiers.)
#pragma once

constexpr int IDD_POINT_INFO = 130;
constexpr int IDD_ABOUT = 131;
constexpr int IDD_COLOR_RANGES = 132;
constexpr int IDD_HELP = 134;

constexpr int IDC_DELETE_POINT = 6;
constexpr int IDC_HELP_LIST = 1000;
constexpr int IDC_SWATCH1 = 1001;  // swatches 1 to 6 are 1001 to 1006
constexpr int IDC_SWATCH6 = 1006;
