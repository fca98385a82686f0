#pragma once
// Where the update dialog appears: centred on the work area of the monitor the program starts
// on, and wholly inside it. The template's font is made smaller, as the Qt dialog does, when
// the dialog would not fit with its own (a large scale on a small screen): the layout follows
// the font, so every control stays on the screen and the caption stays in reach for moving.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/win32/win32_api.h"

// What the sizing needs of an extended dialog template (DIALOGEX).
struct CDialogTemplateInfo {
    DWORD dwStyle = 0;
    DWORD dwExStyle = 0;
    int nWidthDu = 0;  // the dialog's size in dialog units
    int nHeightDu = 0;
    int nPointSize = 0;               // the template's font size
    size_t nPointSizeOffset = 0;      // where the font size is in the template
    std::wstring strFace;             // the template's font
    int nWeight = FW_NORMAL;
    bool bItalic = false;
};

// Reads the header of an extended dialog template held in nSize bytes. False when it is no such
// template, names no font, or does not fit in the bytes.
bool ParseDialogTemplate(const uint8_t* pData, size_t nSize, CDialogTemplateInfo* pInfo);

// The monitor the program starts on: the one the shell started it on (STARTF_USEMONITOR), else
// the one under the mouse pointer, where the operator double-clicked; else the primary one.
HMONITOR GetStartMonitor();

// The pixels of a horizontal and a vertical dialog unit with the dialog's font at nPoints, at
// nDpi dots per inch; {0, 0} when the font cannot be measured.
SIZE GetDialogUnits(const CDialogTemplateInfo& info, int nPoints, UINT nDpi);

// The outer size in pixels of the dialog laid out with its font at nPoints, at nDpi dots per inch.
SIZE GetDialogWindowSize(const CDialogTemplateInfo& info, int nPoints, UINT nDpi);

// Creates dialog nId of the program's resources without a parent, fitted and centred on the
// start monitor's work area (see above), hidden as the template has it. nullptr when it could not
// be created.
HWND CreateDialogOnStartMonitor(int nId, DLGPROC pfnProc, LPARAM lParam);

// Moves hWnd to the centre of rcWork, or, when it is larger, to the work area's top left corner,
// so that its caption can still be taken to move it.
void CentreInWorkArea(HWND hWnd, const RECT& rcWork);
