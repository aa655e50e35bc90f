// The base of every XML document the program reads or writes: the channel
// list, the feed, the subscription list and the channel templates.
//
// A document owns one TinyXML tree, the file it came from and the encoding of
// that file. The encoding mode says what the file declared: UTF-8 (mode 1)
// or an 8-bit code page (mode 2). The tree itself always holds UTF-8: the
// file's bytes are turned into UTF-8 before the parser sees them (by the
// declared code page; undeclared text that is not UTF-8 throughout by UTF-8
// for its well-formed sequences and the Western fallback page for every
// other byte; malformed bytes in text declared UTF-8 become U+FFFD, as
// browsers read them), and character references, HTML entity names and the
// plain-text entities that the document's internal subset declares (within
// a bound on their expanded size; external ones never) become their
// characters there. NodeText and ToDocumentText convert between the
// tree and wide strings; a save writes the file back in its own code page.
// UTF-16 files are read through UTF-8 and written back as UTF-8.
//
// Every operation takes the document's own recursive lock, so one document
// may be used from the refresh thread and the user-interface thread; callers
// that make several calls in a row hold Lock() themselves.
#pragma once

#include <mutex>
#include <string>

#include "framework/afx.h"

class TiXmlDocument;
class TiXmlElement;
class TiXmlNode;

#define EXML_MODE_UTF8 1
#define EXML_MODE_ANSI 2

class CEXML {
 public:
  CEXML();
  CEXML(const CEXML&) = delete;
  CEXML& operator=(const CEXML&) = delete;

  // Called once for every element that Walk reaches.
  virtual void VisitElement(TiXmlElement* parent, TiXmlElement* element) = 0;
  // Visits the element and then, in document order, walks each child element.
  virtual void Walk(TiXmlElement* parent, TiXmlElement* element);
  virtual ~CEXML();

  // Sets the file path (cut to MAX_PATH - 1 characters) and the
  // delete-on-failure flag (kept for callers; a failed load never deletes).
  void SetPath(LPCWSTR path, int deleteOnFailure);
  CString GetPath() const;

  // Loads a file (fromFile 1, source a wide path) or 8-bit text (fromFile 0,
  // source a NUL-terminated char string); walks the tree when walk is set.
  // 1 when a document with a root element was read, else 0.
  int LoadEx(const void* source, int walk, int fromFile);
  int LoadAndWalk(LPCWSTR path);
  int Load(LPCWSTR path);

  // Decodes one UTF-8 sequence at text[index]: writes one unit, or a
  // surrogate pair for a character beyond U+FFFF, into out[0..1] and the
  // number of units into *units. Returns the bytes consumed, 0 at the end or
  // on a bad or truncated sequence.
  static int DecodeUtf8(const char* text, int index, int length, WCHAR* out, int* units);
  // Encodes the unit at units[0] (with units[1] when it completes a surrogate
  // pair; available says how many units may be read) into out (room for 4
  // bytes). Returns the bytes written; *consumed receives 1 or 2.
  static int EncodeUtf8(LPCWSTR units, int available, char* out, int* consumed);
  // The first character of text that is in set, or null (also for an empty or
  // absent set).
  static LPCWSTR FindFirstOf(LPCWSTR text, LPCWSTR set);

  // 8-bit text of no declared encoding as UTF-8, read as undeclared files
  // are read.
  static std::string UndeclaredTextToUtf8(const std::string& bytes);

  // Text for the tree (UTF-8).
  std::string ToDocumentText(LPCWSTR text) const;
  // Text from the tree as a wide string (empty for null); it ends before its
  // first bad UTF-8 sequence.
  CString NodeText(const char* text) const;
  // The element's name and its text (the text of its first child when that is
  // a text node); returns 1.
  int GetElementText(const TiXmlElement* element, CString& name, CString& text) const;
  // All attributes as "name:value|" items in document order.
  void GetAttributes(const TiXmlElement* element, CString& list) const;
  // Splits an item at its first ":"; without one the key is empty.
  static void SplitName(const CString& item, CString& key, CString& value);
  // Returns the text before the first "|" and leaves the rest in list; with
  // no "|" returns empty and leaves list unchanged.
  static CString SplitNameTail(CString& list);

  int GetEncodingMode() const { return m_nEncodingMode; }
  // The code page the file's bytes were read in and are saved in.
  UINT GetCodePage() const { return m_nCodePage; }
  TiXmlDocument* GetDocument() const { return m_pDoc; }
  // The root element, or null.
  TiXmlElement* GetRoot() const;
  std::recursive_mutex& Lock() const { return m_lock; }

  // Writes the tree to the path: to a temporary file first, renamed over the
  // target only when the whole text was written, so a full disk or a crash
  // never leaves half a file. A file that failed to load is kept beside as
  // "<name>.bad" before anything is written over it. TRUE when saved.
  BOOL SaveDocument();

  // Case-blind helpers for the document classes.
  static BOOL NameIs(const TiXmlElement* element, const char* name);
  static TiXmlElement* FirstChildNoCase(TiXmlNode* node, const char* name);
  static TiXmlElement* NextSiblingNoCase(TiXmlElement* element, const char* name);

  // Documents nested deeper than this are refused as broken (a hostile file
  // must not exhaust the stack of the parser or of Walk).
  static const int kMaxDepth = 512;

  // Whether a load decodes the long texts of elements ahead of the parser
  // (on unless switched off; the tree is the same either way, which a test
  // checks by loading with it off).
  static void SetLongTextDecoding(bool on);

 protected:
  // Document classes refuse a well-formed file that is not what they read;
  // a refused load fails like a broken file.
  virtual BOOL IsAcceptedDocument() const { return TRUE; }
  void FreeDocument();

  WCHAR m_szPath[MAX_PATH];
  TiXmlDocument* m_pDoc;
  int m_nEncodingMode;
  int m_bDeleteOnFailure;
  UINT m_nCodePage;      // code page of the file's bytes (CP_UTF8 for UTF-8 and UTF-16 files)
  bool m_bLoadFailed;    // the file at the path exists but could not be read as XML
  // Keep the white space that borders on markup inside text (documents
  // whose text holds inline markup; the trees of such documents are not
  // saved).
  bool m_bKeepInlineSpace = false;
  // Grows whenever the document is freed or replaced: what a document class
  // keeps about the tree is good while this stays the same.
  unsigned m_nDocumentGeneration = 0;
  mutable std::recursive_mutex m_lock;
};
