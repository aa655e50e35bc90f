// The article page of the reading view: one article record turned into the
// HTML text that the HTML viewer shows.
//
// The page holds the channel's logo (or its title), the read mark, the
// title (red for the record of a channel's last download error), the
// content, the "Read More Online" link and the publication date. In the
// content, local pictures of the channel data folder are loaded (at most
// ARTICLE_MAX_CONTENT_IMAGES per page) and renamed to the names the host
// answers, pictures that are not shown become the 1 x 1 filler, remote
// addresses are made inert unless remote images are allowed, sizes are
// broken so the page fits the screen, and everything that could run or
// embed another page is taken out.
//
// Feed content is untrusted. A picture is only ever read from the channel
// data folder itself: a value with "..", a rooted path, a drive or any
// scheme ("file:", "http:"...) is never handed to the loader. Script,
// style, textarea and iframe blocks are removed, event-handler attributes
// dropped and script addresses ("javascript:", "vbscript:") taken out of
// every attribute, although the viewer runs nothing and the host opens only
// web addresses.
//
// The builder does no drawing and no file access itself: loading and
// registering a picture is the loader's decision, so the page can be
// checked without bitmaps.
#pragma once

#include "framework/afx.h"
#include "quillet/screens/article_info.h"

#define ARTICLE_MAX_CONTENT_IMAGES 12

// Loads the pictures a page shows.
class CArticleImageLoader {
 public:
  virtual ~CArticleImageLoader() = default;
  // Loads the picture file at path (a device path inside the channel data
  // folder) and registers it under name for the viewer; TRUE when it loaded.
  virtual BOOL LoadContentImage(const CString& path, const CString& name) = 0;
};

struct ArticlePageOptions {
  // The storage root's "\ChannelData" folder, without a trailing backslash.
  CString dataFolder;
  // A logo picture is registered as "logo".
  BOOL hasLogo = FALSE;
  // Remote addresses stay live (no local picture is replaced by the filler).
  BOOL remoteImages = FALSE;
  // Localised "Read More Online" and "Published", and the display form of
  // the record's date.
  CString readMoreText = u"Read More Online";
  CString publishedText = u"Published";
  CString displayDate;
};

// TRUE for the record that reports a channel's last download error.
BOOL IsErrorArticle(const ArticleInfo& info);

// The title as the page shows it: the error record's loses every
// ": Tap for details.".
CString ArticlePageTitle(const ArticleInfo& info);

// TRUE when a picture reference names a file inside the channel data folder:
// not empty, no "..", not rooted, no drive and no scheme, no control
// characters.
BOOL IsLocalImageReference(const CString& reference);

// The content as the page shows it (see above). Pictures are loaded through
// loader (null: none loads) and named "newscontent01" onwards; the count of
// pictures loaded goes to imagesLoaded.
CString PrepareArticleContent(const CString& content, const ArticlePageOptions& options, CArticleImageLoader* loader,
                              int* imagesLoaded);

// Escapes a text for a double-quoted attribute value.
CString EscapeHtmlAttribute(const CString& text);

// The whole page text of the record, ending with "</BODY></HTML>".
CString BuildArticlePage(const ArticleInfo& info, const ArticlePageOptions& options, CArticleImageLoader* loader,
                         int* imagesLoaded);
