// The picture sources of an HTML page, read the way an HTML parser reads
// its tags.
//
// A tag starts with "<" and a letter ("</" and a letter for an end tag);
// its name ends at a blank, "/" or ">". An attribute name ends at a blank,
// "/", ">" or "="; blanks (space, tab, CR, LF, FF) may stand around "=". A
// quoted value ends at its own quote, an unquoted one at a blank or ">". A
// tag cut short by the end of the page is no tag. Comments ("<!--" to "-->"
// or "--!>"), declarations and processing instructions ("<!", "<?" to ">")
// hold no tags, nor does the text of a script, style, textarea, title, xmp,
// iframe, noembed or noframes element up to its end tag, nor anything after
// a plaintext start tag. Only an "img" tag's first "src" attribute names its
// picture, as for the parser a repeated attribute is dropped.
//
// The full-text job, which localises a page's pictures, and the reading
// view, which loads them, both read pages through this one reader, so the
// two always agree on which text is a picture's source.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

struct HtmlImageSource {
  size_t tag = 0;         // where the img tag's "<" stands
  size_t tagEnd = 0;      // one past the tag's ">"
  size_t valueStart = 0;  // where the value's text starts, its opening quote included
  size_t valueEnd = 0;    // one past the value's text, its closing quote included
  char16_t quote = 0;     // the value's quote character, 0 when unquoted
  std::u16string value;   // the value with its character references decoded
};

// Walks the sources of a page in order, once: every character of the page
// is looked at a bounded number of times.
class CHtmlImageSources {
 public:
  // page must outlive the reader.
  explicit CHtmlImageSources(const std::u16string& page) : m_page(page) {}
  // The next source; false at the end of the page.
  bool Next(HtmlImageSource& found);
  // The characters looked at so far (the work done, for checking that it
  // stays linear in the page's length).
  size_t Steps() const { return m_steps; }

 private:
  enum class TagEnd { Done, Cut };
  size_t Find(char16_t c, size_t from);
  size_t FindText(const char16_t* what, size_t from);
  size_t SkipPast(char16_t c, size_t from);
  TagEnd ReadTag(size_t lt, bool endTag, HtmlImageSource& found, bool& hasSource, size_t& end);
  size_t EndOfRawText(size_t from, const std::u16string& name);

  const std::u16string& m_page;
  size_t m_pos = 0;
  size_t m_steps = 0;
};

// An attribute value with its character references ("&amp;", "&#38;",
// "&#x26;" and the common named ones) replaced by the characters they stand
// for; a reference not known stays as written.
std::u16string DecodeHtmlAttribute(const std::u16string& value);

// value written as an attribute value in quote ('"' or '\''; 0: unquoted
// when it can stand so, else in double quotes): "&" and the quote written as
// references, so that reading it back gives value.
std::u16string WriteHtmlAttribute(const std::u16string& value, char16_t quote);

// The page with the sources for which replace answers a value rewritten to
// it (written with the source's own quote); everything else, the other
// sources included, stays as it was.
std::u16string RewriteImageSources(const std::u16string& page,
                                   const std::function<std::optional<std::u16string>(const HtmlImageSource&)>& replace);
