// The program's folder, the storage root under which all channel data
// lives, and reads of the settings in the registry.
//
// Settings live under HKEY_CURRENT_USER\Software\Marrowby\Quillet Reach in the
// sections "Settings" and "Ventrel"; the programs read most of them through
// the application profile (CWinApp::GetProfileInt/GetProfileString).
#pragma once

#include "framework/afx.h"

// Registry root of the settings, as the application profile uses it.
#define QUILLET_REGISTRY_COMPANY u"Marrowby"
#define QUILLET_REGISTRY_APP u"Quillet Reach"
#define QUILLET_SETTINGS_KEY u"\\Software\\Marrowby\\Quillet Reach\\Settings"
// The proxy used when "NetAgencyIP" is missing.
#define QUILLET_DEFAULT_PROXY u"10.0.0.172:80"

// Copies the folder of the running program (without a trailing backslash)
// into buffer, which holds MAX_PATH characters.
void GetProgramFolder(LPWSTR buffer);
// Copies the storage root (the folder that holds "ChannelData") into buffer,
// which holds MAX_PATH characters.
void GetDataRoot(LPWSTR buffer);
// The storage root that the settings UseStorageCard and StorageCardName
// would give, without reading or caching them: the card's "\Program
// Files\Quillet" (made, with its "\ChannelData", when missing) or the
// program's folder.
void GetDataRootFor(BOOL useCard, LPCWSTR cardName, LPWSTR buffer);
// Forgets both cached folders so that the next calls compute them again.
void ResetCachedPaths();
// TRUE when the path names an existing entry that is not a folder.
BOOL FileAccess(LPCWSTR path);
// A string value of the settings key (empty keyPath) or of keyPath under
// HKEY_LOCAL_MACHINE; empty when missing. At most 259 characters.
CString& GetRegistryString(CString& out, CString valueName, CString keyPath);
// A DWORD value, chosen as GetRegistryString chooses the key, or the default.
DWORD GetRegistryDword(LPCWSTR valueName, DWORD defaultValue, LPCWSTR keyPath);
