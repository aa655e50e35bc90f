// The feed document: one downloaded RSS 0.9x, RSS 1.0 (RDF), RSS 2.0 or Atom
// file ("Ch%03d~.xml"), turned into records of the channel's item store
// ("Ch%03d.bin" beside it).
//
// Each item gets a page name "Ch007-<seconds>-<n>.htm" and each image that
// its content references a local name "Ch007-<seconds>-<n>.<ext>"; both
// take <n> from one process-wide counter, so a page and an image never share
// a base name. The images to fetch are listed in m_imageJobs as
// "key|page|reference|local name".
#pragma once

#include "framework/afx.h"
#include "quillet/feeds/exml.h"
#include "quillet/feeds/item_store.h"

// Reports a channel element ("channel", name, text) or an item child
// (element name, child name, text) during Walk.
typedef void (*RssElementCallback)(void* context, LPCWSTR kind, LPCWSTR name, LPCWSTR value);
// Returns non-zero to stop the parse.
typedef int (*RssCancelCallback)(void* context);

#define RSS_VERSION_20 0
#define RSS_VERSION_RDF 1
#define RSS_VERSION_091 2
#define RSS_VERSION_OTHER 3

// Image references whose address contains this host are not fetched.
#define RSS_AD_DOMAIN u"doubleclick.net"

class CRssXML : public CEXML {
 public:
  CRssXML(RssElementCallback elementCallback, RssCancelCallback cancelCallback, void* context, int readKeptCount);
  ~CRssXML() override;

  void VisitElement(TiXmlElement* parent, TiXmlElement* element) override;
  void Walk(TiXmlElement* parent, TiXmlElement* element) override;

  int GetTitle(CString& out);
  int GetLink(CString& out);
  int GetImageUrl(CString& out);
  CString& GetBinPath(CString& out);
  // Parses every item into the store; 0 when the document holds no feed.
  int SaveItems();
  int ParseItem(TiXmlElement* item, CItemStore* store);
  int CountItems(int& itemCount, int& readCount);
  int AddErrorItem(LPCWSTR errorText);
  int RemoveErrorItem();
  CString& GetChannelInfoHtml(CString& out);

  int GetVersion() const { return m_nVersion; }
  int GetKeptCount() const { return m_nKeptCount; }

  CStringList m_linksAdded;
  CStringList m_imageJobs;
  CStringList m_spare;
  CStringList m_readIds;

 private:
  TiXmlElement* TopElement() const;
  bool Cancelled() const { return m_pCancel && m_pCancel(m_pContext) != 0; }
  bool DownloadImages();
  CString NewPageName();
  CString NewImageName(const CString& extension);
  // Rewrites the image references of content to local names; false when
  // cancelled. Entries are "page|reference|local" until the key is final.
  bool LocaliseImages(CString& content, const CString& pageName, CStringList& itemImages);

  CStringList m_localNames;  // local image names given by the current parse
  int m_nVersion;
  RssElementCallback m_pElement;
  RssCancelCallback m_pCancel;
  void* m_pContext;
  int m_nKeptCount;
  int m_nDownloadImage = -1;  // the "DownloadImage" setting as last read
  uint64_t m_nDownloadImageTick = 0;
};

// The counter that numbers page and image names (process-wide; tests set it).
void SetItemNameCounter(int value);
int NextItemNameNumber();
