// The viewer's style sheet: every element's display and the look of an
// article for reading on a small screen: one sans face at the reader's
// size, generous line height, clear headings, links in blue, quotes set
// off by a rule, code in a fixed-width face. Sizes are in em so that the
// zoom level (the default font size) scales the whole page.
#include "htmlview/htmlview.h"

namespace qk::htmlview {

const char* ArticleStyleSheet() {
  return R"css(
html, address, blockquote, body, dd, div, dl, dt, fieldset, form, frame, frameset,
h1, h2, h3, h4, h5, h6, noframes, ol, p, ul, center, dir, hr, menu, pre,
article, aside, figure, figcaption, footer, header, main, nav, section, details, summary {
  display: block;
}
head, script, style, link, meta, title, noscript, template, iframe, object, embed, applet,
param, base, basefont, input[type="hidden"], area, map, audio, video, canvas, svg {
  display: none;
}
html { background-color: #ffffff; color: #1c1c1c; }
body {
  margin: 0.5em 0.6em 0.8em 0.6em;
  font-family: Tahoma;
  line-height: 1.35;
  color: #1c1c1c;
}
p { margin: 0 0 0.75em 0; }
h1, h2, h3, h4, h5, h6 { font-weight: bold; color: #111111; line-height: 1.2; }
h1 { font-size: 1.45em; margin: 0.3em 0 0.5em 0; }
h2 { font-size: 1.25em; margin: 0.8em 0 0.4em 0; }
h3 { font-size: 1.1em; margin: 0.8em 0 0.35em 0; }
h4, h5, h6 { font-size: 1em; margin: 0.7em 0 0.3em 0; }
a { color: #1a5fb4; text-decoration: underline; }
b, strong { font-weight: bold; }
i, em, cite, var, dfn { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
small { font-size: 0.85em; }
big { font-size: 1.15em; }
sub { vertical-align: sub; font-size: 0.8em; }
sup { vertical-align: super; font-size: 0.8em; }
span, font, abbr, acronym, label, q, kbd, samp, tt, code, mark, time, bdi, bdo { display: inline; }
code, kbd, samp, tt { font-family: monospace; font-size: 0.9em; }
pre {
  font-family: monospace; font-size: 0.85em; white-space: pre;
  background-color: #f2f2f2; padding: 0.4em; margin: 0 0 0.75em 0;
}
mark { background-color: #fff2a8; }
blockquote {
  margin: 0 0 0.75em 0.2em; padding: 0 0 0 0.6em;
  border-left: 3px solid #c8c8c8; color: #444444;
}
center { text-align: center; }
hr { border-top: 1px solid #c8c8c8; margin: 0.6em 0 0.6em 0; height: 0; }
ul, ol, menu, dir { margin: 0 0 0.75em 0; padding-left: 1.5em; }
ul { list-style-type: disc; }
ul ul { list-style-type: circle; }
ol { list-style-type: decimal; }
li { display: list-item; margin-bottom: 0.25em; }
dl { margin: 0 0 0.75em 0; }
dt { font-weight: bold; }
dd { margin-left: 1.2em; }
img { display: inline-block; border: 0; }
figure { margin: 0 0 0.75em 0; }
figcaption { font-size: 0.85em; color: #555555; }
table { display: table; border-collapse: separate; border-spacing: 2px; margin: 0 0 0.75em 0; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
td, th { display: table-cell; padding: 2px 4px; vertical-align: top; }
th { font-weight: bold; text-align: left; }
caption { display: table-caption; text-align: center; }
col { display: table-column; }
colgroup { display: table-column-group; }
br { display: block; }
wbr { display: inline; }
input, select, textarea, button { display: inline-block; }
textarea { white-space: pre; }
)css";
}

}  // namespace qk::htmlview
