#pragma once
// <windows.h> for the Windows dialog. Some of its macros take names the core uses: the status
// window's MessageBox and SetWindowText, the link messages' WM_USER and comm event bits (the
// same values). They are undone here, so core headers may follow this one; this code calls
// the system's wide functions by their own names (MessageBoxW, SetWindowTextW). A file that
// includes <windows.h> by another way includes the core's headers first.

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#undef MessageBox
#undef SetWindowText
#undef WM_USER
#undef EV_RXCHAR
#undef EV_RXFLAG
#undef EV_CTS
#undef EV_BREAK
#undef EV_ERR
#undef EV_RING
