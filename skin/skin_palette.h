#pragma once
// The colours and sizes of a skin file, for a skin library that draws with its own means (GDI
// on Windows) instead of handing the file to a style engine. A skin file is a style sheet; this
// reads the part of the language the skins of the archive use (rules of selectors and
// declarations, comments, colours as #rrggbb or #rgb, lengths in px) and takes from it one
// palette. A file it cannot read whole, or one that does not give every colour, is refused:
// half a palette would draw some controls in the skin and others in colours nobody chose.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A skin file is a few kilobytes; anything far larger is not one.
constexpr size_t MAX_SKIN_FILE_BYTES = 1024 * 1024;
// The largest radius or line width a skin may ask for, in pixels at 96 dpi. Beyond it a
// control of the dialog's size would be all corner or all border.
constexpr int MAX_SKIN_LENGTH_PX = 32;

struct CSkinColour {
    uint8_t m_nRed = 0;
    uint8_t m_nGreen = 0;
    uint8_t m_nBlue = 0;
    bool operator==(const CSkinColour&) const = default;
};

// Lengths are pixels at 96 dpi; whoever draws scales them to the window's own.
struct CSkinPalette {
    CSkinColour m_clrWindow;     // dialogs and message boxes
    CSkinColour m_clrText;       // text on the window, the buttons and the fields
    CSkinColour m_clrMutedText;  // disabled text, group box titles
    CSkinColour m_clrBase;       // edit fields, lists, the progress bar's track
    CSkinColour m_clrBorder;     // frames of fields, buttons, group boxes and the bar
    CSkinColour m_clrButton;     // a button at rest
    CSkinColour m_clrHover;      // a button under the mouse
    CSkinColour m_clrPressed;    // a button held down
    CSkinColour m_clrAccent;     // the default button, the bar's fill, a focused field's frame
    CSkinColour m_clrAccentText; // text on the accent
    int m_nBorderRadius = 0;     // corners of buttons, fields and group boxes
    int m_nBorderWidth = 1;      // frames
    int m_nFocusWidth = 2;       // the ring around a focused button
    int m_nChunkRadius = 0;      // corners of the bar's fill
};

// Why a skin file was refused.
enum class ESkinProblem {
    NONE,
    TOO_LARGE,             // more than MAX_SKIN_FILE_BYTES
    NOT_TEXT,              // a zero byte, a control character or bytes that are not UTF-8
    UNTERMINATED_COMMENT,  // "/*" without "*/"
    UNTERMINATED_STRING,   // a quote without its partner on the same line
    UNBALANCED_BRACES,     // a rule not closed, a "}" with no rule open, or a rule inside a rule
    BAD_DECLARATION,       // a declaration that is not "name: value", or a rule without selector
    BAD_COLOUR,            // a colour the palette needs that is not #rrggbb or #rgb
    BAD_LENGTH,            // a radius or width that is not 0..MAX_SKIN_LENGTH_PX px
    INCOMPLETE,            // a colour of the palette is given nowhere (another program's sheet)
};

struct CSkinFileProblem {
    ESkinProblem m_eProblem = ESkinProblem::NONE;
    int m_nLine = 0;            // where it was found (1-based), 0 when the file as a whole
    std::string m_strDetail;    // what was expected or found, in English, for diagnostics
};

// Reads strText (a skin file's bytes) into *pPalette. False, with the reason in *pProblem (when
// given), when the file is refused; *pPalette is then left as it was.
bool ParseSkinPalette(std::string_view strText, CSkinPalette* pPalette, CSkinFileProblem* pProblem = nullptr);
