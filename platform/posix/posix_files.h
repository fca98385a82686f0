#pragma once
// The Linux file calls' own helpers, beside the portable interface of platform/file_util.h.

#include <sys/types.h>

#include "platform/file_util.h"

// What a stat() mode names.
EFileType FileTypeOfMode(mode_t nMode);
