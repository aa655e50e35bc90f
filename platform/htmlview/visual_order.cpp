// Right-to-left text in the viewer's lines (see visual_order.h).
#include "htmlview/visual_order.h"

#include <fribidi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "htmlview/text_boxes.h"

namespace qk::htmlview {

namespace {

bool IsRtlUnit(char16_t c) {
  return (c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFE) ||
         c == 0x200F || c == 0x202B || c == 0x202E || c == 0x2067 ||  // right-to-left mark, embedding, override, isolate
         c == 0xD802 || c == 0xD803 || c == 0xD83A || c == 0xD83B;   // the right-to-left supplementary blocks
}

// A character reference (after "&#") that names a right-to-left character.
bool IsRtlReference(const std::u16string& s, size_t i) {
  bool hex = i < s.size() && (s[i] == u'x' || s[i] == u'X');
  if (hex) ++i;
  uint32_t v = 0;
  size_t digits = 0;
  for (; i < s.size() && digits < 8; ++i, ++digits) {
    char16_t c = s[i];
    int d = c >= u'0' && c <= u'9' ? c - u'0'
            : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
            : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10
                                            : -1;
    if (d < 0) break;
    v = v * (hex ? 16 : 10) + static_cast<uint32_t>(d);
  }
  if (digits == 0) return false;
  if (v >= 0x10000) return (v >= 0x10800 && v <= 0x10FFF) || (v >= 0x1E800 && v <= 0x1EFFF);
  return IsRtlUnit(static_cast<char16_t>(v));
}

bool EqualsNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != *b) return false;
  return *a == 0 && *b == 0;
}

// A box of a line: a text box, or a box the text flows around (a picture,
// an inline block), which stays where it was laid out.
struct Item {
  bool text = false;
  std::string str;
  litehtml::uint_ptr font = 0;
  int x = 0, y = 0;                           // a text box's place as laid out
  int left = 0, top = 0, right = 0, bottom = 0;  // the room it takes
};
using Line = std::vector<Item>;

// The text of a box as code points for the bidirectional algorithm, each
// with the byte it starts at; blanks count as spaces, as they are laid
// out (a new line in preformatted text ends a line box of its own).
void Decode(const std::string& s, std::vector<FriBidiChar>& out, std::vector<uint32_t>& at) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  for (const auto* q = p; q < end;) {
    uint32_t cp = *q;
    int len = IsBlank(*q) ? 1 : Utf8Char(q, end, &cp);
    out.push_back(IsBlank(*q) ? ' ' : cp);
    at.push_back(static_cast<uint32_t>(q - p));
    q += len;
  }
}

bool IsRtlType(FriBidiCharType t) { return FRIBIDI_IS_RTL(t) || t == FRIBIDI_TYPE_AN; }

}  // namespace

bool MayNeedVisualOrder(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c < 0x80) {
      if (c == u'&' && i + 1 < s.size() && s[i + 1] == u'#' && IsRtlReference(s, i + 2)) return true;
      if ((c | 0x20) == u'r' && i + 2 < s.size() && (s[i + 1] | 0x20) == u't' && (s[i + 2] | 0x20) == u'l')
        return true;  // "rtl", as a dir attribute would say
      if (c == u'&' && i + 4 < s.size() && (s[i + 1] | 0x20) == u'r' && (s[i + 2] | 0x20) == u'l' &&
          (s[i + 3] | 0x20) == u'm' && s[i + 4] == u';')
        return true;  // the right-to-left mark by name
      continue;
    }
    if (IsRtlUnit(c)) return true;
  }
  return false;
}

// Gathers the lines of each block of a document, then orders those that
// need it into the plan.
class LinePlanner {
 public:
  LinePlanner(VisualOrder& plan, const VisualOrder::Measure& measure) : plan_(plan), measure_(measure) {}

  // A block at (x, y) of the page: its own lines, and those of the blocks
  // inside it.
  void Block(const litehtml::element::ptr& el, int x, int y) {
    std::vector<Line> lines(1);
    for (size_t i = 0, n = el->get_children_count(); i < n; ++i) Visit(el->get_child(static_cast<int>(i)), x, y, lines);
    Finish(el, x, lines);
  }

 private:
  // An element inside a block whose content box is at (px, py).
  void Visit(const litehtml::element::ptr& el, int px, int py, std::vector<Line>& lines) {
    if (!el || el->skip()) return;
    const litehtml::style_display display = el->get_display();
    if (display == litehtml::display_none) return;
    const litehtml::position& pos = el->get_position();
    const int x = px + pos.x, y = py + pos.y;
    if (display == litehtml::display_inline_text) {
      Item item;
      item.text = true;
      el->get_text(item.str);
      item.font = el->get_font();
      item.x = item.left = x;
      item.y = item.top = y;
      item.right = x + pos.width;
      item.bottom = y + pos.height;
      Add(lines, std::move(item));
      return;
    }
    if (display == litehtml::display_inline && !el->is_replaced()) {
      for (size_t i = 0, n = el->get_children_count(); i < n; ++i) Visit(el->get_child(static_cast<int>(i)), x, y, lines);
      return;
    }
    if (display == litehtml::display_inline || display == litehtml::display_inline_block ||
        display == litehtml::display_inline_table) {
      Item item;
      item.left = px + el->left();
      item.right = px + el->right();
      item.top = py + el->top();
      item.bottom = py + el->bottom();
      Add(lines, std::move(item));
    } else if (!lines.back().empty()) {
      lines.emplace_back();  // a block between lines of text
    }
    Block(el, x, y);
  }

  // Boxes come in the order of the text; a box that does not follow the
  // one before it on its right, at its height, starts the next line.
  static void Add(std::vector<Line>& lines, Item item) {
    if (!lines.back().empty()) {
      const Item& prev = lines.back().back();
      if (item.left < prev.right - 1 || item.top >= prev.bottom || item.bottom <= prev.top) lines.emplace_back();
    }
    lines.back().push_back(std::move(item));
  }

  // The direction of a block's paragraph: a dir attribute of it or its
  // nearest ancestor with one, else its first strong character.
  static bool RightToLeft(const litehtml::element::ptr& block, const std::vector<Line>& lines) {
    int depth = 0;
    for (litehtml::element::ptr e = block; e && depth < 1000; e = e->parent(), ++depth) {
      const char* dir = e->get_attr("dir");
      if (!dir) continue;
      if (EqualsNoCase(dir, "rtl")) return true;
      if (EqualsNoCase(dir, "ltr")) return false;
      break;  // "auto": as its text goes
    }
    for (const Line& line : lines)
      for (const Item& item : line) {
        const auto* p = reinterpret_cast<const unsigned char*>(item.str.data());
        const auto* end = p + item.str.size();
        while (p < end) {
          uint32_t cp = 0;
          p += Utf8Char(p, end, &cp);
          FriBidiCharType t = fribidi_get_bidi_type(cp);
          if (FRIBIDI_IS_LETTER(t)) return FRIBIDI_IS_RTL(t);
        }
      }
    return false;
  }

  static bool HasRtl(const Line& line) {
    for (const Item& item : line) {
      const auto* p = reinterpret_cast<const unsigned char*>(item.str.data());
      const auto* end = p + item.str.size();
      while (p < end) {
        if (*p < 0x80) {
          ++p;
          continue;
        }
        uint32_t cp = 0;
        p += Utf8Char(p, end, &cp);
        if (IsRtlType(fribidi_get_bidi_type(cp))) return true;
      }
    }
    return false;
  }

  // Orders the lines of a block whose content box starts at x.
  void Finish(const litehtml::element::ptr& block, int x, const std::vector<Line>& lines) {
    bool any = false;
    for (const Line& line : lines)
      for (const Item& item : line) any = any || item.text;
    if (!any) return;
    const bool rtl = RightToLeft(block, lines);
    // A paragraph's alignment left as it comes (the layout knows only
    // left) starts at its right when it is right-to-left.
    const bool toRight = rtl && block->get_style_property("text-align", true, nullptr) == nullptr;
    const int right = x + block->get_position().width;
    for (const Line& line : lines) {
      if (line.empty() || (!rtl && !HasRtl(line))) continue;
      // Boxes the text flows around stay; the text between them is
      // ordered on its own.
      bool around = std::any_of(line.begin(), line.end(), [](const Item& i) { return !i.text; });
      int shift = toRight && !around ? std::max(0, right - line.back().right) : 0;
      size_t from = 0;
      while (from < line.size()) {
        while (from < line.size() && !line[from].text) ++from;
        size_t to = from;
        while (to < line.size() && line[to].text) ++to;
        if (to > from) Order(line, from, to, rtl, shift);
        from = to;
      }
    }
  }

  // One piece of a box: its bytes, the room it takes in the line, the
  // width of its glyphs and its place.
  struct Run {
    size_t item;
    uint32_t start, end;
    bool rtl;
    int room = 0, glyphs = 0, x = 0;
  };

  // Orders the text boxes [from, to) of a line within the room they take,
  // moved right by shift.
  void Order(const Line& line, size_t from, size_t to, bool rtl, int shift) {
    std::vector<FriBidiChar> str;
    std::vector<uint32_t> at, owner;
    for (size_t i = from; i < to; ++i) {
      size_t before = str.size();
      Decode(line[i].str, str, at);
      owner.resize(str.size(), static_cast<uint32_t>(i));
      if (str.size() == before) return;  // an empty box: left as laid out
    }
    const auto len = static_cast<FriBidiStrIndex>(str.size());
    if (len == 0) return;
    std::vector<FriBidiCharType> types(str.size());
    std::vector<FriBidiBracketType> brackets(str.size());
    std::vector<FriBidiLevel> levels(str.size());
    std::vector<FriBidiStrIndex> map(str.size());
    fribidi_get_bidi_types(str.data(), len, types.data());
    fribidi_get_bracket_types(str.data(), len, types.data(), brackets.data());
    FriBidiParType base = rtl ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
    if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), len, &base, levels.data())) return;
    for (FriBidiStrIndex i = 0; i < len; ++i) map[static_cast<size_t>(i)] = i;
    if (!fribidi_reorder_line(FRIBIDI_FLAGS_DEFAULT, types.data(), len, 0, base, levels.data(), nullptr, map.data()))
      return;

    // Each box cut where the level of its characters changes.
    std::vector<Run> runs;
    std::vector<uint32_t> runOf(str.size());
    for (size_t c = 0; c < str.size(); ++c) {
      if (c == 0 || owner[c] != owner[c - 1] || levels[c] != levels[c - 1])
        runs.push_back({owner[c], at[c], 0, (levels[c] & 1) != 0});
      runOf[c] = static_cast<uint32_t>(runs.size() - 1);
    }
    for (size_t r = 0; r < runs.size(); ++r) {
      const bool last = r + 1 == runs.size() || runs[r + 1].item != runs[r].item;
      runs[r].end = last ? static_cast<uint32_t>(line[runs[r].item].str.size()) : runs[r + 1].start;
    }
    // A box keeps its room, with any gap before the next box: its last
    // piece takes what the others leave.
    for (size_t r = 0, first = 0; r < runs.size(); ++r) {
      Run& run = runs[r];
      const Item& item = line[run.item];
      const bool whole = run.start == 0 && run.end == item.str.size();
      run.glyphs = whole ? item.right - item.left : measure_(item.str.substr(run.start, run.end - run.start), item.font);
      if (r + 1 == runs.size() || runs[r + 1].item != run.item) {
        int room = (run.item + 1 < to ? line[run.item + 1].left : item.right) - item.left;
        for (size_t k = first; k < r; ++k) room -= runs[k].room;
        run.room = std::max(0, room);
        first = r + 1;
      } else {
        run.room = run.glyphs;
      }
    }
    // The pieces in the order they are seen, from the left of the room.
    std::vector<uint32_t> order;
    std::vector<bool> placed(runs.size(), false);
    for (FriBidiStrIndex v = 0; v < len; ++v) {
      uint32_t r = runOf[static_cast<size_t>(map[static_cast<size_t>(v)])];
      if (!placed[r]) {
        placed[r] = true;
        order.push_back(r);
      }
    }
    bool moved = shift != 0;
    for (size_t k = 0; k < order.size(); ++k) moved = moved || order[k] != k || runs[order[k]].rtl;
    if (!moved) return;  // shown as laid out
    VisualOrder::Band band{line[from].left, line[from].top, line[to - 1].right + shift, line[from].bottom};
    for (size_t i = from; i < to; ++i) {
      band.top = std::min(band.top, line[i].top);
      band.bottom = std::max(band.bottom, line[i].bottom);
    }
    plan_.bands_.push_back(band);
    int pen = line[from].left + shift;
    for (uint32_t r : order) {
      runs[r].x = pen;
      pen += runs[r].room;
    }
    for (const Run& run : runs) {
      const Item& item = line[run.item];
      VisualOrder::Box& box = plan_.boxes_[VisualOrder::Key(item.x, item.y)];
      if (box.text != item.str) box = VisualOrder::Box{item.str, {}};
      // A right-to-left piece ends at the right of its room.
      int x = run.rtl ? run.x + run.room - run.glyphs : run.x;
      box.pieces.push_back({run.start, run.end - run.start, x, run.rtl});
      plan_.hits_.push_back({run.x, item.top, run.x + run.room, item.bottom, item.left + (item.right - item.left) / 2});
    }
  }

  VisualOrder& plan_;
  const VisualOrder::Measure& measure_;
};

void VisualOrder::Plan(const litehtml::element::ptr& root, const Measure& measure) {
  Clear();
  if (!root) return;
  const litehtml::position& pos = root->get_position();
  LinePlanner(*this, measure).Block(root, pos.x, pos.y);
}

void VisualOrder::Clear() {
  boxes_.clear();
  hits_.clear();
  bands_.clear();
}

const VisualOrder::Box* VisualOrder::Find(int x, int y, const char* text) const {
  // The text drawn may be the box's text with its case changed (a page's
  // text-transform): its pieces are kept where their bytes are.
  auto it = boxes_.find(Key(x, y));
  if (it == boxes_.end() || !text || it->second.text.size() != std::strlen(text)) return nullptr;
  return &it->second;
}

void VisualOrder::ToLayout(int& x, int y) const {
  for (const Hit& h : hits_)
    if (x >= h.left && x < h.right && y >= h.top && y < h.bottom) {
      x = h.x;
      return;
    }
  for (const Band& b : bands_)
    if (x >= b.left && x < b.right && y >= b.top && y < b.bottom) {
      x = -1;
      return;
    }
}

}  // namespace qk::htmlview
