// The OPML file dialog in the reader's real SDL window on a virtual X server
// (Xvfb), reached by a click on the wizard's "Import OPML file": its folder
// icons as the X server shows them sit on the white list as their shapes,
// with no dark square around them.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "support/device_fixture.h"
#include "support/remote_program.h"
#include "user/user.h"
#include "window_grab.h"
#include "xwindow_fixture.h"

namespace {

using qtest::Text;

using Grab = qtest::WindowPixels;

struct Box {
  int left, top, right, bottom;  // right and bottom exclusive
};

class FileDialogIconsTest : public qtest::XWindowTest {
 protected:
  Grab GrabWindow() { return qtest::GrabWindow(display_, window_); }
};

// The folder icon's face colour; each icon is the box of its face pixels,
// told apart from the next row's by a gap of rows without any.
std::vector<Box> FolderFaces(const Grab& g) {
  constexpr uint32_t kFace = 0xF2C14E;
  std::vector<Box> boxes;
  int lastRow = -100;
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width / 3; ++x) {
      if (g.At(x, y) != kFace) continue;
      if (y > lastRow + 4) boxes.push_back({x, y, x + 1, y + 1});
      Box& b = boxes.back();
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x + 1);
      b.bottom = y + 1;
      lastRow = y;
    }
  return boxes;
}

bool Dark(uint32_t c) { return ((c >> 16) & 0xFF) < 64 && ((c >> 8) & 0xFF) < 64 && (c & 0xFF) < 64; }

}  // namespace

TEST_F(FileDialogIconsTest, FolderIconsSitOnTheWhiteListWithoutASquare) {
  WriteDeviceFile(u"\\My Documents\\Feeds\\channels.opml", "<opml version=\"1.0\"><body/></opml>");
  Start("");
  ASSERT_TRUE(q_.Advance(200));  // no channel list yet: the welcome page
  ASSERT_TRUE(Until([&] { return Text(q_.ActiveWindow()) == "Quillet Reach" && q_.ActiveWindow() != q_.Window(); }));
  const HWND welcome = q_.ActiveWindow();
  Key("Escape");  // on to the wizard
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != welcome && Text(q_.ActiveWindow()) == "Quillet Reach"; }));
  const HWND wizard = q_.ActiveWindow();
  Click(240, 442);  // "Import OPML file"
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard && Text(q_.ActiveWindow()) == "Import OPML file"; }))
      << Text(q_.ActiveWindow());
  // The dialog lists the device's folders, each with its icon.
  Grab g;
  std::vector<Box> faces;
  ASSERT_TRUE(Until([&] {
    g = GrabWindow();
    faces = FolderFaces(g);
    return faces.size() >= 2;
  })) << faces.size() << " folder icons shown";
  for (const Box& face : faces) {
    // Around the face by three pixels (inside the icon's square, clear of
    // the name beside it) nothing is dark, and the square's corners are
    // the list's white.
    const Box around = {face.left - 3, face.top - 3, face.right + 3, face.bottom + 3};
    ASSERT_GE(around.left, 0);
    int dark = 0;
    for (int y = around.top; y < around.bottom; ++y)
      for (int x = around.left; x < around.right; ++x) dark += Dark(g.At(x, y));
    EXPECT_EQ(dark, 0) << "around the icon at " << face.left << ", " << face.top;
    for (auto [x, y] : {std::pair{around.left, around.top}, std::pair{around.right - 1, around.top},
                        std::pair{around.left, around.bottom - 1}, std::pair{around.right - 1, around.bottom - 1}})
      EXPECT_EQ(g.At(x, y), 0xFFFFFFu) << "corner " << x << ", " << y;
  }
  Key("Escape");
  EXPECT_TRUE(Until([&] { return q_.ActiveWindow() == wizard; }));
}
