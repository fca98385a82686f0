#include "app/update_dlg_template.h"

namespace {

using enum EDlgControlKind;

const CDlgControl UPDATE_DLG_CONTROLS[] = {
    {IDC_PICTURE, Frame, "", 7, 7, 201, 56, DLG_STYLE_WHITE_RECT},
    {IDC_STATIC, GroupBox, "COM Port Setup", 7, 71, 201, 45, 0},
    {IDC_PORT_LABEL, Text, "COM Port:", 21, 86, 59, 14, 0},
    {IDC_PORT_COMBO, DropDown, "", 103, 87, 94, 59, DLG_STYLE_DROP_DOWN | DLG_STYLE_VSCROLL | DLG_STYLE_TAB_STOP},
    {IDC_STATIC, GroupBox, "Transfer File", 7, 119, 201, 71, 0},
    {IDC_FILE_LABEL, Text, "檔案名:", 14, 131, 59, 14, 0},
    {IDC_FILE_NAME, Edit, "", 13, 148, 187, 17, DLG_STYLE_AUTO_HSCROLL},
    {IDC_CHOOSE_FILE, PushButton, "選擇檔案", 155, 167, 47, 16, 0},
    {IDC_PROGRESS, ProgressBar, "", 7, 201, 201, 11, DLG_STYLE_BORDER},
    {IDC_START_UPDATE, DefaultButton, "開始更新", 105, 219, 50, 14, 0},
    {IDC_EXIT, PushButton, "離開", 158, 219, 50, 14, 0},
};

} // namespace

const CDlgTemplate UPDATE_DLG_TEMPLATE = {
    IDD_UPDATE_DIALOG,
    "RED udized idirediz",
    "Times New Roman",
    10,
    215,
    240,
    DLG_STYLE_MODAL_FRAME | DLG_STYLE_SET_FONT | DLG_STYLE_POPUP | DLG_STYLE_CAPTION,
    UPDATE_DLG_CONTROLS,
};

const char* const TEXT_CANCEL_UPDATE = "取消更新";

const CDlgControl* FindUpdateDlgControl(int nId)
{
    if (nId == IDC_STATIC)
        return nullptr;
    for (const CDlgControl& control : UPDATE_DLG_TEMPLATE.controls) {
        if (control.nId == nId)
            return &control;
    }
    return nullptr;
}
