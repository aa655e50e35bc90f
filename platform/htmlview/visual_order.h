// Right-to-left text in the viewer's lines. The layout places the boxes
// of a line (a word with the space after it, a blank, an ideograph) from
// the left in the order the text is written, which is right only for
// left-to-right text. After each layout, the lines that hold right-to-left
// text, or belong to a right-to-left paragraph, are ordered for showing
// by the bidirectional algorithm run over the whole line: each box is cut
// where the direction of its characters changes, and the pieces are laid
// out within the line's span in the order they are seen, a right-to-left
// piece drawn as such (so a word's trailing space lands between it and
// the next word, whichever side that is). A paragraph's direction is its
// own or nearest ancestor's dir attribute, else that of its first strong
// character; a right-to-left paragraph whose alignment the page leaves
// alone lines up at the right. The layout itself stays as it was: the
// pieces are drawn where they are shown, and a tap on a piece is taken to
// the box it came from. Lines of left-to-right text alone in left-to-right
// paragraphs are left untouched, and a page with no right-to-left text
// (nor a "rtl" anywhere) is not even looked over. Internal to the viewer.
#pragma once

#include <litehtml/litehtml.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace qk::htmlview {

// True when the text may need ordering: it has a right-to-left character
// or names "rtl" (any case), as a dir attribute would.
bool MayNeedVisualOrder(const std::u16string& source);

class VisualOrder {
 public:
  // A piece of a box's text: bytes [start, start + length) of its UTF-8
  // text, drawn with its left edge at x (page coordinates), right to left
  // when rtl.
  struct Piece {
    uint32_t start = 0, length = 0;
    int x = 0;
    bool rtl = false;
  };
  struct Box {
    std::string text;  // the text it was planned for
    std::vector<Piece> pieces;
  };

  using Measure = std::function<int(const std::string& text, litehtml::uint_ptr font)>;

  // Plans the lines of a document just laid out (see above); measure gives
  // the width of text in a font as the layout measures it.
  void Plan(const litehtml::element::ptr& root, const Measure& measure);
  void Clear();
  bool Empty() const { return boxes_.empty(); }

  // The plan of the text box laid out at (x, y) (page coordinates) whose
  // text is this one (its length); null when it is drawn as laid out.
  const Box* Find(int x, int y, const char* text) const;

  // The point of the layout under the point (x, y) of the page as shown:
  // on a piece, a point of the box it came from; elsewhere on an ordered
  // line, a point left of the page; elsewhere the point itself.
  void ToLayout(int& x, int y) const;

 private:
  struct Hit {
    int left, top, right, bottom;  // where a piece is shown
    int x;                         // a point of its box as laid out
  };
  struct Band {
    int left, top, right, bottom;  // an ordered line, laid out and shown
  };
  friend class LinePlanner;
  static uint64_t Key(int x, int y) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32) | static_cast<uint32_t>(y);
  }
  std::unordered_map<uint64_t, Box> boxes_;
  std::vector<Hit> hits_;
  std::vector<Band> bands_;
};

}  // namespace qk::htmlview
