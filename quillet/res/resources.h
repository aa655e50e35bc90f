// The main program's compiled-in resources: images of type "PNG" by numeric
// id. Images come in pairs: the low-density one and the one for 192 dpi.
#pragma once

#define IDR_PNG_CHANNEL_DEFAULT 248
#define IDR_PNG_CHANNEL_DEFAULT_192 298
#define IDR_PNG_REFRESH_PENDING 255
#define IDR_PNG_REFRESH_PENDING_192 280

// Registers the program's resources with the resource lookup (module NULL).
// Safe to call more than once.
void RegisterQuilletResources();
