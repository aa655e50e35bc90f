// Brings one channel from its feed URL into its item store, on the refresh
// run's thread: downloads the feed (directly, or through the sync agency for
// a channel of the synchronised category), parses and stores the items,
// marks on the service the items read on the device, fetches images and
// thumbnails, queues full-text jobs for a channel with an extraction
// template, fetches the logo and the site's icon and reports the counts.
#pragma once

#include "framework/afx.h"
#include "quillet/refresh/refresh_state.h"

class CChannelListView;

// How long a channel's update time and counts may wait in the channel list
// before they are saved: a run saves those of many channels at once, and
// what a crash loses of them the next refresh writes again. (Changes to the
// list's channels and categories are always saved at once.)
#define REFRESH_LIST_SAVE_HOLD_MS 2000

// 1 after the parse path (also when a synchronised feed did not come), 0
// when a failed download, or a download that held no feed, was recorded as
// the channel's error item, or the stop flag ended the download; 1 when the
// dialog, its list or the row is missing.
int DoRssChannelDownload(CChannelListFields* dialog, const CString& feedUrl);

// The row whose feed URL equals url exactly (the first one), or -1.
int FindChannelRow(CChannelListView* view, const CString& url);
// A row's category text (its fourth text); empty for a missing row.
CString& GetChannelItemText(CChannelListView* view, int row, CString& out);
// Replaces a row's update-time text.
void SetChannelItemText(CChannelListView* view, int row, LPCWSTR text);
// The icon address of a channel link: scheme, "//", host, "/favicon.ico";
// empty for a link without "//".
CString FaviconUrl(const CString& channelLink);
