// The walls and doors of the example office floor plan, in map pixels. The
// plan generator draws them, and the office scenario (examples/office.json)
// lists the same walls, door gaps cut out, for the simulated unit's wall
// loss: `make_floorplan --walls` prints that list, and a test checks that the
// scenario still holds it.
#pragma once

#include <algorithm>
#include <array>
#include <vector>

namespace office_plan {

// A wall line, drawn kWallWidth pixels thick; horizontal or vertical.
struct PlanWall {
    int x1, y1, x2, y2;
};

// A door: a kDoorWidth-pixel gap in a wall, starting at (x, y) on the wall
// line and running right (a horizontal wall) or down (a vertical wall). It
// opens to the side given by `forward` (down for a horizontal wall, right for
// a vertical one).
struct PlanDoor {
    int x, y;
    bool inHorizontalWall;
    bool forward;
};

constexpr int kWallWidth = 6;
constexpr int kDoorWidth = 30;

// Outer walls, then the walls between rooms and corridors.
constexpr PlanWall kWalls[] = {
    {10, 10, 630, 10},    {10, 470, 630, 470},  {10, 10, 10, 470},    {630, 10, 630, 470},
    {10, 185, 630, 185},  {10, 215, 630, 215},  {10, 320, 630, 320},  {10, 350, 630, 350},
    {180, 10, 180, 185},  {450, 10, 450, 185},  {180, 215, 180, 320}, {380, 215, 380, 320},
    {450, 215, 450, 320}, {240, 350, 240, 470}, {400, 350, 400, 470},
};

// Doors from every room to its corridor, the entrance on the left and the
// fire exit on the right.
constexpr PlanDoor kDoors[] = {
    {120, 185, true, false}, {400, 185, true, false},  {470, 185, true, false},
    {120, 215, true, true},  {300, 215, true, true},   {560, 215, true, true},
    {405, 320, true, false}, {200, 320, true, false},  {560, 320, true, false},
    {60, 350, true, true},   {350, 350, true, true},   {580, 350, true, true},
    {10, 185, false, true},  {630, 320, false, false},
};

// The walls as the radio sees them: each wall line with its door gaps (the
// pixels x .. x + kDoorWidth - 1 along the wall) cut out, as [x1, y1, x2, y2].
inline std::vector<std::array<int, 4>> WallSegments() {
    std::vector<std::array<int, 4>> out;
    for (const PlanWall& w : kWalls) {
        const bool horizontal = w.y1 == w.y2;
        const int line = horizontal ? w.y1 : w.x1;
        int from = horizontal ? std::min(w.x1, w.x2) : std::min(w.y1, w.y2);
        const int to = horizontal ? std::max(w.x1, w.x2) : std::max(w.y1, w.y2);
        std::vector<int> gaps;
        for (const PlanDoor& d : kDoors) {
            const int at = horizontal ? d.x : d.y;
            if (d.inHorizontalWall == horizontal && (horizontal ? d.y : d.x) == line &&
                at >= from && at <= to) {
                gaps.push_back(at);
            }
        }
        std::sort(gaps.begin(), gaps.end());
        auto piece = [&](int a, int b) {
            if (b > a) {
                out.push_back(horizontal ? std::array<int, 4>{a, line, b, line}
                                         : std::array<int, 4>{line, a, line, b});
            }
        };
        for (int gap : gaps) {
            piece(from, gap - 1);
            from = gap + kDoorWidth;
        }
        piece(from, to);
    }
    return out;
}

}  // namespace office_plan
