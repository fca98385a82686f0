#pragma once
// The ids of the update dialog's template and its controls: read by the resource script and
// by the dialog's code, so the two cannot disagree.

#define IDD_UPDATE_DIALOG 167
#define IDC_PICTURE 1004
#define IDC_FILE_NAME 1013
#define IDC_CHOOSE_FILE 1016
#define IDC_PORT_COMBO 1017
#define IDC_PORT_LABEL 1083
#define IDC_START_UPDATE 1084
#define IDC_EXIT 1085
#define IDC_FILE_LABEL 1086
#define IDC_PROGRESS 1087
