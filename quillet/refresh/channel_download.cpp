#include "quillet/refresh/channel_download.h"

#include <mutex>
#include <set>
#include <string>

#include "common/encoding.h"
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/refresh/download_job.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/ui/channel_list_view.h"
#include "ventrel/ventrel.h"

namespace {

void LogF(LPCWSTR format, ...) {
  if (!IsLogEnabled()) return;
  va_list args;
  va_start(args, format);
  CString text;
  text.FormatV(format, args);
  va_end(args);
  WriteLog(text);
}

CString ProxySetting() {
  if (!ReadSettingInt(u"Settings", u"UseNetAgency", 0)) return CString();
  return ReadSettingString(u"Settings", u"NetAgencyIP", QUILLET_DEFAULT_PROXY);
}

// The agency calls of one feed download or sync mark: log switch, proxy and
// the keep-awake event.
void PrepareAgency(CVentrelAgency* agency) {
  agency->EnableLog(ReadSettingInt(u"Settings", u"VentrelLog", 0));
  agency->SetProxy(ProxySetting());
  KeepAwake();
}

void LoginAgency(CVentrelAgency* agency) {
  CString user, password;
  FormUrlEncode(user, ReadSettingString(u"Ventrel", u"Username", u""));
  FormUrlEncode(password, ReadSettingString(u"Ventrel", u"Password", u""));
  agency->Login(user, password);
}

// A file name of an image entry: a bare name, so that a hostile feed cannot
// place files outside the channel data folder.
bool IsBareFileName(const CString& name) {
  return !name.IsEmpty() && name.FindOneOf(u"\\/:") < 0 && name.Find(u"..") < 0;
}

// The icon addresses that answered with an HTTP error in this run of the
// program: an error page never leaves an icon, so many channels of one site
// ask for its missing icon once, not at every refresh of each. (A transfer
// that failed otherwise, a lost connection, is asked again.)
std::mutex g_missingIconsLock;
std::set<std::u16string> g_missingIcons;

bool IconKnownMissing(const CString& url) {
  std::lock_guard<std::mutex> hold(g_missingIconsLock);
  return g_missingIcons.count(url.str()) != 0;
}

void FetchSiteIcon(const CString& url, const CString& path) {
  if (IconKnownMissing(url)) return;
  DWORD code = 0;
  CString error;
  if (InternetDownloadFile(url, path, &code, error, nullptr, nullptr, nullptr) != 0 &&
      code == ERROR_INTERNET_EXTENDED_ERROR) {
    std::lock_guard<std::mutex> hold(g_missingIconsLock);
    g_missingIcons.insert(url.str());
  }
}

void ResetRow(CChannelListView* view, const CString& url) {
  int row = FindChannelRow(view, url);
  if (row >= 0) {
    view->SetItemState(row, 0);
    view->ReleaseItemCache(row);
  }
  view->Redraw(TRUE);
}

}  // namespace

int FindChannelRow(CChannelListView* view, const CString& url) { return view ? view->FindItemByUrl(url) : -1; }

CString& GetChannelItemText(CChannelListView* view, int row, CString& out) {
  CChannelListItem item;
  out.Empty();
  if (view && view->GetItem(row, item)) out = item.m_strCategory;
  return out;
}

void SetChannelItemText(CChannelListView* view, int row, LPCWSTR text) {
  if (view) view->SetItemUpdateTime(row, text);
}

CString FaviconUrl(const CString& channelLink) {
  int slashes = channelLink.Find(u"//");
  if (slashes < 0) return CString();
  CString link(channelLink);
  int slash = link.Find(u'/', slashes + 2);
  if (slash < 0) {
    link += u"/";
    slash = link.GetLength() - 1;
  }
  link = link.Left(slash + 1);
  if (link.Right(1) != CString(u"/") && link.Right(1) != CString(u"\\")) link += u"/";
  return link + u"favicon.ico";
}

int DoRssChannelDownload(CChannelListFields* dialog, const CString& feedUrl) {
  int useProxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
  SetUrlDownloadProxy(useProxy, ReadSettingString(u"Settings", u"NetAgencyIP", QUILLET_DEFAULT_PROXY));
  if (!dialog || !dialog->m_pChannelList) return 1;
  CChannelListView* view = dialog->m_pChannelList;
  int row = FindChannelRow(view, feedUrl);
  if (row < 0) return 1;

  WriteLog(u"DoRssChannelDownload() started.");
  CChannelListItem item;
  view->GetItem(row, item);
  const int channel = item.m_nChannel;
  const CString category = item.m_strCategory;
  const bool synchronised = category == CString(SYNC_CATEGORY);
  const CString folder = ChannelDataFolder();
  CreateDirectoryW(folder, nullptr);
  CString xmlPath, tempPath, templatePath, binPath, logoPath, iconPath;
  xmlPath.Format(u"%s\\Ch%03d.xml", folder.GetString(), channel);
  tempPath.Format(u"%s\\Ch%03d~.xml", folder.GetString(), channel);
  templatePath.Format(u"%s\\Ch%03d.tpl", folder.GetString(), channel);
  binPath.Format(u"%s\\Ch%03d.bin", folder.GetString(), channel);
  logoPath.Format(u"%s\\Ch%03d-Logo.img", folder.GetString(), channel);
  iconPath.Format(u"%s\\Ch%03d-Fav.ico", folder.GetString(), channel);
  const bool hasTemplate = FileAccess(templatePath) != FALSE;

  WriteLog(u"Start URLDownloadToFile()");
  const CString updateTime = LocalTimeText();
  {
    COpmlXML::CSaveBatch saveBatch(dialog->m_pOpml, REFRESH_LIST_SAVE_HOLD_MS);
    if (dialog->m_pOpml) dialog->m_pOpml->SetChannelAttribute(feedUrl, u"lastUpdateTime", updateTime);
  }
  dialog->EnsureAgency();

  if (IsDownloadStopped()) {
    ResetRow(view, feedUrl);
    return 0;
  }

  // What a cancelled or failed earlier run left behind is never parsed as
  // this run's feed.
  DeleteFileW(tempPath);
  bool downloaded = true;
  CString errorText;
  if (synchronised) {
    for (int attempt = 0; attempt < 2 && !IsDownloadStopped(); ++attempt) {
      CVentrelAgency* agency = dialog->GetAgency();
      if (!agency) break;
      PrepareAgency(agency);
      LoginAgency(agency);
      CString feedId(feedUrl);
      if (!agency->DownloadFeed(feedId, tempPath, ReadSettingInt(u"Settings", u"VentrelNumber", 15)))
        dialog->ReplaceAgency();
    }
  } else {
    DWORD code = 0;
    downloaded = InternetDownloadFile(feedUrl, tempPath, &code, errorText, nullptr, nullptr, nullptr) == 0;
  }

  row = FindChannelRow(view, feedUrl);
  if (row >= 0) {
    SetChannelItemText(view, row, updateTime);
    view->ReleaseItemCache(row);
  }
  view->Redraw(TRUE);

  int result = 1;
  bool parsed = false;
  int itemCount = 0, readCount = 0;
  CString imageUrl, channelLink;
  if (!IsDownloadStopped() && downloaded) {
    CRssXML document(nullptr, ParserCancelTest, nullptr, 1);
    WriteLog(u"Parse channel XML");
    const bool loaded = document.LoadEx(tempPath.GetString(), 0, 1) != 0;
    bool stored = false;
    if (loaded) {
      document.GetImageUrl(imageUrl);
      document.GetLink(channelLink);
      WriteLog(u"Save to BIN files");
      // 0 when the file held no feed (a web page at the feed's address) or
      // nothing could be written.
      stored = document.SaveItems() != 0;
    }
    if (!stored && !IsDownloadStopped() && (loaded || FileAccess(tempPath))) {
      // Something came, but no feed: that is a failed refresh of the
      // channel, recorded like a failed download. The old feed file stays.
      CRssXML failed(nullptr, nullptr, nullptr, 1);
      failed.SetPath(xmlPath, 0);
      failed.AddErrorItem(Localized(u"The file downloaded is not a feed"));
      result = 0;
    }
    if (stored) {
      WriteLog(u"Update item count");
      // One read of the store gives the counts and the compaction: the file
      // is held from the one to the other.
      CItemStore store(0);
      store.Open(binPath, 0, 0);
      store.HoldFile();
      store.LoadFile();
      store.CountItems(itemCount, readCount);
      parsed = true;
      WriteLog(u"Download image files");
      store.Rewrite();
      store.ReleaseFile();

      if (synchronised) {
        WriteLog(u"Google Reader Sync start...");
        for (int n = 0; !IsDownloadStopped() && store.ReadRecord(n); ++n) {
          const CItemRecord& record = store.Current();
          if ((record.type >> 16) != 0) continue;
          if (record.readFlag != ITEM_READ_READ && record.readFlag != ITEM_READ_READ_FETCHED) continue;
          if (document.m_readIds.Find(record.id)) continue;
          CVentrelAgency* agency = dialog->EnsureAgency();
          if (!agency) continue;
          PrepareAgency(agency);
          WriteLog(record.link);
          agency->SyncItem(record.id, 1);
        }
        WriteLog(u"Google Reader Sync ended.");
      }

      CRefreshApp* app = GetRefreshApp();
      if (app) {
        app->DownloadManager().m_nUseProxy = useProxy;
        app->DownloadManager().m_hNotify = GetParent(dialog->GetDialogWindow());
      }
      const bool downloadImage = ReadSettingInt(u"Settings", u"DownloadImage", 1) != 0;
      const int entries = document.m_imageJobs.GetCount();
      CRefreshState& state = RefreshState();
      if (downloadImage) state.imageTotal += entries;
      int index = 0;
      for (POSITION pos = document.m_imageJobs.GetHeadPosition(); pos; ++index) {
        CString entry = document.m_imageJobs.GetNext(pos);
        if (downloadImage) ++state.processedImages;
        int jobs = app ? app->DownloadManager().GetJobCount() : 0;
        PostMessageW(HWND_BROADCAST, WM_CHANNELS_DOWNLOAD_PROGRESS, WPARAM(jobs), LPARAM(jobs));
        if (!downloadImage || IsDownloadStopped()) continue;
        KeepAwake();
        int a = entry.Find(u'|');
        int b = a >= 0 ? entry.Find(u'|', a + 1) : -1;
        int c = b >= 0 ? entry.Find(u'|', b + 1) : -1;
        if (c >= 0 && !IsDownloadStopped()) {
          CString link = entry.Left(a), page = entry.Mid(a + 1, b - a - 1);
          CString url = entry.Mid(b + 1, c - b - 1), file = entry.Mid(c + 1);
          if (IsBareFileName(file) && store.IsKnownItem(link, u"", u"")) {
            CString imagePath = folder + u"\\" + file;
            WriteLog(u"Start downloading...");
            DWORD code = 0;
            CString error;
            bool ok = InternetDownloadFile(CDownloadJob::ResolveImageUrl(link, url), imagePath, &code, error,
                                           nullptr, nullptr, nullptr) == 0;
            if (ReadSettingInt(u"Settings", u"VentrelLog", 0))
              LogF(u"Download %s to %s %s.", url.GetString(), imagePath.GetString(), ok ? u"successed" : u"failed");
            CString thumbnail = folder + u"\\" + page;
            int dot = thumbnail.ReverseFind(u'.');
            thumbnail = (dot > thumbnail.ReverseFind(u'\\') ? thumbnail.Left(dot) : thumbnail) + u".bmp";
            if (ok && IsBareFileName(page) &&
                SendMessageW(dialog->GetDialogWindow(), WM_MAKE_CHANNEL_ICON,
                             reinterpret_cast<WPARAM>(thumbnail.GetString()),
                             reinterpret_cast<LPARAM>(imagePath.GetString())) != 0)
              SetItemType(&store, link, ITEM_TYPE_THUMBNAIL);
          }
        }
        if (ReadSettingInt(u"Settings", u"DownloadFulltext", 1) && !IsDownloadStopped() && hasTemplate) {
          // The skipped entries count as handled, so the band reaches its end.
          if (downloadImage) state.processedImages += entries - index - 1;
          break;
        }
      }

      WriteLog(u"Download fulltext files");
      if (ReadSettingInt(u"Settings", u"DownloadFulltext", 1) && !IsDownloadStopped() && hasTemplate && app) {
        CItemStore walk(0);
        walk.Open(binPath, 0, 1);
        for (int n = 0; !IsDownloadStopped() && walk.ReadRecord(n); ++n) {
          const CItemRecord& record = walk.Current();
          if ((record.type >> 16) == 0x0001) continue;
          if (!IsBareFileName(record.pageName)) continue;
          CString pagePath = folder + u"\\" + record.pageName;
          // The store says whether the full text was stored: a page file
          // alone may be one that a stopped or killed job left unrecorded.
          if ((record.type & ITEM_TYPE_PAGE) && FileAccess(pagePath)) continue;
          if (!ReadSettingInt(u"Settings", u"DownloadFulltext", 1) || IsDownloadStopped()) break;
          app->DownloadManager().AddJob(record.link, pagePath, templatePath, DOWNLOAD_JOB_FULLTEXT, channel,
                                        IsDownloadStopped, dialog->GetDialogWindow());
        }
      }

      if (!IsDownloadStopped()) {
        if (FileAccess(xmlPath)) DeleteFileW(xmlPath);
        MoveFileW(tempPath, xmlPath);
        BroadcastRefreshMessage(MSG_DOWNLOAD_REFRESH);
      }
    }
  } else if (!IsDownloadStopped() && !downloaded) {
    CRssXML document(nullptr, nullptr, nullptr, 1);
    document.SetPath(xmlPath, 0);
    document.AddErrorItem(errorText);
    result = 0;
  }

  if (IsDownloadStopped()) {
    WriteLog(u"DoRssChannelDownload() finished.");
    return 0;
  }
  WriteLog(u"Download website icon");
  if (!imageUrl.IsEmpty() && !IsDownloadStopped() && ReadSettingInt(u"Settings", u"DownloadImage", 1) &&
      !FileAccess(logoPath)) {
    DWORD code = 0;
    CString error;
    InternetDownloadFile(imageUrl, logoPath, &code, error, nullptr, nullptr, nullptr);
  }
  if (!channelLink.IsEmpty() && !IsDownloadStopped()) {
    CString icon = FaviconUrl(channelLink);
    if (!icon.IsEmpty() && !FileAccess(iconPath)) FetchSiteIcon(icon, iconPath);
  }
  if (!IsDownloadStopped() && parsed) {
    int newCount = itemCount - readCount;
    view->SetItemCounts(channel, itemCount, newCount);
    row = FindChannelRow(view, feedUrl);
    if (row >= 0) view->ReleaseItemCache(row);
    view->Redraw(TRUE);
    // The two counts are set together, and before the main window hears of
    // them, so that its own update of the same attributes finds them
    // current and writes nothing. They are saved with the update times of
    // the channels around them (the run saves what is held back at its end).
    if (dialog->m_pOpml) {
      COpmlXML::CSaveBatch saveBatch(dialog->m_pOpml, REFRESH_LIST_SAVE_HOLD_MS);
      CString text;
      text.Format(u"%d", itemCount);
      SetChannelAttributeIfChanged(dialog->m_pOpml, feedUrl, u"itemCount", text);
      text.Format(u"%d", newCount);
      SetChannelAttributeIfChanged(dialog->m_pOpml, feedUrl, u"newItemCount", text);
    }
    CRefreshApp* app = GetRefreshApp();
    if (app)
      SendMessageW(app->GetMainWindowHandle(), WM_CHANNEL_COUNTS_CHANGED, WPARAM(channel),
                   LPARAM((itemCount & 0xFFFF) | ((newCount & 0xFFFF) << 16)));
  }
  WriteLog(u"DoRssChannelDownload() finished.");
  return result;
}
