#include "common/localize.h"

#include <map>
#include <mutex>
#include <string>

#include "common/settings.h"

namespace {

// The table, the language it was loaded for and its lock. The lock is held
// over the whole of a lookup, so a reload on another thread can never be
// seen half done, and the language is marked current only once its table
// is loaded.
std::mutex g_lock;
std::map<std::u16string, std::u16string>* g_table = nullptr;
std::u16string* g_language = nullptr;

bool IsSystemSpace(char16_t c) {
  return iswspace16(c) || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

std::u16string TrimSpace(const std::u16string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSystemSpace(s[b])) ++b;
  while (e > b && IsSystemSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

void AddLine(const std::u16string& line) {
  size_t eq = line.find(u'=');
  if (eq == std::u16string::npos) return;
  (*g_table)[TrimSpace(line.substr(0, eq))] = TrimSpace(line.substr(eq + 1));
}

// Takes every complete line out of the text buffer.
void TakeLines(std::u16string& text) {
  size_t start = 0;
  for (;;) {
    size_t lf = text.find(u'\n', start);
    if (lf == std::u16string::npos) break;
    AddLine(text.substr(start, lf - start));
    start = lf + 1;
  }
  text.erase(0, start);
}

void LoadTable(const std::u16string& language) {
  g_table->clear();
  CString root;
  GetRegistryString(root, u"Root", u"");
  CString path;
  path.Format(u"%s\\Localization\\%s\\Default.txt", root.GetString(), language.c_str());
  FILE* f = _wfopen(path, u"rb");
  if (!f) return;
  unsigned char bom[2];
  if (fread(bom, 1, 2, f) == 2 && bom[0] == 0xFF && bom[1] == 0xFE) {
    std::u16string text;
    unsigned char block[254];
    size_t got;
    int pending = -1;  // a byte left over from an odd-sized read
    while ((got = fread(block, 1, sizeof block, f)) > 0) {
      for (size_t i = 0; i < got; ++i) {
        if (pending < 0) {
          pending = block[i];
        } else {
          text.push_back(char16_t(pending | (block[i] << 8)));
          pending = -1;
        }
      }
      TakeLines(text);
    }
    // A last line without its line feed is an entry too.
    if (!text.empty()) AddLine(text);
  }
  fclose(f);
}

}  // namespace

CString& LocalizeKey(CString& out, const CString& key) {
  WCHAR abbrev[16] = {0};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, abbrev, 16) < 2) {
    out = key;
    return out;
  }
  CString language;
  GetRegistryString(language, u"Language", u"");
  if (language.IsEmpty()) language = abbrev;

  std::lock_guard<std::mutex> g(g_lock);
  if (!g_table) {
    g_table = new std::map<std::u16string, std::u16string>;
    g_language = new std::u16string;
  }
  if (language.str() != *g_language) {
    LoadTable(language.str());
    *g_language = language.str();
  }
  auto it = g_table->find(key.str());
  out = it == g_table->end() ? key : CString(it->second);
  return out;
}

namespace {
CString LocalizePass(const CString& text, WCHAR separator) {
  CString result;
  int start = 0;
  for (;;) {
    int at = text.Find(separator, start);
    CString piece = at < 0 ? text.Mid(start) : text.Mid(start, at - start);
    CString localized;
    LocalizeKey(localized, piece);
    result += localized;
    if (at < 0) break;
    result += separator;
    start = at + 1;
  }
  return result;
}
}  // namespace

CString& Localize(CString& out, const CString& text) {
  CString first = LocalizePass(text, u'\n');
  out = LocalizePass(first, u'\t');
  return out;
}

CString Localized(LPCWSTR text) {
  CString out;
  return Localize(out, CString(text));
}
