#pragma once
// The ids of the resources every Windows program carries besides its own: read by the
// programs' resource script and by the dialog, which shows the same icon in its title bar.

// The program's icon: the lowest icon id, so Explorer, the taskbar and Alt-Tab pick this one.
#define IDI_PROGRAM_ICON 1
