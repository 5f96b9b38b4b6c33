#include "processing/markers.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr int kCellPixels = 10;

void SetPixel(uint8_t* image, MarkerCell cell, int x, int y, uint8_t shade) {
    uint8_t* pixel =
        image + 3 * ((cell.row * kCellPixels + y) * kImageWidth + cell.column * kCellPixels + x);
    pixel[0] = shade;
    pixel[1] = shade;
    pixel[2] = shade;
}

bool InGrid(MarkerCell cell) {
    return cell.column >= 0 && cell.column < kFrameColumns && cell.row >= 0 &&
           cell.row < kFrameRows;
}

}  // namespace

void MirrorSmallImage(int mode, uint8_t small[kSmallImageBytes], MarkerCell& minCell,
                      MarkerCell& maxCell) {
    if (mode != kMirrorX && mode != kMirrorY && mode != kMirrorBoth) {
        return;
    }
    const bool flipColumns = mode == kMirrorX || mode == kMirrorBoth;
    const bool flipRows = mode == kMirrorY || mode == kMirrorBoth;
    uint8_t copy[kSmallImageBytes];
    std::memcpy(copy, small, sizeof copy);
    for (int r = 0; r < kFrameRows; ++r) {
        const int inRow = flipRows ? kFrameRows - 1 - r : r;
        for (int c = 0; c < kFrameColumns; ++c) {
            const int inColumn = flipColumns ? kFrameColumns - 1 - c : c;
            std::memcpy(small + 3 * (r * kFrameColumns + c),
                        copy + 3 * (inRow * kFrameColumns + inColumn), 3);
        }
    }
    for (MarkerCell* cell : {&minCell, &maxCell}) {
        if (flipColumns) {
            cell->column = kFrameColumns - 1 - cell->column;
        }
        if (flipRows) {
            cell->row = kFrameRows - 1 - cell->row;
        }
    }
}

void DrawMarkers(uint8_t image[kImageBytes], MarkerCell minCell, MarkerCell maxCell) {
    constexpr uint8_t kBlack = 0;
    constexpr uint8_t kWhite = 255;
    if (InGrid(maxCell)) {
        for (int i = 0; i < kCellPixels; ++i) {
            SetPixel(image, maxCell, i, 4, kBlack);
            SetPixel(image, maxCell, i, 5, kWhite);
            SetPixel(image, maxCell, 4, i, kBlack);
            SetPixel(image, maxCell, 5, i, kWhite);
        }
    }
    if (InGrid(minCell)) {
        for (int i = 0; i < kCellPixels; ++i) {
            SetPixel(image, minCell, i, 0, kBlack);
            SetPixel(image, minCell, i, 1, kWhite);
            SetPixel(image, minCell, i, 8, kBlack);
            SetPixel(image, minCell, i, 9, kWhite);
            SetPixel(image, minCell, 0, i, kBlack);
            SetPixel(image, minCell, 1, i, kWhite);
            SetPixel(image, minCell, 8, i, kBlack);
            SetPixel(image, minCell, 9, i, kWhite);
        }
    }
}
