// The files of one channel in the data root's "\ChannelData" folder: every
// file whose name is "Ch" and the channel's number written with (at least)
// three digits, followed by anything but a further digit, so that channel
// 100's files ("Ch100.bin", "Ch100-12-3.htm") are never taken for channel
// 1000's ("Ch1000.bin").
#pragma once

#include "framework/afx.h"

// TRUE when the file name (no folder) belongs to the channel.
BOOL IsChannelFileName(LPCWSTR name, int channel);
// Deletes every file of the channel: the item store, the feed files, the
// pages and pictures, the icon, the logo and the extraction template. The
// number of files deleted.
int DeleteChannelFiles(int channel);
// Deletes the channel's items (the item store, the feed files, the pages and
// pictures) and keeps its extraction template ".tpl", its icon "-Fav.ico" and
// its logo "-Logo.img". The number of files deleted.
int DeleteChannelItemFiles(int channel);

// The channel list's file: "\ChannelData\Channels.opml" in the data root
// when it is there, else the one in the program folder. Both folders are
// made when missing.
CString ChannelListFile();
