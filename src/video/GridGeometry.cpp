#include "video/GridGeometry.h"

#include <algorithm>
#include <cmath>

#include "video/VideoGeometry.h"

namespace vistamo {

namespace {

int fixedSide(GridLayout layout) { return static_cast<int>(layout); }

}  // namespace

int gridColumns(GridLayout layout, size_t tileCount) {
    if (layout != GridLayout::Automatic) {
        return fixedSide(layout);
    }
    auto columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tileCount))));
    // sqrt may land a hair above an exact square.
    while (columns > 1 &&
           static_cast<size_t>(columns - 1) * static_cast<size_t>(columns - 1) >= tileCount) {
        --columns;
    }
    return std::max(columns, 1);
}

int gridRows(GridLayout layout, size_t tileCount) {
    if (layout != GridLayout::Automatic) {
        return fixedSide(layout);
    }
    const auto columns = static_cast<size_t>(gridColumns(layout, tileCount));
    return std::max(1, static_cast<int>((tileCount + columns - 1) / columns));
}

size_t shownTiles(GridLayout layout, size_t tileCount) {
    if (layout == GridLayout::Automatic) {
        return tileCount;
    }
    const auto side = static_cast<size_t>(fixedSide(layout));
    return std::min(tileCount, side * side);
}

std::vector<GridTileFrame> gridTileFrames(GridLayout layout, const std::vector<float>& ratios,
                                          QSize viewSize) {
    const size_t count = shownTiles(layout, ratios.size());
    const int columns = gridColumns(layout, ratios.size());
    const int rows = gridRows(layout, ratios.size());
    const int cellWidth = (viewSize.width() - kGridSpacing * (columns + 1)) / columns;
    const int cellHeight = (viewSize.height() - kGridSpacing * (rows + 1)) / rows;
    if (count == 0 || cellWidth < 1 || cellHeight < 1) {
        return {};
    }
    std::vector<GridTileFrame> frames;
    frames.reserve(count);
    for (size_t index = 0; index < count; ++index) {
        const auto column = static_cast<int>(index % static_cast<size_t>(columns));
        const auto row = static_cast<int>(index / static_cast<size_t>(columns));
        GridTileFrame frame;
        frame.cell = QRect(kGridSpacing + column * (cellWidth + kGridSpacing),
                           kGridSpacing + row * (cellHeight + kGridSpacing), cellWidth, cellHeight);
        // The picture and its name line as one block, centred in the cell.
        const int nameHeight = std::min(kGridNameHeight, cellHeight);
        const auto fit = videoViewport(static_cast<float>(cellWidth),
                                       static_cast<float>(cellHeight - nameHeight), ratios[index]);
        const QSize picture = fit ? QSize(static_cast<int>(std::lround(fit->w)),
                                          static_cast<int>(std::lround(fit->h)))
                                  : QSize(0, 0);
        const int top = frame.cell.top() + (cellHeight - picture.height() - nameHeight) / 2;
        if (fit) {
            frame.picture =
                QRect(QPoint(frame.cell.left() + (cellWidth - picture.width()) / 2, top), picture);
        }
        frame.name = QRect(frame.cell.left(), top + picture.height(), cellWidth, nameHeight);
        frames.push_back(frame);
    }
    return frames;
}

}  // namespace vistamo
