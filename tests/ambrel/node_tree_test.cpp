// The forgiving HTML scanner over pages written for the tests.
#include <gtest/gtest.h>

#include <string>

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
