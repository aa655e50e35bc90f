// Bitmap resources (type RT_BITMAP: a BITMAPINFOHEADER, its colour table and
// the pixels) made into device-independent bitmaps the caller owns.
#pragma once

#include "gdi/gdi.h"

// The bitmap resource id of the module as a new DIB section, or null when
// there is none or its header does not describe the bytes it holds.
HBITMAP LoadBitmapResource(HMODULE module, UINT id);
