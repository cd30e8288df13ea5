#pragma once

#include <QRect>
#include <cstddef>
#include <vector>

#include "settings/GridPlace.h"

namespace vistamo {

// Where the camera grid puts its tiles. All in widget points, origin at the top left.
struct GridTileFrame {
    // The tile's whole cell, and in it the picture at its aspect ratio (empty while the ratio
    // is not known) with the name line right under it, the two centred together.
    QRect cell;
    QRect picture;
    QRect name;
};

// Height of the line under each picture that carries the camera's name.
inline constexpr int kGridNameHeight = 22;
// Space between neighbouring cells and around the grid.
inline constexpr int kGridSpacing = 4;

// Columns and rows for `tileCount` tiles: ⌈√n⌉ columns and as many rows as they need
// (at least one of each) when automatic, else the layout's fixed side both ways.
int gridColumns(GridLayout layout, size_t tileCount);
int gridRows(GridLayout layout, size_t tileCount);
// How many of the tiles have a cell: all when automatic, at most side² when fixed.
size_t shownTiles(GridLayout layout, size_t tileCount);

// The cells of the shown tiles in a view of `viewSize`, row by row, equal in size, spaced by
// kGridSpacing; `ratios[i]` is tile i's picture width / height (0 when not known yet). None for
// a view too small to hold a cell of one point each way.
std::vector<GridTileFrame> gridTileFrames(GridLayout layout, const std::vector<float>& ratios,
                                          QSize viewSize);

}  // namespace vistamo
