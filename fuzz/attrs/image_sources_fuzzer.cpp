// Feeds arbitrary bytes (each byte one character) to the picture-source
// reader of article pages, alone and in both its uses.
//
// Checks:
// - every source lies inside a whole "<img" tag (name exactly "img"), in
//   order, one per tag, its value's text ending where its quote or an
//   unquoted value ends, its value the decoding of that text;
// - nothing in a comment, a script's text or a textarea is a source (the
//   input put inside one);
// - the work stays linear: the reader looks at each character a bounded
//   number of times;
// - the full-text job's rewriting (local names, some of them needing quotes
//   or references) changes the page only inside the values it rewrote, and
//   the page read again gives the new values where the old ones stood;
// - the reading view asks its loader only for sources of the page, each
//   once, in order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "quillet/feeds/image_sources.h"
#include "quillet/reading/article_page.h"
#include "quillet/refresh/download_job.h"

namespace {

using Text = std::u16string;

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "image source check failed: %s\n", what);
  abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f'; }
char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

Text LowerText(const Text& t) {
  Text l(t);
  for (char16_t& c : l) c = Lower(c);
  return l;
}

std::vector<HtmlImageSource> Sources(const Text& page, size_t* steps = nullptr) {
  CHtmlImageSources reader(page);
  std::vector<HtmlImageSource> all;
  HtmlImageSource s;
  while (reader.Next(s)) all.push_back(s);
  if (steps) *steps = reader.Steps();
  return all;
}

void CheckShape(const Text& page, const std::vector<HtmlImageSource>& sources) {
  size_t lastEnd = 0;
  for (const HtmlImageSource& s : sources) {
    Check(s.tag >= lastEnd, "sources in order, one tag each");
    Check(s.tag + 4 < s.tagEnd && s.tagEnd <= page.size(), "the tag inside the page");
    Check(page[s.tag] == u'<' && Lower(page[s.tag + 1]) == u'i' && Lower(page[s.tag + 2]) == u'm' &&
              Lower(page[s.tag + 3]) == u'g',
          "the tag starts with <img");
    const char16_t after = page[s.tag + 4];
    Check(IsBlank(after) || after == u'/' || after == u'>', "the tag's name is img");
    Check(page[s.tagEnd - 1] == u'>', "the tag ends with >");
    Check(s.tag + 4 < s.valueStart && s.valueStart < s.valueEnd && s.valueEnd < s.tagEnd, "the value in its tag");
    Text inner;
    if (s.quote) {
      Check(page[s.valueStart] == s.quote && page[s.valueEnd - 1] == s.quote && s.valueEnd - s.valueStart >= 2,
            "a quoted value between its quotes");
      inner = page.substr(s.valueStart + 1, s.valueEnd - s.valueStart - 2);
      Check(inner.find(s.quote) == Text::npos, "a quoted value ends at its own quote");
    } else {
      inner = page.substr(s.valueStart, s.valueEnd - s.valueStart);
      for (char16_t c : inner) Check(!IsBlank(c) && c != u'>', "an unquoted value ends at a blank or >");
      Check(inner[0] != u'"' && inner[0] != u'\'', "an unquoted value starts with no quote");
      Check(IsBlank(page[s.valueEnd]) || page[s.valueEnd] == u'>', "an unquoted value runs to its end");
    }
    Check(s.value == DecodeHtmlAttribute(inner), "the value decoded");
    lastEnd = s.tagEnd;
  }
}

// The input inside a comment, a script or a textarea that it cannot close:
// no source.
void CheckHidden(const Text& input) {
  const Text lower = LowerText(input);
  if (lower.find(u"-->") == Text::npos && lower.find(u"--!>") == Text::npos && input.rfind(u">", 0) != 0 &&
      input.rfind(u"->", 0) != 0)
    Check(Sources(u"<p>a</p><!--" + input + u"<img src=x>").empty(), "nothing in a comment is a source");
  if (lower.find(u"</script") == Text::npos)
    Check(Sources(u"<script>" + input + u"<img src=x>").empty(), "nothing in a script is a source");
  if (lower.find(u"</textarea") == Text::npos)
    Check(Sources(u"<textarea rows=2>" + input + u"<img src=x>").empty(), "nothing in a textarea is a source");
}

// The names the job gives, some made to need quotes or references.
Text LocalName(int n) {
  static const char16_t* kTails[] = {u".png", u".img", u" copy.png", u"'s.png", u"\"q\".png", u"&amp;.png"};
  return u"Ch001-1-1-" + std::u16string(1, char16_t(u'0' + n % 10)) + kTails[n % 6];
}

void CheckJob(const Text& page, const std::vector<HtmlImageSource>& sources) {
  const CString link(u"http://127.0.0.1:8080/news/story.html");
  std::vector<Text> wanted;  // the value each source should have afterwards
  std::vector<bool> changed;
  int n = 0;
  const Text written = RewriteImageSources(page, [&](const HtmlImageSource& s) -> std::optional<Text> {
    const CString reference = CDownloadJob::TrimmedReference(s.value);
    if (reference.IsEmpty() || CDownloadJob::ImageAddress(link, reference).IsEmpty()) {
      wanted.push_back(s.value);
      changed.push_back(false);
      return std::nullopt;
    }
    const Text local = LocalName(++n);
    wanted.push_back(local);
    changed.push_back(true);
    return local;
  });
  Check(wanted.size() == sources.size(), "the job is offered every source");
  // Outside the rewritten values the page is as it was.
  size_t in = 0, out = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!changed[i]) continue;
    const size_t keep = sources[i].valueStart - in;
    Check(written.compare(out, keep, page, in, keep) == 0, "the page outside the values stays");
    out += keep;
    in = sources[i].valueEnd;
    const Text value = WriteHtmlAttribute(wanted[i], sources[i].quote);
    Check(written.compare(out, value.size(), value) == 0, "the new value where the old stood");
    out += value.size();
  }
  Check(written.size() - out == page.size() - in && written.compare(out, Text::npos, page, in, Text::npos) == 0,
        "the page after the last value stays");
  // Read again: the same sources, with the new values.
  const std::vector<HtmlImageSource> again = Sources(written);
  Check(again.size() == sources.size(), "the rewritten page has the same sources");
  for (size_t i = 0; i < again.size(); ++i) Check(again[i].value == wanted[i], "the rewritten values read back");
  CheckShape(written, again);
}

class CRecordingLoader : public CArticleImageLoader {
 public:
  std::vector<Text> asked;
  BOOL LoadContentImage(const CString& path, const CString&) override {
    asked.push_back(path.str());
    return asked.size() % 3 != 0;
  }
};

void CheckReadingView(const Text& page, const std::vector<HtmlImageSource>& sources) {
  CRecordingLoader loader;
  ArticlePageOptions options;
  options.dataFolder = u"\\Data";
  int loaded = 0;
  PrepareArticleContent(CString(page), options, &loader, &loaded);
  std::set<Text> seen;
  size_t next = 0;
  for (const Text& path : loader.asked) {
    Check(path.rfind(u"\\Data\\", 0) == 0, "asked inside the data folder");
    const Text value = path.substr(6);
    Check(seen.insert(value).second, "each picture asked for once");
    while (next < sources.size() && sources[next].value != value) ++next;
    Check(next < sources.size(), "only sources asked for, in order");
    Check(IsLocalImageReference(CString(value)), "only local pictures asked for");
  }
  Check(loaded <= ARTICLE_MAX_CONTENT_IMAGES, "at most the pictures a page may load");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  Text page(size, u'\0');
  for (size_t i = 0; i < size; ++i) page[i] = char16_t(data[i]);

  size_t steps = 0;
  const std::vector<HtmlImageSource> sources = Sources(page, &steps);
  Check(steps <= 6 * page.size() + 16, "linear work");
  CheckShape(page, sources);
  // Twice the page: the same sources twice, and twice the work at most.
  if (size <= 8192) {
    size_t doubled = 0;
    const std::vector<HtmlImageSource> twice = Sources(page + page, &doubled);
    Check(doubled <= 2 * steps + 16 + 6 * page.size(), "doubling the page doubles the work");
    CheckShape(page + page, twice);
  }
  CheckHidden(page);
  CheckJob(page, sources);
  CheckReadingView(page, sources);
  return 0;
}
