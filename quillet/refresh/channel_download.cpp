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
  if (InternetDownloadFile(url, path, &code, error, nullptr, nullptr, nullptr, URL_DOWNLOAD_MAX_PICTURE_BYTES) != 0 &&
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


// What the parse of a channel's feed gave for the steps after it.
struct FeedFacts {
  bool parsed = false;  // the feed was stored and counted
  int itemCount = 0, readCount = 0;
  CString imageUrl, channelLink;
};

// One channel's download, step by step: its row, its files and what the
// steps pass on to one another.
class ChannelDownload {
 public:
  ChannelDownload(CChannelListFields* dialog, const CString& feedUrl, int useProxy)
      : dialog(dialog), view(dialog->m_pChannelList), feedUrl(feedUrl), useProxy_(useProxy) {}

  // The channel's row (the first with the feed URL); false when no row has
  // the URL.
  bool FindChannel();
  // The channel's files in the channel data folder (made when missing),
  // and whether it has an extraction template.
  void NameFiles();
  // The channel's "lastUpdateTime", written before the download whatever
  // its outcome, and the agency the download may need.
  void StampUpdateTime();
  // Downloads the feed into the temporary file: through the agency for a
  // synchronised channel (which always counts as downloaded: the parse
  // decides), else through the one-URL downloader.
  bool Fetch(CString& errorText);
  // The row shows the update time.
  void ShowUpdateTime();
  // Whether the channel is still in the channel list. One taken off the
  // list while its feed came (its category deleted, say) gets no files
  // again: whoever removed it removed its files.
  bool Listed() const { return !dialog->m_pOpml || dialog->m_pOpml->HasChannel(feedUrl); }
  // What the download left for a channel that is no longer listed goes.
  void DropUnlisted();
  // The parse path: the feed is loaded, validated, merged into the store,
  // counted and compacted; then the read marks, the images, the full-text
  // jobs and the feed file. 1, or 0 when what came was no feed.
  int StoreFeed(FeedFacts& feed);
  // A failed download becomes the channel's error item.
  void RecordError(const CString& errorText);
  void FetchLogoAndIcon(const FeedFacts& feed);
  // The counts go to the row, the channel list and the main window.
  void ReportCounts(const FeedFacts& feed);

  const CString& TempPath() const { return tempPath_; }

  CChannelListFields* const dialog;
  CChannelListView* const view;
  const CString feedUrl;

 private:
  // Merges the parsed items into the store, which stays held for the
  // steps after it; false when nothing could be stored.
  bool MergeIntoStore(CRssXML& document, CItemStore& store, FeedFacts& feed);
  void SyncReadMarks(CRssXML& document, CItemStore& store);
  // The image pass over the feed's image entries (it ends after the first
  // entry for a full-text channel).
  void FetchImages(CRssXML& document, CItemStore& store);
  // One entry's image and its thumbnail, for an item the store holds.
  void FetchImage(const CString& entry, CItemStore& store);
  void QueueFullTextJobs();
  // The downloaded feed replaces the previous feed file.
  void KeepFeedFile();

  const int useProxy_;
  int channel_ = 0;
  CString category_;
  bool synchronised_ = false;
  bool hasTemplate_ = false;
  CString folder_, xmlPath_, tempPath_, templatePath_, binPath_, logoPath_, iconPath_;
  CString updateTime_;
};

bool ChannelDownload::FindChannel() {
  int row = FindChannelRow(view, feedUrl);
  if (row < 0) return false;
  CChannelListItem item;
  view->GetItem(row, item);
  channel_ = item.m_nChannel;
  category_ = item.m_strCategory;
  synchronised_ = category_ == CString(SYNC_CATEGORY);
  folder_ = ChannelDataFolder();
  return true;
}

void ChannelDownload::NameFiles() {
  CreateDirectoryW(folder_, nullptr);
  xmlPath_.Format(u"%s\\Ch%03d.xml", folder_.GetString(), channel_);
  tempPath_.Format(u"%s\\Ch%03d~.xml", folder_.GetString(), channel_);
  templatePath_.Format(u"%s\\Ch%03d.tpl", folder_.GetString(), channel_);
  binPath_.Format(u"%s\\Ch%03d.bin", folder_.GetString(), channel_);
  logoPath_.Format(u"%s\\Ch%03d-Logo.img", folder_.GetString(), channel_);
  iconPath_.Format(u"%s\\Ch%03d-Fav.ico", folder_.GetString(), channel_);
  hasTemplate_ = FileAccess(templatePath_) != FALSE;
}

void ChannelDownload::StampUpdateTime() {
  WriteLog(u"Start URLDownloadToFile()");
  updateTime_ = LocalTimeText();
  {
    COpmlXML::CSaveBatch saveBatch(dialog->m_pOpml, REFRESH_LIST_SAVE_HOLD_MS);
    if (dialog->m_pOpml) dialog->m_pOpml->SetChannelAttribute(feedUrl, u"lastUpdateTime", updateTime_);
  }
  dialog->EnsureAgency();
}

bool ChannelDownload::Fetch(CString& errorText) {
  // What a cancelled or failed earlier run left behind is never parsed as
  // this run's feed.
  DeleteFileW(tempPath_);
  if (!synchronised_) {
    DWORD code = 0;
    return InternetDownloadFile(feedUrl, tempPath_, &code, errorText, nullptr, nullptr, nullptr) == 0;
  }
  for (int attempt = 0; attempt < 2 && !IsDownloadStopped(); ++attempt) {
    CVentrelAgency* agency = dialog->GetAgency();
    if (!agency) break;
    PrepareAgency(agency);
    LoginAgency(agency);
    CString feedId(feedUrl);
    if (!agency->DownloadFeed(feedId, tempPath_, ReadSettingInt(u"Settings", u"VentrelNumber", 15)))
      dialog->ReplaceAgency();
  }
  return true;
}

void ChannelDownload::DropUnlisted() {
  DeleteFileW(tempPath_);
  ResetRow(view, feedUrl);
  WriteLog(u"DoRssChannelDownload() finished: the channel is no longer listed.");
}

void ChannelDownload::ShowUpdateTime() {
  int row = FindChannelRow(view, feedUrl);
  if (row >= 0) {
    SetChannelItemText(view, row, updateTime_);
    view->ReleaseItemCache(row);
  }
  view->Redraw(TRUE);
}

int ChannelDownload::StoreFeed(FeedFacts& feed) {
  CRssXML document(nullptr, ParserCancelTest, nullptr, 1);
  WriteLog(u"Parse channel XML");
  const bool loaded = document.LoadEx(tempPath_.GetString(), 0, 1) != 0;
  // The store of the channel, held from the parse to its compaction: its
  // file is read once.
  CItemStore store(1);
  bool stored = false;
  if (loaded) {
    document.GetImageUrl(feed.imageUrl);
    document.GetLink(feed.channelLink);
    stored = MergeIntoStore(document, store, feed);
  }
  if (!stored && !IsDownloadStopped() && (loaded || FileAccess(tempPath_))) {
    // Something came, but no feed: that is a failed refresh of the
    // channel, recorded like a failed download. The old feed file stays.
    CRssXML failed(nullptr, nullptr, nullptr, 1);
    failed.SetPath(xmlPath_, 0);
    failed.AddErrorItem(Localized(u"The file downloaded is not a feed"));
    return 0;
  }
  if (!stored) return 1;
  if (synchronised_) SyncReadMarks(document, store);
  if (CRefreshApp* app = GetRefreshApp()) {
    app->DownloadManager().m_nUseProxy = useProxy_;
    app->DownloadManager().m_hNotify = GetParent(dialog->GetDialogWindow());
  }
  FetchImages(document, store);
  WriteLog(u"Download fulltext files");
  QueueFullTextJobs();
  if (!IsDownloadStopped() && Listed()) KeepFeedFile();
  return 1;
}

bool ChannelDownload::MergeIntoStore(CRssXML& document, CItemStore& store, FeedFacts& feed) {
  WriteLog(u"Save to BIN files");
  // 0 when the file held no feed (a web page at the feed's address) or
  // nothing could be written.
  if (document.SaveItems(&store) == 0) return false;
  WriteLog(u"Update item count");
  // The counts and the compaction read the bytes the merge left: the file
  // stays held from the one to the other.
  store.Open(binPath_, 0, 0);
  store.HoldFile();
  store.LoadFile();
  store.CountItems(feed.itemCount, feed.readCount);
  feed.parsed = true;
  WriteLog(u"Download image files");
  store.Rewrite();
  store.ReleaseFile();
  return true;
}

void ChannelDownload::SyncReadMarks(CRssXML& document, CItemStore& store) {
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

void ChannelDownload::FetchImages(CRssXML& document, CItemStore& store) {
  CRefreshApp* app = GetRefreshApp();
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
    if (!downloadImage || IsDownloadStopped() || !Listed()) continue;
    KeepAwake();
    FetchImage(entry, store);
    if (ReadSettingInt(u"Settings", u"DownloadFulltext", 1) && !IsDownloadStopped() && hasTemplate_) {
      // The skipped entries count as handled, so the band reaches its end.
      if (downloadImage) state.processedImages += entries - index - 1;
      break;
    }
  }
}

void ChannelDownload::FetchImage(const CString& entry, CItemStore& store) {
  // link|page|image URL|image file
  int a = entry.Find(u'|');
  int b = a >= 0 ? entry.Find(u'|', a + 1) : -1;
  int c = b >= 0 ? entry.Find(u'|', b + 1) : -1;
  if (c < 0 || IsDownloadStopped()) return;
  CString link = entry.Left(a), page = entry.Mid(a + 1, b - a - 1);
  CString url = entry.Mid(b + 1, c - b - 1), file = entry.Mid(c + 1);
  if (!IsBareFileName(file) || !store.IsKnownItem(link, u"", u"")) return;
  CString imagePath = folder_ + u"\\" + file;
  WriteLog(u"Start downloading...");
  DWORD code = 0;
  CString error;
  bool ok = InternetDownloadFile(CDownloadJob::ResolveImageUrl(link, url), imagePath, &code, error, nullptr, nullptr,
                                 nullptr, URL_DOWNLOAD_MAX_PICTURE_BYTES) == 0;
  if (ReadSettingInt(u"Settings", u"VentrelLog", 0))
    LogF(u"Download %s to %s %s.", url.GetString(), imagePath.GetString(), ok ? u"successed" : u"failed");
  // A channel taken off the list while its picture came had its files
  // removed: the picture is not left behind, and no thumbnail is made.
  if (!Listed()) {
    DeleteFileW(imagePath);
    return;
  }
  // The item's thumbnail: its page name with ".bmp" for its extension.
  CString thumbnail = folder_ + u"\\" + page;
  int dot = thumbnail.ReverseFind(u'.');
  thumbnail = (dot > thumbnail.ReverseFind(u'\\') ? thumbnail.Left(dot) : thumbnail) + u".bmp";
  if (ok && IsBareFileName(page) &&
      SendMessageW(dialog->GetDialogWindow(), WM_MAKE_CHANNEL_ICON, reinterpret_cast<WPARAM>(thumbnail.GetString()),
                   reinterpret_cast<LPARAM>(imagePath.GetString())) != 0)
    SetItemType(&store, link, ITEM_TYPE_THUMBNAIL);
}

void ChannelDownload::QueueFullTextJobs() {
  CRefreshApp* app = GetRefreshApp();
  if (!ReadSettingInt(u"Settings", u"DownloadFulltext", 1) || IsDownloadStopped() || !hasTemplate_ || !app) return;
  CItemStore walk(0);
  walk.Open(binPath_, 0, 1);
  for (int n = 0; !IsDownloadStopped() && walk.ReadRecord(n); ++n) {
    const CItemRecord& record = walk.Current();
    if ((record.type >> 16) == 0x0001) continue;
    if (!IsBareFileName(record.pageName)) continue;
    CString pagePath = folder_ + u"\\" + record.pageName;
    // The store says whether the full text was stored: a page file alone
    // may be one that a stopped or killed job left unrecorded.
    if ((record.type & ITEM_TYPE_PAGE) && FileAccess(pagePath)) continue;
    if (!ReadSettingInt(u"Settings", u"DownloadFulltext", 1) || IsDownloadStopped()) break;
    app->DownloadManager().AddJob(record.link, pagePath, templatePath_, DOWNLOAD_JOB_FULLTEXT, channel_,
                                  IsDownloadStopped, dialog->GetDialogWindow());
  }
}

void ChannelDownload::KeepFeedFile() {
  if (FileAccess(xmlPath_)) DeleteFileW(xmlPath_);
  MoveFileW(tempPath_, xmlPath_);
  BroadcastRefreshMessage(MSG_DOWNLOAD_REFRESH);
}

void ChannelDownload::RecordError(const CString& errorText) {
  CRssXML document(nullptr, nullptr, nullptr, 1);
  document.SetPath(xmlPath_, 0);
  document.AddErrorItem(errorText);
}

void ChannelDownload::FetchLogoAndIcon(const FeedFacts& feed) {
  WriteLog(u"Download website icon");
  if (!feed.imageUrl.IsEmpty() && !IsDownloadStopped() && ReadSettingInt(u"Settings", u"DownloadImage", 1) &&
      !FileAccess(logoPath_)) {
    DWORD code = 0;
    CString error;
    InternetDownloadFile(feed.imageUrl, logoPath_, &code, error, nullptr, nullptr, nullptr,
                         URL_DOWNLOAD_MAX_PICTURE_BYTES);
  }
  if (!feed.channelLink.IsEmpty() && !IsDownloadStopped()) {
    CString icon = FaviconUrl(feed.channelLink);
    if (!icon.IsEmpty() && !FileAccess(iconPath_)) FetchSiteIcon(icon, iconPath_);
  }
}

void ChannelDownload::ReportCounts(const FeedFacts& feed) {
  const int newCount = feed.itemCount - feed.readCount;
  view->SetItemCounts(channel_, feed.itemCount, newCount);
  int row = FindChannelRow(view, feedUrl);
  if (row >= 0) view->ReleaseItemCache(row);
  view->Redraw(TRUE);
  // The two counts are set together, and before the main window hears of
  // them, so that its own update of the same attributes finds them current
  // and writes nothing. They are saved with the update times of the
  // channels around them (the run saves what is held back at its end).
  if (dialog->m_pOpml) {
    COpmlXML::CSaveBatch saveBatch(dialog->m_pOpml, REFRESH_LIST_SAVE_HOLD_MS);
    CString text;
    text.Format(u"%d", feed.itemCount);
    SetChannelAttributeIfChanged(dialog->m_pOpml, feedUrl, u"itemCount", text);
    text.Format(u"%d", newCount);
    SetChannelAttributeIfChanged(dialog->m_pOpml, feedUrl, u"newItemCount", text);
  }
  if (CRefreshApp* app = GetRefreshApp())
    SendMessageW(app->GetMainWindowHandle(), WM_CHANNEL_COUNTS_CHANGED, WPARAM(channel_),
                 LPARAM((feed.itemCount & 0xFFFF) | ((newCount & 0xFFFF) << 16)));
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
  const int useProxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
  SetUrlDownloadProxy(useProxy, ReadSettingString(u"Settings", u"NetAgencyIP", QUILLET_DEFAULT_PROXY));
  if (!dialog || !dialog->m_pChannelList) return 1;
  ChannelDownload run(dialog, feedUrl, useProxy);
  if (!run.FindChannel()) return 1;

  WriteLog(u"DoRssChannelDownload() started.");
  run.NameFiles();
  run.StampUpdateTime();
  if (IsDownloadStopped()) {
    ResetRow(run.view, feedUrl);
    return 0;
  }
  CString errorText;
  const bool downloaded = run.Fetch(errorText);
  if (!run.Listed()) {
    run.DropUnlisted();
    return 0;
  }
  run.ShowUpdateTime();

  int result = 1;
  FeedFacts feed;
  if (!IsDownloadStopped() && downloaded) {
    result = run.StoreFeed(feed);
  } else if (!IsDownloadStopped() && !downloaded) {
    run.RecordError(errorText);
    result = 0;
  }

  if (IsDownloadStopped() || !run.Listed()) {
    if (!run.Listed()) DeleteFileW(run.TempPath());
    WriteLog(u"DoRssChannelDownload() finished.");
    return 0;
  }
  run.FetchLogoAndIcon(feed);
  if (!IsDownloadStopped() && feed.parsed) run.ReportCounts(feed);
  WriteLog(u"DoRssChannelDownload() finished.");
  return result;
}
