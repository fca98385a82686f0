#include "cli/pattern_svg.h"

#include <charconv>
#include <cstdio>

#include "text/printable.h"

namespace {

// A coordinate to two decimals, a hundredth of a pixel: finer than any screen shows.
void AppendNumber(std::string& strOut, double dValue)
{
    char szText[32];
    const auto [pEnd, ec] = std::to_chars(szText, szText + sizeof szText, dValue, std::chars_format::fixed, 2);
    if (ec != std::errc()) {
        strOut += '0';
        return;
    }
    std::string_view svText(szText, static_cast<size_t>(pEnd - szText));
    // 12.50 as 12.5 and 12.00 as 12: a picture of 100,000 dots is a fifth smaller.
    while (svText.size() > 1 && svText.back() == '0')
        svText.remove_suffix(1);
    if (svText.back() == '.')
        svText.remove_suffix(1);
    if (svText == "-0")
        svText = "0";
    strOut += svText;
}

std::string Colour(uint32_t nColour)
{
    char szText[8];
    std::snprintf(szText, sizeof szText, "#%06x", static_cast<unsigned>(nColour & 0xFFFFFF));
    return szText;
}

std::string EscapeXml(const std::string& strText)
{
    std::string strOut;
    for (char ch : EscapeForTerminal(strText)) {
        switch (ch) {
        case '&': strOut += "&amp;"; break;
        case '<': strOut += "&lt;"; break;
        case '>': strOut += "&gt;"; break;
        case '"': strOut += "&quot;"; break;
        case '\'': strOut += "&apos;"; break;
        default: strOut += ch; break;
        }
    }
    return strOut;
}

void AppendLine(std::string& strOut, const CPictureLine& line)
{
    strOut += "<line x1=\"";
    AppendNumber(strOut, line.dX1);
    strOut += "\" y1=\"";
    AppendNumber(strOut, line.dY1);
    strOut += "\" x2=\"";
    AppendNumber(strOut, line.dX2);
    strOut += "\" y2=\"";
    AppendNumber(strOut, line.dY2);
    strOut += "\"/>\n";
}

void AppendText(std::string& strOut, const CPictureText& text)
{
    if (text.strText.empty())
        return;
    strOut += "<text x=\"";
    AppendNumber(strOut, text.dX);
    strOut += "\" y=\"";
    AppendNumber(strOut, text.dY);
    strOut += "\"";
    if (text.eAlign == ETextAlign::Centre)
        strOut += " text-anchor=\"middle\"";
    else if (text.eAlign == ETextAlign::Right)
        strOut += " text-anchor=\"end\"";
    strOut += ">" + EscapeXml(text.strText) + "</text>\n";
}

void AppendCircle(std::string& strOut, double dX, double dY, double dRadius, const char* pszClass, size_t nColour)
{
    strOut += "<circle cx=\"";
    AppendNumber(strOut, dX);
    strOut += "\" cy=\"";
    AppendNumber(strOut, dY);
    strOut += "\" r=\"";
    AppendNumber(strOut, dRadius);
    strOut += "\" class=\"";
    strOut += pszClass;
    strOut += std::to_string(nColour) + "\"/>\n";
}

} // namespace

std::string FormatPatternSvg(const CPatternPicture& picture, const std::string& strTitle)
{
    std::string strOut;
    strOut.reserve(400 + picture.aPoints.size() * 64);
    const std::string strWidth = std::to_string(picture.nWidth);
    const std::string strHeight = std::to_string(picture.nHeight);
    strOut += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + strWidth + "\" height=\"" + strHeight +
              "\" viewBox=\"0 0 " + strWidth + " " + strHeight + "\" font-family=\"sans-serif\" font-size=\"";
    AppendNumber(strOut, picture.dFontSize);
    strOut += "\">\n<title>" + EscapeXml(strTitle) + "</title>\n<style>\n";
    // One class per colour keeps each of many dots short.
    for (size_t i = 0; i < picture.aColours.size(); ++i)
        strOut += ".c" + std::to_string(i) + "{fill:" + Colour(picture.aColours[i]) + "}\n";
    strOut += "</style>\n";
    strOut += "<rect width=\"100%\" height=\"100%\" fill=\"" + Colour(picture.nBackground) + "\"/>\n";

    strOut += "<g id=\"grid\" stroke=\"" + Colour(picture.nGrid) + "\" stroke-width=\"1\">\n";
    for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
        for (const CPictureTick& tick : *pTicks)
            AppendLine(strOut, tick.grid);
    strOut += "</g>\n<rect id=\"frame\" x=\"";
    AppendNumber(strOut, picture.frame.dLeft);
    strOut += "\" y=\"";
    AppendNumber(strOut, picture.frame.dTop);
    strOut += "\" width=\"";
    AppendNumber(strOut, picture.frame.dWidth);
    strOut += "\" height=\"";
    AppendNumber(strOut, picture.frame.dHeight);
    strOut += "\" fill=\"none\" stroke=\"" + Colour(picture.nInk) + "\" stroke-width=\"1\"/>\n";
    strOut += "<g id=\"ticks\" stroke=\"" + Colour(picture.nInk) + "\" stroke-width=\"1\">\n";
    for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
        for (const CPictureTick& tick : *pTicks)
            AppendLine(strOut, tick.mark);
    strOut += "</g>\n";

    if (picture.aPoints.size() > 1) {
        strOut += "<polyline id=\"order\" fill=\"none\" stroke=\"" + Colour(picture.nOrderLine) +
                  "\" stroke-linejoin=\"round\" stroke-width=\"";
        AppendNumber(strOut, picture.dOrderLineWidth);
        strOut += "\" points=\"";
        for (size_t i = 0; i < picture.aPoints.size(); ++i) {
            if (i != 0)
                strOut += ' ';
            AppendNumber(strOut, picture.aPoints[i].dX);
            strOut += ',';
            AppendNumber(strOut, picture.aPoints[i].dY);
        }
        strOut += "\"/>\n";
    }
    strOut += "<g id=\"records\">\n";
    for (const CPicturePoint& point : picture.aPoints)
        AppendCircle(strOut, point.dX, point.dY, picture.dDotRadius, "c", point.nColour);
    strOut += "</g>\n";

    strOut += "<g id=\"labels\" fill=\"" + Colour(picture.nInk) + "\">\n";
    for (const auto* pTicks : {&picture.aXTicks, &picture.aYTicks})
        for (const CPictureTick& tick : *pTicks)
            AppendText(strOut, tick.label);
    AppendText(strOut, picture.xName);
    AppendText(strOut, picture.yName);
    strOut += "</g>\n<g id=\"legend\" fill=\"" + Colour(picture.nInk) + "\">\n";
    AppendText(strOut, picture.legendTitle);
    for (const CPictureLegendEntry& entry : picture.aLegend) {
        AppendCircle(strOut, entry.dX, entry.dY, picture.dLegendDotRadius, "c", entry.nColour);
        AppendText(strOut, entry.label);
    }
    strOut += "</g>\n<g id=\"caption\" fill=\"" + Colour(picture.nInk) + "\">\n";
    for (const CPictureText& line : picture.aCaption)
        AppendText(strOut, line);
    strOut += "</g>\n</svg>\n";
    return strOut;
}
