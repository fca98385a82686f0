#pragma once
// Dialog template 167, the update dialog, as one table: the ids of its controls, their kinds,
// texts, rectangles in dialog units, and the styles that change what they do. The Qt dialog
// lays itself out from it. The Windows dialog is made by the system from the resource script
// ui/win32/update_dlg.rc, which cannot read C++; a test reads that script and holds it to this
// table, so that neither can drift from the other.

#include <cstdint>
#include <span>

// The template's id and its controls' ids, as both dialogs address them.
enum EUpdateDlgId : int {
    IDD_UPDATE_DIALOG = 167,
    IDC_STATIC = -1, // a control the code never addresses (the group boxes)
    IDC_PICTURE = 1004,
    IDC_FILE_NAME = 1013,
    IDC_CHOOSE_FILE = 1016,
    IDC_PORT_COMBO = 1017,
    IDC_PORT_LABEL = 1083,
    IDC_START_UPDATE = 1084,
    IDC_EXIT = 1085,
    IDC_FILE_LABEL = 1086,
    IDC_PROGRESS = 1087,
};

enum class EDlgControlKind {
    Frame,         // a white rectangle (a static of the "Static" class): the banner is drawn into it
    GroupBox,
    Text,          // static text, left-aligned (LTEXT)
    DropDown,      // a combo box
    Edit,          // a one-line edit field (EDITTEXT)
    PushButton,
    DefaultButton, // the push button that Enter would press (DEFPUSHBUTTON)
    ProgressBar,   // the common controls' "msctls_progress32"
};

// The styles the template gives beyond what a control's kind implies, each named after the
// window style it stands for, and the dialog's own.
enum EDlgStyle : uint32_t {
    DLG_STYLE_WHITE_RECT = 1u << 0,   // SS_WHITERECT
    DLG_STYLE_DROP_DOWN = 1u << 1,    // CBS_DROPDOWN: a list with an edit field to type into
    DLG_STYLE_VSCROLL = 1u << 2,      // WS_VSCROLL
    DLG_STYLE_TAB_STOP = 1u << 3,     // WS_TABSTOP
    DLG_STYLE_AUTO_HSCROLL = 1u << 4, // ES_AUTOHSCROLL
    DLG_STYLE_BORDER = 1u << 5,       // WS_BORDER
    DLG_STYLE_MODAL_FRAME = 1u << 6,  // DS_MODALFRAME
    DLG_STYLE_SET_FONT = 1u << 7,     // DS_SETFONT: the template names its font
    DLG_STYLE_POPUP = 1u << 8,        // WS_POPUP
    DLG_STYLE_CAPTION = 1u << 9,      // WS_CAPTION; without WS_SYSMENU there is no close button
};

struct CDlgControl {
    int nId;
    EDlgControlKind eKind;
    const char* pszText; // UTF-8, "" for none
    // In dialog units. A drop-down's height is that of its dropped-down list.
    int nX;
    int nY;
    int nWidth;
    int nHeight;
    uint32_t nStyles; // EDlgStyle bits
};

struct CDlgTemplate {
    int nId;
    const char* pszCaption;
    const char* pszFont;
    int nPointSize;
    int nWidth; // dialog units
    int nHeight;
    uint32_t nStyles; // EDlgStyle bits
    // In the template's order, which is also the tab order.
    std::span<const CDlgControl> controls;
};

extern const CDlgTemplate UPDATE_DLG_TEMPLATE;

// The control nId of the update dialog's template; nullptr when it has none.
const CDlgControl* FindUpdateDlgControl(int nId);

// The start button's text while an update runs: the same button cancels it.
extern const char* const TEXT_CANCEL_UPDATE;
