// The channel list "Channels.opml" (and any OPML file the user imports).
//
// Layout: <opml><head>...</head><body nextID="N"> with category outlines
// directly under body and channel outlines under their category (or directly
// under body). A channel outline carries type="rss", text (title), uniqueID
// (the number of its "Ch%03d" files) and xmlUrl (its identity); attributes
// set later (itemCount, newItemCount, lastUpdateTime, label, text) keep the
// place where they were first written. Every edit saves the whole file, at
// once or, for an attribute edit inside a save batch of the editing thread,
// when the batch ends (or later, for a batch that may hold its edits).
//
// The list is edited from the refresh thread and the user-interface thread:
// every operation holds the document's recursive lock (CEXML::Lock()).
#pragma once

#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "quillet/feeds/exml.h"

// Reports one attribute of an outline: the parent outline's display text
// (empty for an outline directly under body), the attribute name and value.
// After the last attribute of an outline it is called with an empty name and
// an empty value.
typedef void (*OpmlOutlineCallback)(void* context, LPCWSTR parentText, LPCWSTR name, LPCWSTR value);
// Called with the channel number of each channel of a removed category.
typedef int (*OpmlChannelIdCallback)(int channelNumber);

class COpmlXML : public CEXML {
 public:
  COpmlXML(OpmlOutlineCallback callback, void* context, int typeFilter);
  ~COpmlXML() override;

  void VisitElement(TiXmlElement* parent, TiXmlElement* element) override;


  int CreateEmpty();
  // The new channel's number; 0 when a field is empty, the category holds
  // that title already, or the list could not be saved.
  int AddChannel(LPCWSTR category, LPCWSTR title, LPCWSTR url);
  // A channel for AddChannels.
  struct NewChannel {
    CString category, title, url;
  };
  // Adds the channels as AddChannel adds each of them, in their order, but
  // saves the list once at the end: a file of thousands of feeds is added
  // in time in step with its size. numbers receives each channel's number
  // (0 for one refused). When the save fails nothing of them stays in the
  // list, every number is 0 and the result is FALSE.
  BOOL AddChannels(const std::vector<NewChannel>& channels, std::vector<int>* numbers);
  int AddCategory(LPCWSTR category);
  // The channel of that feed URL: the one with exactly that address, else
  // the first whose address is the same one spelt otherwise (the scheme and
  // the server in another case, the scheme's default port written out or
  // left empty; see InternetAddressKey). Stored addresses stay as they are.
  int FindChannel(LPCWSTR url, int remove);
  int HasChannel(LPCWSTR url) { return FindChannel(url, 0); }
  int RemoveChannel(LPCWSTR url) { return FindChannel(url, 1); }
  int SetChannelAttribute(LPCWSTR url, LPCWSTR name, LPCWSTR value);
  int GetChannelAttribute(LPCWSTR url, LPCWSTR name, CString& value);
  // Renames the category outline of exactly that name (directly under the
  // body, no channel). Refused (0, nothing changed) for an empty name, a
  // name that another category has in any letter case, no such category,
  // or a list that could not be saved; 1 and saved otherwise.
  int RenameCategory(LPCWSTR oldName, LPCWSTR newName);
  // The same as RemoveCategory: a channel is never taken for a category.
  int RemoveChannelById(LPCWSTR category, OpmlChannelIdCallback callback);
  // Removes the category outline of that name (directly under the body,
  // compared exactly, one without a feed address) with every channel in
  // it, calling the callback with each channel's number first; never a
  // channel of that title. 1 and saved when a category was removed, else 0.
  int RemoveCategory(LPCWSTR category, OpmlChannelIdCallback callback);
  // Whether a category outline (no channel) of exactly that name (or, with
  // anyCase, of that name in any letter case) is directly under the body.
  BOOL HasCategory(LPCWSTR category, BOOL anyCase = FALSE);
  int MoveChannel(LPCWSTR url, LPCWSTR category);

  // Holds back the saves of the calling thread's attribute edits until the
  // outermost batch of that thread ends, which then saves once when anything
  // changed (a refresh writes several attributes of one channel with one
  // save). With holdMs, the end of the outermost batch saves only when the
  // oldest edit held back waits that long already; until then the edits wait
  // for a later batch end, SavePending or the list's end (a refresh writes
  // the update times and counts of many channels with one save, and the file
  // is never more than holdMs behind). Edits of the list's structure
  // (channels and categories added, moved, renamed or removed) and the
  // edits that other threads make save at once, and with them whatever was
  // held back. Only one thread batches at a time: a batch begun while
  // another thread's batch is open holds nothing back. A null list gives an
  // empty batch.
  class CSaveBatch {
   public:
    explicit CSaveBatch(COpmlXML* list, DWORD holdMs = 0);
    ~CSaveBatch();
    CSaveBatch(const CSaveBatch&) = delete;
    CSaveBatch& operator=(const CSaveBatch&) = delete;

   private:
    COpmlXML* m_pList;
    bool m_bActive;
    DWORD m_nHoldMs;
  };
  // TRUE while an edit waits for the end of a save batch or for SavePending.
  BOOL HasPendingSave() const;
  // Saves what batches held back (nothing when nothing waits); FALSE when
  // that save failed.
  BOOL SavePending();

  // The fixed text of a new, empty list.
  static const char* EmptyListText();

 protected:
  // A file that is XML but no OPML list (no opml root or no body) fails to
  // load, and is kept aside rather than written over by a later edit.
  BOOL IsAcceptedDocument() const override;

 private:
  TiXmlElement* Body() const;
  bool EnsureBody();
  TiXmlElement* FindChannelElement(LPCWSTR url) const;
  // The channel outlines by feed URL, the first of each in look-up order
  // (outlines under body, then those one level down), made when first
  // needed after the outlines changed: a refresh sets the attributes of
  // every channel without searching the list from its top each time.
  void IndexChannels() const;
  void ForgetChannelIndex() { m_bIndexed = false; }
  // Keeps the index of addresses right after a channel outline was added:
  // entered when its address is new in both of its indexes, else the
  // index is made anew.
  void NoteAddedChannel(LPCWSTR url, TiXmlElement* element);
  CString AttributeText(const TiXmlElement* element, const char* name) const;
  // Saves an edit now, or, for an attribute edit inside the calling thread's
  // batch, marks it pending; false when a save now failed.
  bool Commit(bool attributeOnly = false);
  bool BeginBatch();
  void EndBatch(DWORD holdMs);

  OpmlOutlineCallback m_pCallback;
  void* m_pContext;
  int m_bTypeFilter;
  std::thread::id m_batchOwner;
  int m_nBatchDepth = 0;
  bool m_bSavePending = false;
  uint64_t m_nPendingSince = 0;  // tick of the oldest edit held back
  mutable std::unordered_map<std::u16string, TiXmlElement*> m_channelIndex;
  // The same outlines by the comparison key of their feed URL.
  mutable std::unordered_map<std::u16string, TiXmlElement*> m_channelKeyIndex;
  mutable bool m_bIndexed = false;
  mutable unsigned m_nIndexedGeneration = 0;
};
