// The fixture of the HTML viewer's tests in this process: a device with the
// touch screen (480 x 800) connected, and a viewer filling a host window
// that answers the viewer's image requests and records its notifications
// (htmltest::Hosted()); the pictures the test gives the host are deleted
// after the test.
#pragma once

#include <gtest/gtest.h>

#include "article_support.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "htmlview/htmlview.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/user.h"

namespace htmltest {

class ViewTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
    ASSERT_TRUE(InitHTMLControl(nullptr));
    Hosted() = HostState{};
    host_ = qtest::CreateHostWindow(u"HtmlHost", HostProc, 480, 800, u"", WS_VISIBLE);
    ASSERT_NE(host_, nullptr);
    view_ = CreateWindowExW(0, DISPLAYCLASS, u"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 480, 800, host_,
                            reinterpret_cast<HMENU>(12321), nullptr, nullptr);
    ASSERT_NE(view_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(host_);
    for (auto& [name, bm] : Hosted().pictures) DeleteObject(bm);
    Hosted() = HostState{};
    qk::PumpMessages();
    qtest::DeviceTest::TearDown();
  }

  // Gives the viewer a page the way the host dialog does: clear, add, end
  // (the messages the viewer posts itself are left in the queue).
  void Send(const std::u16string& html) {
    SendMessageW(view_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
    SendMessageW(view_, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(html.c_str()));
    SendMessageW(view_, DTM_ENDOFSOURCE, 0, 0);
  }
  // The height of the page as laid out so far.
  int Height() { return static_cast<int>(SendMessageW(view_, DTM_LAYOUTHEIGHT, 0, 0)); }
  // The viewer's inner window, which draws the page.
  HWND Inner() { return GetWindow(view_, GW_CHILD); }

  HWND host_ = nullptr;
  HWND view_ = nullptr;
};

}  // namespace htmltest
