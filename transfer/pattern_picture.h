#pragma once
// The picture of a pattern, as the device will get it: each record a dot at its decoded
// (x, y), x to the right and y up, in file order with a faint line through the dots in that
// order, coloured by the first integer value with a legend, axes with ticks in the values' own
// units, and a caption. It is laid out here, once, as geometry; a front end only draws it:
// matrixctl's SVG writer, and a window with a QPainter or GDI in a few lines each.
//
// Coordinates are canvas pixels with the origin at the top left and y growing downwards, as
// SVG, QPainter and GDI all draw; the values' y grows upwards and is turned here. Colours are
// 0xRRGGBB. Texts are UTF-8, all of the one size dFontSize, anchored on their baseline.
//
// Drawn in this order, nothing hides what matters: the background; the grid lines of the
// ticks; the frame; the tick marks; the order line (aPoints joined in order); the dots; the
// tick labels and the axis names; the legend (a dot of each entry's colour and its label); the
// caption.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/pattern.h"

struct CPictureRect {
    double dLeft = 0;
    double dTop = 0;
    double dWidth = 0;
    double dHeight = 0;
};

struct CPictureLine {
    double dX1 = 0;
    double dY1 = 0;
    double dX2 = 0;
    double dY2 = 0;
};

enum class ETextAlign {
    Left,   // the text starts at dX
    Centre, // its middle is at dX
    Right,  // it ends at dX
};

struct CPictureText {
    double dX = 0;
    double dY = 0; // the baseline
    ETextAlign eAlign = ETextAlign::Left;
    std::string strText;
};

// One record: where its dot goes, and its colour as an index into aColours.
struct CPicturePoint {
    double dX = 0;
    double dY = 0;
    uint16_t nColour = 0;
};

struct CPictureTick {
    double dValue = 0;  // in the values' units
    CPictureLine mark;  // the short line outside the frame
    CPictureLine grid;  // the faint line across the frame
    CPictureText label; // the value
};

struct CPictureLegendEntry {
    uint32_t nValue = 0;   // the first integer value it stands for
    uint64_t nRecords = 0; // how many records have it
    uint16_t nColour = 0;  // index into aColours
    double dX = 0;         // the centre of its dot
    double dY = 0;
    CPictureText label;
};

// The decoded values' extent; all 0 for a picture without records.
struct CPictureExtent {
    double dMinX = 0;
    double dMaxX = 0;
    double dMinY = 0;
    double dMaxY = 0;
};

struct CPatternPicture {
    int nWidth = 0;
    int nHeight = 0;
    double dFontSize = 0;
    uint32_t nBackground = 0xFFFFFF;
    uint32_t nInk = 0x333333;       // texts, frame and tick marks
    uint32_t nGrid = 0xE8E8E8;      // grid lines
    uint32_t nOrderLine = 0xB4B4B4; // the line through the dots in file order
    double dOrderLineWidth = 1;
    CPictureRect frame; // every dot lies inside it
    double dScale = 1;  // pixels per unit of the values, the same across and up

    std::vector<uint32_t> aColours;
    std::vector<CPicturePoint> aPoints; // one per record, in file order
    double dDotRadius = 1;

    std::vector<CPictureTick> aXTicks; // along the bottom, left to right
    std::vector<CPictureTick> aYTicks; // along the left, bottom to top
    CPictureText xName;
    CPictureText yName;

    CPictureText legendTitle;
    std::vector<CPictureLegendEntry> aLegend; // by ascending value
    double dLegendDotRadius = 1;

    std::vector<CPictureText> aCaption; // one per line
    CPictureExtent extent;
};

// Up to this many distinct first integer values each get a colour of their own and a legend
// entry; more are coloured along a ramp from the smallest to the largest, and the legend shows
// a few steps of it.
constexpr size_t PICTURE_DISTINCT_COLOURS = 8;

constexpr int PICTURE_DEFAULT_SIZE = 800;
constexpr int PICTURE_MIN_SIZE = 200;
constexpr int PICTURE_MAX_SIZE = 10000;

struct CPictureOptions {
    // The canvas's width in pixels (PICTURE_MIN_SIZE to PICTURE_MAX_SIZE); its height follows
    // from the pattern's shape, x and y drawn to the same scale.
    int nSize = PICTURE_DEFAULT_SIZE;
    // The lines under the picture, worded by the front end in its own language (the file's
    // name, the number of records, the extent).
    std::vector<std::string> astrCaption;
};

CPatternPicture BuildPatternPicture(const std::vector<CDecodedRecord>& records, const CPictureOptions& options);
