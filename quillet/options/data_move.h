// Moving the channel data ("ChannelData" with every channel's files and the
// channel list "Channels.opml") from one storage root to another, so that
// at every moment one complete copy is where the settings point:
//
//   1. every file is copied into the new "ChannelData" (the old copy stays
//      the one in use; a copy cut short is never looked at);
//   2. the settings are switched to the new place by the caller's step, in
//      which one value written at once moves the storage root;
//   3. the open channel list is pointed at its new file;
//   4. the old files are deleted (a delete cut short only leaves spare
//      copies behind).
//
// The channel list document is held locked through steps 1 to 3, so no save
// of it can land in the old place after its copy was made.
#pragma once

#include <functional>

#include "framework/afx.h"

class COpmlXML;

// Moves the data from oldRoot\ChannelData to newRoot\ChannelData. list is
// the open channel list (may be null); what its save batches hold back is
// saved first, and its file moves with the data even when it lies in the
// program folder rather than in oldRoot. switchSettings writes the settings
// that make newRoot the storage root. Places are told apart by the folders
// themselves, not by their names: when both names lead to one folder (a
// link) no file is copied or deleted and only the settings switch. FALSE
// when a file could not be copied (a full card) or the list not saved: then
// the files this move made are removed (a copy cut short too; files that
// were there before stay), the settings are not switched and nothing of the
// old place changed.
BOOL MoveChannelData(LPCWSTR oldRoot, LPCWSTR newRoot, COpmlXML* list, const std::function<void()>& switchSettings);
