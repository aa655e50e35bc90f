// The forgiving HTML scanner over pages written for the tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ambrel/html_node_tree.h"
#include "kernel/wstring.h"

namespace {

std::string S(const CString& s) { return qk::ToUtf8(s.str()); }
CString W(const char* s) { return CString(s); }

int Pos(const char* page, const char* needle) { return static_cast<int>(std::string(page).find(needle)); }

std::string Entry(int id, int parent, const char* name, int start, int end) {
  return std::to_string(id) + "," + std::to_string(parent) + "," + name + "," + std::to_string(start) + "," +
         std::to_string(end);
}

TEST(HtmlNodeTreeTest, FindNextTagPassesCommentsEndTagsAndMetaAndNamesACutOffTag) {
  const char* page = "text <!-- <b> --> </p><META x><meta/><Div\tclass=a>in</DIV><sPaN>s";
  int pos = 0;
  EXPECT_EQ(S(CHtmlNodeTree::FindNextTag(W(page), pos)), "DIV");
  EXPECT_EQ(pos, Pos(page, "<Div"));
  pos = Pos(page, "in</DIV>");
  EXPECT_EQ(S(CHtmlNodeTree::FindNextTag(W(page), pos)), "SPAN");
  EXPECT_EQ(pos, Pos(page, "<sPaN"));
  // Nothing after the last tag, and positions outside the text.
  pos = Pos(page, ">s") + 1;
  EXPECT_EQ(S(CHtmlNodeTree::FindNextTag(W(page), pos)), "");
  EXPECT_EQ(pos, -1);
  for (int outside : {-5, static_cast<int>(strlen(page)), 100000}) {
    pos = outside;
    EXPECT_EQ(S(CHtmlNodeTree::FindNextTag(W(page), pos)), "");
    EXPECT_EQ(pos, -1);
  }
  // A tag cut off by the end of the text; a comment that never ends.
  pos = 0;
  EXPECT_EQ(S(CHtmlNodeTree::FindNextTag(W("abc <tabl"), pos)), "TABL");
  EXPECT_EQ(pos, 4);
  pos = 0;
  EXPECT_EQ(S(CHtmlNodeTree::FindNextTag(W("<!-- <p> <i>"), pos)), "");
  EXPECT_EQ(pos, -1);
}

TEST(HtmlNodeTreeTest, SpansOfThePageAreCutAtItsEnd) {
  CString page = W("ab<p id=1>x</p>");
  EXPECT_EQ(S(CHtmlNodeTree::GetOuterHtml(page, 0, 9)), "<p id=1>");
  EXPECT_EQ(S(CHtmlNodeTree::GetOuterHtml(page, 0, -1)), "<p id=1>x</p>");
  EXPECT_EQ(S(CHtmlNodeTree::GetOuterHtml(page, 0, 1)), "");  // end before the tag
  // Past the end of the page: cut there, never beyond.
  EXPECT_EQ(S(CHtmlNodeTree::GetOuterHtml(page, 0, 5000)), "<p id=1>x</p>");
  EXPECT_EQ(S(CHtmlNodeTree::GetOuterHtml(page, 3, -1)), "");  // no tag from there on
  EXPECT_EQ(S(CHtmlNodeTree::GetTagText(page, 0, 1000000)), "p id=1");
  EXPECT_EQ(S(CHtmlNodeTree::GetTagText(page, 0, 5)), "p i");
  EXPECT_EQ(S(CHtmlNodeTree::GetTagText(W("x <img src=a.png"), 0, 1000)), "img src=a.png");
}

TEST(HtmlNodeTreeTest, TreeOfNestedElementsListsTheLastCompletedFirst) {
  const char* page = "<!DOCTYPE html><html><head><title>T</title></head><body><div>x</div></body></html>";
  CHtmlNodeTree tree;
  tree.SetPageText(W(page));
  // The next tag from 0 is the doctype: not the root asked for.
  EXPECT_EQ(S(tree.GetNodeTree(W(page), W("HTML"), 0)), "");
  EXPECT_TRUE(tree.Nodes().empty());
  int html = Pos(page, "<html>");
  std::string expected = Entry(1, -1, "HTML", html, Pos(page, "</html>") + 6) + "|" +
                         Entry(4, 1, "BODY", Pos(page, "<body>"), Pos(page, "</body>") + 6) + "|" +
                         Entry(5, 4, "DIV", Pos(page, "<div>"), Pos(page, "</div>") + 5) + "|" +
                         Entry(2, 1, "HEAD", Pos(page, "<head>"), Pos(page, "</head>") + 6) + "|" +
                         Entry(3, 2, "TITLE", Pos(page, "<title>"), Pos(page, "</title>") + 7);
  EXPECT_EQ(S(tree.GetNodeTree(W(page), W("HTML"), 1)), expected);
  EXPECT_EQ(tree.Nodes().size(), 5u);
  // A lower-case root name does not match the upper-case tag name.
  EXPECT_EQ(S(tree.GetNodeTree(W(page), W("html"), html)), "");
  EXPECT_EQ(tree.Nodes().size(), 5u);

  // Relatives by id.
  EXPECT_EQ(S(tree.GetRelatedNode(4, 0)), Entry(4, 1, "BODY", Pos(page, "<body>"), Pos(page, "</body>") + 6));
  EXPECT_EQ(S(tree.GetRelatedNode(1, 1)).substr(0, 7), "2,1,HEA");  // first child
  EXPECT_EQ(S(tree.GetRelatedNode(1, 2)).substr(0, 7), "4,1,BOD");  // last child
  EXPECT_EQ(S(tree.GetRelatedNode(2, 3)), "");                      // the first child has no previous sibling
  EXPECT_EQ(S(tree.GetRelatedNode(4, 3)).substr(0, 7), "2,1,HEA");
  EXPECT_EQ(S(tree.GetRelatedNode(2, 4)).substr(0, 7), "4,1,BOD");
  EXPECT_EQ(S(tree.GetRelatedNode(4, 4)), "");
  EXPECT_EQ(S(tree.GetRelatedNode(1, 3)), "");  // the root has no parent
  EXPECT_EQ(S(tree.GetRelatedNode(3, 1)), "");  // no children
  EXPECT_EQ(S(tree.GetRelatedNode(99, 0)), "");
  EXPECT_EQ(S(tree.GetRelatedNode(1, 5)), "");
}

TEST(HtmlNodeTreeTest, SelfClosedMetaLinkCommentsScriptsAndCaseInTheTree) {
  const char* page =
      "<HTML><head><meta charset=utf-8/><link rel=x><Title>T</TITLE></head>"
      "<Body><!-- <div> --><script type=\"text/javascript\">if (a<b) document.write('<p>');</SCRIPT>"
      "<br/><img src=\"a.png\" /><P>one</p></bOdY></html>";
  CHtmlNodeTree tree;
  std::string result = S(tree.GetNodeTree(W(page), W("HTML"), 0));
  // Ids: HTML 1, HEAD 2, META 3, LINK 4, TITLE 5, BODY 6, BR 7, IMG 8, P 9.
  std::string expected = Entry(1, -1, "HTML", 0, Pos(page, "</html>") + 6) + "|" +
                         Entry(6, 1, "BODY", Pos(page, "<Body>"), Pos(page, "</bOdY>") + 6) + "|" +
                         Entry(9, 6, "P", Pos(page, "<P>"), Pos(page, "</p>") + 3) + "|" +
                         Entry(2, 1, "HEAD", Pos(page, "<head>"), Pos(page, "</head>") + 6) + "|" +
                         Entry(5, 2, "TITLE", Pos(page, "<Title>"), Pos(page, "</TITLE>") + 7);
  EXPECT_EQ(result, expected);
}

TEST(HtmlNodeTreeTest, StrayEndTagsAndUnclosedElements) {
  // A p left open inside a div: the div's end tag closes the div; the p is
  // not recorded and the element completed last inside it gets the div as
  // its parent. A stray end tag changes nothing.
  const char* page = "<div id=a><p>x<b>y</b></span></div>";
  CHtmlNodeTree tree;
  std::string expected = Entry(1, -1, "DIV", 0, Pos(page, "</div>") + 5) + "|" +
                         Entry(3, 1, "B", Pos(page, "<b>"), Pos(page, "</b>") + 3);
  EXPECT_EQ(S(tree.GetNodeTree(W(page), W("DIV"), 0)), expected);

  // Elements left open at the end of the text are not recorded, and what an
  // unfinished build left behind never leaks into the next one.
  const char* unfinished = "<ul><li>one<li>two</ul><ul><li>three";
  // The first end tag meets an open li while nothing is completed yet: it
  // closes nothing, and nothing of this page is ever completed.
  EXPECT_EQ(S(tree.GetNodeTree(W(unfinished), W("UL"), 0)), "");
  EXPECT_TRUE(tree.Nodes().empty());
  const char* next = "<ul><li>a</li></ul>";
  std::string second = S(tree.GetNodeTree(W(next), W("UL"), 0));
  CHtmlNodeTree fresh;
  EXPECT_EQ(second, S(fresh.GetNodeTree(W(next), W("UL"), 0)));
  EXPECT_EQ(second, Entry(1, -1, "UL", 0, 18) + "|" + Entry(2, 1, "LI", 4, 13));
  // The build after an unclosed root: leftovers of the open-element stack
  // take no part.
  const char* open = "<div><div><span>x</span>";
  tree.GetNodeTree(W(open), W("DIV"), 0);
  EXPECT_EQ(S(tree.GetNodeTree(W("<div>y</div>"), W("DIV"), 0)), Entry(1, -1, "DIV", 0, 11));
}

// The records of a build, parsed back from its result.
std::map<int, CHtmlNode> Records(const std::string& result) {
  std::map<int, CHtmlNode> out;
  for (size_t from = 0; from < result.size(); from = result.find('|', from) + 1) {
    CHtmlNode node;
    char name[32] = {0};
    if (std::sscanf(result.c_str() + from, "%d,%d,%31[^,],%d,%d", &node.id, &node.parentId, name, &node.startPos,
                    &node.endPos) != 5)
      break;
    node.name = CString(name);
    out[node.id] = node;
    if (result.find('|', from) == std::string::npos) break;
  }
  return out;
}

TEST(HtmlNodeTreeTest, QuotedValuesUnclosedElementsAndStrayEndTagsLeaveEveryParentTheEnclosingRecord) {
  struct Case {
    const char* page;
    const char* root;
    std::vector<std::string> entries;  // in the order of the result
  };
  // "/>" and ">" inside quoted values end nothing; a quoted value followed
  // by "/>" closes its tag.
  const char* quoted = "<div id=a><svg><path d=\"M0 0h24 />\"></path></svg><p title='a>b'>t</p></div>";
  // The elements of an unclosed p all go to the div that closed it.
  const char* unclosed = "<div><img src=\"a.png\"/><p><b>1</b><i>2</i></div>";
  // An end tag that closes a list leaves what was completed before the
  // list where it was.
  const char* list = "<html><body><div><b>x</b></div><ul><li>a</ul></body></html>";
  // A stray end tag changes nothing.
  const char* stray = "<body><p>a</p><div></font><span>s</span></div></body>";
  auto end = [](const char* page, const char* tag) { return Pos(page, tag) + static_cast<int>(strlen(tag)) - 1; };
  const Case cases[] = {
      {quoted, "DIV",
       {Entry(1, -1, "DIV", 0, end(quoted, "</div>")), Entry(4, 1, "P", Pos(quoted, "<p title"), end(quoted, "</p>")),
        Entry(2, 1, "SVG", Pos(quoted, "<svg"), end(quoted, "</svg>")),
        Entry(3, 2, "PATH", Pos(quoted, "<path"), end(quoted, "</path>"))}},
      {unclosed, "DIV",
       {Entry(1, -1, "DIV", 0, end(unclosed, "</div>")), Entry(5, 1, "I", Pos(unclosed, "<i>"), end(unclosed, "</i>")),
        Entry(4, 1, "B", Pos(unclosed, "<b>"), end(unclosed, "</b>"))}},
      {list, "HTML",
       {Entry(1, -1, "HTML", 0, end(list, "</html>")), Entry(2, 1, "BODY", Pos(list, "<body"), end(list, "</body>")),
        Entry(5, 2, "UL", Pos(list, "<ul>"), end(list, "</ul>")), Entry(3, 2, "DIV", Pos(list, "<div>"), end(list, "</div>")),
        Entry(4, 3, "B", Pos(list, "<b>"), end(list, "</b>"))}},
      {stray, "BODY",
       {Entry(1, -1, "BODY", 0, end(stray, "</body>")), Entry(3, 1, "DIV", Pos(stray, "<div>"), end(stray, "</div>")),
        Entry(4, 3, "SPAN", Pos(stray, "<span>"), end(stray, "</span>")),
        Entry(2, 1, "P", Pos(stray, "<p>"), end(stray, "</p>"))}},
  };
  for (const Case& c : cases) {
    std::string expected;
    for (const auto& e : c.entries) expected += (expected.empty() ? "" : "|") + e;
    CHtmlNodeTree tree;
    EXPECT_EQ(S(tree.GetNodeTree(W(c.page), W(c.root), 0)), expected) << c.page;
  }

  // A page as news sites write them: every record's parent is a record
  // that encloses it, and the story's paragraphs belong to the story.
  std::string page =
      "<!DOCTYPE html>\r\n<html lang=\"en\">\r\n<head><meta charset=\"utf-8\" /><title>News</title>\r\n"
      "<link rel=\"icon\" href=\"/f.ico\"/><script>if (a < b) document.write('</div><p>');</script></head>\r\n"
      "<body class=\"home\">\r\n<header><a href=\"/\" title=\"Home > News\"><svg viewBox=\"0 0 24 24\">"
      "<path d=\"M0 0h24/\"/><path fill=\"none\" d=\"M12 2 />\"></path></svg></a>\r\n"
      "<nav><ul><li><a href=\"/w\">World<li><a href='/s'>Sport</a></ul></nav></header>\r\n"
      "<!-- <div class=\"story\"> old layout -->\r\n"
      "<div id=\"main\"><div class=\"story\" data-x='{\"a\":\"<b>\"}'><h1>Title</h1>\r\n"
      "<p class=\"para\">One <font color=red>red</font> word<br/></p>\r\n<p class=\"para\">Two <img src=\"x.png\" alt=\"\"/>"
      "<i>2</i></p><p class=\"para\">Three</font></p><p>Left open</div>\r\n"
      "<table><tr><td>a<td>b</table><aside><ul><li>x</li><li>y</ul></aside></div>\r\n"
      "<footer><p>Foot</footer></body>\r\n</html>\r\n";
  CHtmlNodeTree tree;
  tree.SetPageText(W(page.c_str()));
  int html = static_cast<int>(page.find("<html"));
  std::map<int, CHtmlNode> records = Records(S(tree.GetNodeTree(W(page.c_str()), W("HTML"), html)));
  ASSERT_GT(records.size(), 20u) << S(tree.GetNodeTree(W(page.c_str()), W("HTML"), html));
  for (const auto& [id, node] : records) {
    if (id == 1) {
      EXPECT_EQ(node.parentId, -1);
      continue;
    }
    auto parent = records.find(node.parentId);
    ASSERT_NE(parent, records.end()) << S(CHtmlNodeTree::Entry(node)) << " has no recorded parent";
    EXPECT_LT(parent->second.startPos, node.startPos) << S(CHtmlNodeTree::Entry(node));
    EXPECT_LT(node.endPos, parent->second.endPos) << S(CHtmlNodeTree::Entry(node));
  }
  std::string story = S(tree.GetElementsByAttr(W("div"), W("class"), W("story")));
  ASSERT_FALSE(story.empty());
  int storyId = std::stoi(story);
  std::string paragraphs = S(tree.GetElementsByAttr(W("p"), W("class"), W("para")));
  EXPECT_EQ(Records(paragraphs).size(), 3u) << paragraphs;
  for (const auto& [id, node] : Records(paragraphs)) EXPECT_EQ(node.parentId, storyId) << S(CHtmlNodeTree::Entry(node));
  // Both icons' paths are children of the svg.
  int paths = 0;
  for (const auto& [id, node] : records)
    if (node.name == u"PATH") {
      ++paths;
      EXPECT_EQ(records[node.parentId].name, CString(u"SVG"));
    }
  EXPECT_EQ(paths, 1);  // the first is self-closed
}

TEST(HtmlNodeTreeTest, SiblingsTheAttributeWindowSelfClosedTagsAndCarriageReturns) {
  // The previous sibling is the nearest one before, the next the nearest
  // after.
  const char* list = "<ul><li>1</li><li>2</li><li>3</li></ul>";
  CHtmlNodeTree tree;
  ASSERT_FALSE(tree.GetNodeTree(W(list), W("UL"), 0).IsEmpty());
  EXPECT_EQ(S(tree.GetRelatedNode(4, 3)), Entry(3, 1, "LI", Pos(list, "<li>2"), Pos(list, "2</li>") + 5));
  EXPECT_EQ(S(tree.GetRelatedNode(2, 4)), Entry(3, 1, "LI", Pos(list, "<li>2"), Pos(list, "2</li>") + 5));
  EXPECT_EQ(S(tree.GetRelatedNode(3, 3)).substr(0, 7), "2,1,LI,");
  EXPECT_EQ(S(tree.GetRelatedNode(3, 4)).substr(0, 7), "4,1,LI,");

  // An attribute is seen only when it ends within the first 63 characters
  // of its tag: here the first tag's ">" is its 63rd character, the
  // second's its 64th.
  std::string near = "<div data-p=\"" + std::string(43, 'x') + "\" id=t>a</div>";
  std::string far = "<div data-p=\"" + std::string(44, 'x') + "\" id=t>b</div>";
  ASSERT_EQ(near.find('>'), 62u);
  std::string page = "<body>" + near + far + "</body>";
  tree.SetPageText(W(page.c_str()));
  ASSERT_FALSE(tree.GetNodeTree(W(page.c_str()), W("BODY"), 0).IsEmpty());
  EXPECT_EQ(S(tree.GetElementsByAttr(W("div"), W("id"), W("t"))),
            Entry(2, 1, "DIV", 6, 6 + static_cast<int>(near.size()) - 1));

  // Self-closed tags are not recorded and leave their parent open, a
  // self-closed meta tag included; a self-closed root ends the build.
  const char* closed = "<html><head><meta name=\"a\" /><title>T</title></head><body><br/><hr /><p>x</p></body></html>";
  EXPECT_EQ(S(tree.GetNodeTree(W(closed), W("HTML"), 0)),
            Entry(1, -1, "HTML", 0, Pos(closed, "</html>") + 6) + "|" +
                Entry(5, 1, "BODY", Pos(closed, "<body>"), Pos(closed, "</body>") + 6) + "|" +
                Entry(8, 5, "P", Pos(closed, "<p>"), Pos(closed, "</p>") + 3) + "|" +
                Entry(2, 1, "HEAD", Pos(closed, "<head>"), Pos(closed, "</head>") + 6) + "|" +
                Entry(4, 2, "TITLE", Pos(closed, "<title>"), Pos(closed, "</title>") + 7));
  EXPECT_EQ(S(tree.GetNodeTree(W(closed), W("BR"), Pos(closed, "<br/>"))), "");
  EXPECT_EQ(tree.Nodes().size(), 0u);

  // A carriage return does not end a tag name: it stays in the name.
  const char* crlf = "x <div\r\nid=a><b>y</b></div\r\n>";
  int pos = 0;
  EXPECT_EQ(S(CHtmlNodeTree::FindNextTag(W(crlf), pos)), "DIV\r");
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(S(tree.GetNodeTree(W(crlf), W("DIV\r"), 0)),
            Entry(1, -1, "DIV\r", 2, static_cast<int>(strlen(crlf)) - 1) + "|" +
                Entry(2, 1, "B", Pos(crlf, "<b>"), Pos(crlf, "</b>") + 3));
}

TEST(HtmlNodeTreeTest, ElementsByAttributeWithAndWithoutQuotesAndTokens) {
  const char* page =
      "<html><body>"
      "<div class=\"Story Text\" id=s1>A</div>"
      "<div id='s2' CLASS=story>B</div>"
      "<DIV\nclass=story>C</DIV>"
      "<div data-x=1 class = story>D</div>"
      "<span class=story>E</span>"
      "</body></html>";
  CHtmlNodeTree tree;
  tree.SetPageText(W(page));
  ASSERT_FALSE(tree.GetNodeTree(W(page), W("HTML"), 0).IsEmpty());
  // Values compared without regard to case; a quoted value keeps its space.
  EXPECT_EQ(S(tree.GetElementsByAttr(W("div"), W("class"), W("story text"))),
            Entry(3, 2, "DIV", Pos(page, "<div class"), Pos(page, ">A</div>") + 7));
  std::string story = S(tree.GetElementsByAttr(W("DIV"), W("class"), W("story")));
  // "class = story" is three pieces, none of them the attribute.
  EXPECT_EQ(story, Entry(4, 2, "DIV", Pos(page, "<div id='s2'"), Pos(page, ">B</div>") + 7) + "|" +
                       Entry(5, 2, "DIV", Pos(page, "<DIV\n"), Pos(page, ">C</DIV>") + 7));
  EXPECT_EQ(S(tree.GetElementsByAttr(W("span"), W("CLASS"), W("STORY"))).substr(0, 9), "7,2,SPAN,");
  EXPECT_EQ(S(tree.GetElementsByAttr(W("div"), W("id"), W("s2"))).substr(0, 8), "4,2,DIV,");
  EXPECT_EQ(S(tree.GetElementsByAttr(W("p"), W("class"), W("story"))), "");

  // Tokens resolve each well-formed group to page text.
  int a = Pos(page, "<div class");
  int aEnd = Pos(page, ">A</div>") + 7;
  std::string token = "x{outerHTML," + std::to_string(a) + "," + std::to_string(aEnd) + "}y{bad}{o,,}{o,0,5}";
  EXPECT_EQ(S(tree.ResolveHtmlToken(W(token.c_str()))),
            std::string(page).substr(a, aEnd - a + 1) + "<" + "<html>");
  EXPECT_EQ(S(tree.ResolveHtmlToken(W("{outerHTML,0,-1}"))), page);
}

}  // namespace
