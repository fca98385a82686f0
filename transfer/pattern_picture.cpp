#include "transfer/pattern_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

// Colours told apart also by people with a red-green colour deficiency, strong enough for a
// small dot on white: the first is the colour of a file whose records all have one value.
constexpr uint32_t g_anDistinctColours[PICTURE_DISTINCT_COLOURS] = {0x0072B2, 0xD55E00, 0x009E73, 0xCC79A7,
                                                                    0xE69F00, 0x56B4E9, 0x000000, 0x8C564B};
// A ramp from dark violet to green, without the pale yellow end that vanishes on white.
constexpr uint32_t g_anRampColours[] = {0x440154, 0x3B528B, 0x21918C, 0x5EC962, 0xB5DE2B};
constexpr size_t RAMP_LEGEND_STEPS = 5;

// Text is laid out before any front end measures it: an average glyph of a sans-serif font,
// digits mostly, is about this share of the font's size wide.
constexpr double GLYPH_WIDTH = 0.6;

uint32_t RampColour(double dAt)
{
    const size_t nLast = std::size(g_anRampColours) - 1;
    const double dPos = std::clamp(dAt, 0.0, 1.0) * static_cast<double>(nLast);
    const size_t nLow = std::min(static_cast<size_t>(dPos), nLast - 1);
    const double dMix = dPos - static_cast<double>(nLow);
    uint32_t nColour = 0;
    for (int nShift : {16, 8, 0}) {
        const double dLow = (g_anRampColours[nLow] >> nShift) & 0xFF;
        const double dHigh = (g_anRampColours[nLow + 1] >> nShift) & 0xFF;
        nColour |= static_cast<uint32_t>(std::lround(dLow + (dHigh - dLow) * dMix)) << nShift;
    }
    return nColour;
}

// The tick step of 1, 2 or 5 times a power of ten nearest to dRough (by ratio).
double NiceStep(double dRough)
{
    const double dPower = std::pow(10.0, std::floor(std::log10(dRough)));
    double dBest = dPower;
    for (double dFactor : {2.0, 5.0, 10.0}) {
        if (std::fabs(std::log(dFactor * dPower / dRough)) < std::fabs(std::log(dBest / dRough)))
            dBest = dFactor * dPower;
    }
    return dBest;
}

std::string FormatTickValue(double dValue, int nDecimals)
{
    char szText[64];
    std::snprintf(szText, sizeof szText, "%.*f", nDecimals, dValue);
    std::string strText = szText;
    // -0.0 would be printed "-0.0".
    if (strText.find_first_not_of("-0.") == std::string::npos)
        strText.erase(0, strText.front() == '-' ? 1 : 0);
    return strText;
}

struct CValueView {
    double dMin = 0;
    double dMax = 0;
};

// The ticks of one axis: every multiple of dStep inside the view.
std::vector<double> TickValues(const CValueView& view, double dStep)
{
    std::vector<double> adValues;
    for (double dIndex = std::ceil(view.dMin / dStep - 1e-9); dIndex * dStep <= view.dMax + dStep * 1e-9; ++dIndex)
        adValues.push_back(dIndex * dStep);
    return adValues;
}

struct CColouring {
    std::vector<uint32_t> aColours;
    std::array<uint16_t, 256> anIndexOf{}; // palette index of each first integer value
    std::vector<CPictureLegendEntry> aLegend; // value, count and colour; placed later
};

CColouring ChooseColours(const std::vector<CDecodedRecord>& records)
{
    std::array<uint64_t, 256> anCount{};
    for (const CDecodedRecord& rec : records)
        ++anCount[rec.nFirst];
    std::vector<uint32_t> anValues;
    for (uint32_t nValue = 0; nValue < 256; ++nValue) {
        if (anCount[nValue] != 0)
            anValues.push_back(nValue);
    }

    CColouring colouring;
    auto addEntry = [&](uint32_t nValue) {
        CPictureLegendEntry entry;
        entry.nValue = nValue;
        entry.nRecords = anCount[nValue];
        entry.nColour = colouring.anIndexOf[nValue];
        colouring.aLegend.push_back(entry);
    };
    if (anValues.size() <= PICTURE_DISTINCT_COLOURS) {
        for (size_t i = 0; i < anValues.size(); ++i) {
            colouring.anIndexOf[anValues[i]] = static_cast<uint16_t>(i);
            colouring.aColours.push_back(g_anDistinctColours[i]);
            addEntry(anValues[i]);
        }
        return colouring;
    }
    // Many values: the colour tells where a value lies between the smallest and the largest.
    const double dLow = anValues.front();
    const double dRange = anValues.back() - dLow;
    for (size_t i = 0; i < anValues.size(); ++i) {
        colouring.anIndexOf[anValues[i]] = static_cast<uint16_t>(i);
        colouring.aColours.push_back(RampColour((anValues[i] - dLow) / dRange));
    }
    // The legend shows the values nearest to even steps along the ramp.
    uint32_t nPrevious = 256;
    for (size_t nStep = 0; nStep < RAMP_LEGEND_STEPS; ++nStep) {
        const double dTarget = dLow + dRange * static_cast<double>(nStep) / (RAMP_LEGEND_STEPS - 1);
        const uint32_t nNearest = *std::min_element(anValues.begin(), anValues.end(), [dTarget](uint32_t a, uint32_t b) {
            return std::fabs(a - dTarget) < std::fabs(b - dTarget);
        });
        if (nNearest != nPrevious)
            addEntry(nNearest);
        nPrevious = nNearest;
    }
    return colouring;
}

size_t LongestText(const std::vector<std::string>& astrTexts)
{
    size_t nLongest = 0;
    for (const std::string& strText : astrTexts)
        nLongest = std::max(nLongest, strText.size());
    return nLongest;
}

// The sizes that follow from the picture's width: its font, a glyph's width, the padding.
struct CPictureMetrics {
    double dSize;
    double dFont;
    double dGlyph;
    double dPad;
    double dTickLength;
};

// The values' extent, as the device gets them.
CPictureExtent ExtentOf(const std::vector<CDecodedRecord>& records)
{
    CPictureExtent extent;
    for (size_t i = 0; i < records.size(); ++i) {
        const CDecodedRecord& rec = records[i];
        if (i == 0) {
            extent = CPictureExtent{rec.dFirst, rec.dFirst, rec.dSecond, rec.dSecond};
            continue;
        }
        extent.dMinX = std::min(extent.dMinX, rec.dFirst);
        extent.dMaxX = std::max(extent.dMaxX, rec.dFirst);
        extent.dMinY = std::min(extent.dMinY, rec.dSecond);
        extent.dMaxY = std::max(extent.dMaxY, rec.dSecond);
    }
    return extent;
}

// Where the frame stands and which values its edges and ticks show.
struct CFrameLayout {
    double dLeft = 0;
    double dTop = 0;
    double dWidth = 0;
    double dHeight = 0;
    double dScale = 1;
    CValueView viewX, viewY;
    int nDecimals = 0;
    std::vector<double> adXTicks, adYTicks;

    double ToCanvasX(double dX) const { return dLeft + (dX - viewX.dMin) * dScale; }
    double ToCanvasY(double dY) const { return dTop + (viewY.dMax - dY) * dScale; }
};

// The frame is as wide as the canvas allows beside the y labels and the legend; x and y share
// one scale, so its height follows the pattern's shape, from a quarter of its width (a flat
// pattern) to its width (a tall one, then centred across). The y labels' width depends on
// the frame, so the layout is made again until the labels fit their margin.
CFrameLayout LayOutFrame(const CPictureMetrics& m, const CPictureExtent& extent, double dLegendWidth)
{
    // A margin of 5% of the larger span around the dots; a single dot (or none) gets a view one
    // unit wide.
    double dSpan = std::max(extent.dMaxX - extent.dMinX, extent.dMaxY - extent.dMinY);
    if (dSpan <= 0)
        dSpan = 1;
    const double dMargin = dSpan * 0.05;
    const double dNeedX = extent.dMaxX - extent.dMinX + 2 * dMargin;
    const double dNeedY = extent.dMaxY - extent.dMinY + 2 * dMargin;
    const double dCentreX = (extent.dMinX + extent.dMaxX) / 2;
    const double dCentreY = (extent.dMinY + extent.dMaxY) / 2;

    CFrameLayout layout;
    layout.dTop = 2 * m.dFont;
    size_t nLabelChars = 4;
    for (int nPass = 0; nPass < 3; ++nPass) {
        layout.dLeft = m.dPad + static_cast<double>(nLabelChars) * m.dGlyph + m.dTickLength + m.dFont * 0.3;
        layout.dWidth = std::max(m.dSize - layout.dLeft - dLegendWidth - 2 * m.dPad, m.dSize / 4);
        layout.dScale = std::min(layout.dWidth / dNeedX, layout.dWidth / dNeedY);
        layout.dHeight = std::max(dNeedY * layout.dScale, layout.dWidth / 4);
        const double dHalfWidth = layout.dWidth / (2 * layout.dScale);
        const double dHalfHeight = layout.dHeight / (2 * layout.dScale);
        layout.viewX = CValueView{dCentreX - dHalfWidth, dCentreX + dHalfWidth};
        layout.viewY = CValueView{dCentreY - dHalfHeight, dCentreY + dHalfHeight};
        // About seven ticks along the longer side.
        const double dStep = NiceStep(std::max(layout.dWidth, layout.dHeight) / layout.dScale / 7);
        layout.nDecimals = std::max(0, -static_cast<int>(std::floor(std::log10(dStep) + 1e-9)));
        layout.adXTicks = TickValues(layout.viewX, dStep);
        layout.adYTicks = TickValues(layout.viewY, dStep);
        std::vector<std::string> astrYLabels;
        for (double dValue : layout.adYTicks)
            astrYLabels.push_back(FormatTickValue(dValue, layout.nDecimals));
        const size_t nNeeded = std::max<size_t>(LongestText(astrYLabels), 1);
        if (nNeeded <= nLabelChars && nPass > 0)
            break;
        nLabelChars = nNeeded;
    }
    return layout;
}

// The ticks, their grid lines and labels along both axes, and the axes' names.
void AddAxes(CPatternPicture& picture, const CFrameLayout& layout, const CPictureMetrics& m)
{
    const double dLeft = layout.dLeft;
    const double dTop = layout.dTop;
    const double dRight = dLeft + layout.dWidth;
    const double dBottom = dTop + layout.dHeight;
    const double dFont = m.dFont;
    for (double dValue : layout.adXTicks) {
        const double dX = layout.ToCanvasX(dValue);
        CPictureTick tick;
        tick.dValue = dValue;
        tick.mark = CPictureLine{dX, dBottom, dX, dBottom + m.dTickLength};
        tick.grid = CPictureLine{dX, dTop, dX, dBottom};
        tick.label = CPictureText{dX, dBottom + m.dTickLength + dFont * 1.1, ETextAlign::Centre,
                                  FormatTickValue(dValue, layout.nDecimals)};
        picture.aXTicks.push_back(tick);
    }
    for (double dValue : layout.adYTicks) {
        const double dY = layout.ToCanvasY(dValue);
        CPictureTick tick;
        tick.dValue = dValue;
        tick.mark = CPictureLine{dLeft - m.dTickLength, dY, dLeft, dY};
        tick.grid = CPictureLine{dLeft, dY, dRight, dY};
        // Digits stand about 0.7 of the font's size above their baseline: centred on the tick.
        tick.label = CPictureText{dLeft - m.dTickLength - dFont * 0.3, dY + dFont * 0.35, ETextAlign::Right,
                                  FormatTickValue(dValue, layout.nDecimals)};
        picture.aYTicks.push_back(tick);
    }
    picture.xName = CPictureText{dLeft + layout.dWidth / 2, dBottom + m.dTickLength + dFont * 2.4, ETextAlign::Centre,
                                 PATTERN_FIELD_NAMES[0]};
    picture.yName = CPictureText{dLeft, dTop - dFont * 0.6, ETextAlign::Left, PATTERN_FIELD_NAMES[1]};
}

// The legend, in a column right of the frame; returns where it ends below.
double AddLegend(CPatternPicture& picture, const CColouring& colouring, const std::vector<std::string>& astrLabels,
                 const CFrameLayout& layout, const CPictureMetrics& m)
{
    const double dFont = m.dFont;
    const double dTop = layout.dTop;
    const double dLegendLeft = layout.dLeft + layout.dWidth + m.dPad;
    const double dRow = dFont * 1.5;
    picture.dLegendDotRadius = std::max(picture.dDotRadius, dFont * 0.35);
    double dLegendBottom = dTop;
    if (colouring.aLegend.empty())
        return dLegendBottom;
    picture.legendTitle = CPictureText{dLegendLeft, dTop + dFont, ETextAlign::Left, PATTERN_FIELD_NAMES[2]};
    for (size_t i = 0; i < colouring.aLegend.size(); ++i) {
        CPictureLegendEntry entry = colouring.aLegend[i];
        const double dBaseline = dTop + dFont + dRow * static_cast<double>(i + 1);
        entry.dX = dLegendLeft + dFont * 0.5;
        entry.dY = dBaseline - dFont * 0.35;
        entry.label = CPictureText{dLegendLeft + dFont * 1.4, dBaseline, ETextAlign::Left, astrLabels[i]};
        picture.aLegend.push_back(entry);
        dLegendBottom = dBaseline + dFont * 0.5;
    }
    return dLegendBottom;
}

} // namespace

CPatternPicture BuildPatternPicture(const std::vector<CDecodedRecord>& records, const CPictureOptions& options)
{
    CPatternPicture picture;
    CPictureMetrics m;
    m.dSize = std::clamp(options.nSize, PICTURE_MIN_SIZE, PICTURE_MAX_SIZE);
    m.dFont = std::round(std::clamp(m.dSize / 60.0, 10.0, 20.0));
    m.dGlyph = m.dFont * GLYPH_WIDTH;
    m.dPad = m.dFont;
    m.dTickLength = std::round(m.dFont * 0.4);
    const double dFont = m.dFont;
    picture.nWidth = static_cast<int>(m.dSize);
    picture.dFontSize = dFont;
    picture.extent = ExtentOf(records);

    CColouring colouring = ChooseColours(records);
    const bool bRamp = colouring.aColours.size() > PICTURE_DISTINCT_COLOURS;
    std::vector<std::string> astrLegendLabels;
    for (const CPictureLegendEntry& entry : colouring.aLegend)
        astrLegendLabels.push_back(bRamp ? std::to_string(entry.nValue)
                                         : std::to_string(entry.nValue) + " (" + std::to_string(entry.nRecords) + ")");
    const double dLegendWidth =
        colouring.aLegend.empty() ? 0 : 2 * dFont + static_cast<double>(std::max<size_t>(LongestText(astrLegendLabels), 2)) * m.dGlyph;

    const CFrameLayout layout = LayOutFrame(m, picture.extent, dLegendWidth);
    picture.frame = CPictureRect{layout.dLeft, layout.dTop, layout.dWidth, layout.dHeight};
    picture.dScale = layout.dScale;
    AddAxes(picture, layout, m);

    // The dots: small enough that a dense pattern stays readable, large enough to be seen.
    picture.dDotRadius =
        std::clamp(0.25 * layout.dWidth / std::sqrt(static_cast<double>(std::max<size_t>(records.size(), 1))), 1.0,
                   std::max(1.0, m.dSize / 250));
    picture.dOrderLineWidth = std::max(0.5, picture.dDotRadius / 3);
    picture.aColours = colouring.aColours;
    picture.aPoints.reserve(records.size());
    for (const CDecodedRecord& rec : records)
        picture.aPoints.push_back(
            CPicturePoint{layout.ToCanvasX(rec.dFirst), layout.ToCanvasY(rec.dSecond), colouring.anIndexOf[rec.nFirst]});
    const double dLegendBottom = AddLegend(picture, colouring, astrLegendLabels, layout, m);

    // The caption, under the x axis's name.
    double dBaseline = picture.xName.dY + dFont * 0.4;
    for (const std::string& strLine : options.astrCaption) {
        dBaseline += dFont * 1.4;
        picture.aCaption.push_back(CPictureText{m.dPad, dBaseline, ETextAlign::Left, strLine});
    }
    picture.nHeight = static_cast<int>(std::ceil(std::max(dBaseline + dFont * 0.8, dLegendBottom + m.dPad)));
    return picture;
}
