// The texts the refresh tests serve: feeds of the three kinds, news pages
// with a story to cut out, the channels' extraction script and patterned
// PNG pictures. The refresh tests and the program tests both serve them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gdi/image_codec.h"

namespace rtest {

struct Item {
  std::string title, link, body, id;
  bool readOnService = false;
};

// Text escaped for XML character data and attribute values.
inline std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

// Feed texts.
inline std::string Rss2(const std::string& title, const std::string& link, const std::string& logo,
                 const std::vector<Item>& items) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>" + Escape(title) +
                  "</title><link>" + Escape(link) + "</link><description>d</description>";
  if (!logo.empty()) s += "<image><url>" + Escape(logo) + "</url><title>t</title><link>" + Escape(link) + "</link></image>";
  for (const Item& i : items)
    s += "<item><title>" + Escape(i.title) + "</title><link>" + Escape(i.link) + "</link><description>" +
         Escape(i.body) + "</description><pubDate>Tue, 08 Dec 2026 10:00:00 GMT</pubDate></item>";
  return s + "</channel></rss>\n";
}

inline std::string Atom(const std::string& title, const std::string& link, const std::vector<Item>& items) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>" +
                  Escape(title) + "</title><link href=\"" + Escape(link) + "\"/>";
  for (const Item& i : items) {
    s += "<entry><title>" + Escape(i.title) + "</title><link href=\"" + Escape(i.link) + "\"/><id>" +
         Escape(i.id.empty() ? i.link : i.id) + "</id><updated>2026-12-08T10:00:00Z</updated>";
    if (i.readOnService)
      s += "<category term=\"user/1/state/com.google/read\" scheme=\"http://www.google.com/reader/\" label=\"read\"/>";
    s += "<content type=\"html\">" + Escape(i.body) + "</content></entry>";
  }
  return s + "</feed>\n";
}

inline std::string Rdf(const std::string& title, const std::string& link, const std::vector<Item>& items) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
      "xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><channel><title>" +
      Escape(title) + "</title><link>" + Escape(link) + "</link><description>d</description></channel>";
  for (const Item& i : items)
    s += "<item rdf:about=\"" + Escape(i.link) + "\"><title>" + Escape(i.title) + "</title><link>" + Escape(i.link) +
         "</link><description>" + Escape(i.body) + "</description><dc:date>2026-12-08T10:00:00Z</dc:date></item>";
  return s + "</rdf:RDF>\n";
}

// A PNG picture of width x height with a pattern (no two rows alike).
inline std::string Png(int width, int height, unsigned seed) {
  std::vector<uint32_t> rgb(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      rgb[size_t(y) * size_t(width) + size_t(x)] = ((x * 7 + seed) & 0xFF) << 16 | ((y * 5 + seed * 3) & 0xFF) << 8 | ((x + y) & 0xFF);
  std::vector<uint8_t> out;
  qk::gdi::EncodePng(width, height, rgb, &out);
  return std::string(out.begin(), out.end());
}

// The channels' extraction script: the article is the inner markup of the
// page's div of class "story". A story that goes on over a further page
// (an "a" of class "next") is written as far as it came before that page
// is fetched, and whole once it has come.
inline const char kExtractionScript[] =
    "var doc = new Document(article.url, \"utf-8\");\n"
    "var body = \"\";\n"
    "var story = doc.getElementsByAttr(\"div\", \"class\", \"story\");\n"
    "if (story.length > 0) body = Outer2InnerHTML(story[0].GetOuterHTML());\n"
    "var next = doc.getElementsByAttr(\"a\", \"class\", \"next\");\n"
    "if (next.length > 0) {\n"
    "  SetArticleBody(body);\n"
    "  var tag = GetNodeAttr(next[0].startPos, next[0].endPos);\n"
    "  var at = tag.indexOf(\"href=\\\"\") + 6;\n"
    "  var more = new Document(tag.substring(at, tag.indexOf(\"\\\"\", at)), \"utf-8\");\n"
    "  var rest = more.getElementsByAttr(\"div\", \"class\", \"story\");\n"
    "  if (rest.length > 0) body += Outer2InnerHTML(rest[0].GetOuterHTML());\n"
    "}\n"
    "article.body = body;\n";

// A news page whose "story" div holds story (which starts with a tag),
// with a menu before it and, when next is not empty, a link of class
// "next" to the rest of the story.
inline std::string ArticlePage(const std::string& story, const std::string& next = "") {
  std::string s = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>News</title></head>\n<body>\n"
                  "<div class=\"menu\"><a href=\"/\">Home</a> <a href=\"/world\">World</a></div>\n"
                  "<div class=\"story\">" + story + "</div>\n";
  if (!next.empty()) s += "<p><a class=\"next\" href=\"" + next + "\">Read on</a></p>\n";
  return s + "<div class=\"footer\">footer</div>\n</body></html>\n";
}

}  // namespace rtest
