#pragma once
// The preview window both dialogs show beside themselves: what it says about a pattern file
// (its records, or why "開始更新" would refuse it), the picture that fits its client area, where
// it goes beside the dialog, and when the file it shows has changed. The dialogs only draw it.

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/pattern.h"
#include "transfer/pattern_picture.h"

// What the preview shows for one file. Texts are UTF-8, in the dialogs' language.
struct CPreviewContents {
    std::string strPath;
    std::string strTitle;               // the window's caption
    std::vector<std::string> astrLines; // above the picture, one paragraph each
    bool bRefused = false;              // the lines say why the file would not be sent
    uint64_t nRecords = 0;              // whole records in the file
    std::vector<CDecodedRecord> records; // what the picture shows; empty: no picture
    std::vector<std::string> astrCaption; // under the picture
};

// Reads strPath with the very check a press of "開始更新" makes before the port opens, and says
// what is in it. A file the transfer refuses gets the refusal's sentence and no picture: dots
// of a file that will not be sent would only mislead.
CPreviewContents LoadPreviewContents(const std::string& strPath);

// The picture of contents, as large as fits nWidth x nHeight pixels (the width wins when the
// area is smaller than the smallest picture). Empty (no points) when there is nothing to draw.
CPatternPicture BuildPreviewPicture(const CPreviewContents& contents, int nWidth, int nHeight);

// A rectangle on the screen, in pixels; the window's outer edges.
struct CScreenRect {
    int nLeft = 0;
    int nTop = 0;
    int nWidth = 0;
    int nHeight = 0;
    int Right() const { return nLeft + nWidth; }
    int Bottom() const { return nTop + nHeight; }
    bool operator==(const CScreenRect&) const = default;
};

// Space left between the dialog and the preview, so that both edges stay visible.
constexpr int PREVIEW_GAP = 8;
// Narrower than this, the picture is too small to tell one pattern from another: the preview
// would rather lie partly over the dialog.
constexpr int PREVIEW_MIN_WIDTH = 240;

// Where the preview goes when it opens: beside the dialog, right of it where there is room, else
// left of it, top edges level, as large as the dialog is high and square; on a screen without
// room for that on either side, narrower on the side with more room, and only when even that is
// too narrow over part of the dialog. Always wholly inside workArea (the work area of the
// dialog's monitor), shrunk to it when larger.
struct CPreviewPlacement {
    CScreenRect rect;
    // It would lie over the dialog's controls: a window that never takes the focus would then
    // take the clicks meant for them, so it opens there only when the operator asks for it.
    bool bOverDialog = false;
};
CPreviewPlacement PlacePreviewWindow(const CScreenRect& dialog, const CScreenRect& workArea);

// Tells when the file the preview shows should be read again: the file field names another
// file, or the file named was written, removed or made. A change is reported once it has held
// for one poll, so a path being typed is not read at each key.
class CPreviewFileWatch {
public:
    // True when the preview should show strPath read afresh; then call Shown(strPath) once it
    // has been read. Costs one look at the file's size and time, never a read.
    bool Poll(const std::string& strPath);
    // The preview now shows strPath as it is.
    void Shown(const std::string& strPath);

private:
    struct CStamp {
        std::string strPath;
        bool bThere = false;
        uint64_t nSize = 0;
        int64_t nTime = 0;
        bool operator==(const CStamp&) const = default;
    };
    static CStamp StampOf(const std::string& strPath);

    CStamp m_shown;
    CStamp m_seen;
    bool m_bHaveShown = false;
};
