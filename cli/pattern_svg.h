#pragma once
// The picture of a pattern (transfer/pattern_picture.h) as an SVG document: it only draws
// what the picture says, in the picture's order.

#include <string>

#include "transfer/pattern_picture.h"

// A whole SVG document, UTF-8. strTitle becomes the document's title (a browser's tab shows it).
// Every text is escaped for XML, and characters that XML cannot carry (control characters,
// bytes that are no UTF-8) are shown escaped as matrixctl shows them on a terminal. The dots
// are the circles of the group with the id "records", one per record in file order.
std::string FormatPatternSvg(const CPatternPicture& picture, const std::string& strTitle);
