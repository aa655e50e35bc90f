// The fixture of real-window tests that watch the pointer's cursor over the
// reader's window: the real window on a virtual X server (XWindowTest),
// nginx on a document root of its own, a desktop without a cursor theme and
// a cursor probe open on the X server. The test's target builds
// cursor_probe.cpp and defines QUILLET_EXE.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "support/http_server.h"
#include "support/net_servers.h"
#include "cursor_probe.h"
#include "xwindow_fixture.h"

namespace qtest {

class CursorSessionTest : public XWindowTest {
 protected:
  // docrootName names the document root's temporary folder.
  explicit CursorSessionTest(std::string docrootName) : docrootName_(std::move(docrootName)) {}

  void SetUp() override {
    XWindowTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    docroot_ = qnet::MakeTempFolder(docrootName_);
    ASSERT_TRUE(nginx_.Start(docroot_));
    // A desktop without a cursor theme: its cursors are the cursor font's,
    // each one still image (a theme's wait cursor is animated, a new image
    // many times a second), for the reader and the probe alike.
    std::filesystem::create_directories(Host(u"\\") + "/no-cursor-themes");
    setenv("XCURSOR_PATH", (Host(u"\\") + "/no-cursor-themes").c_str(), 1);
    ASSERT_TRUE(probe_.Open(display_));
  }
  void TearDown() override {
    probe_.Close();
    XWindowTest::TearDown();
    unsetenv("XCURSOR_PATH");
    nginx_.Stop();
    if (!docroot_.empty()) qnet::RemoveTree(docroot_);
  }

  static constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";

  std::string docroot_;
  NginxServer nginx_;
  CursorProbe probe_;

 private:
  std::string docrootName_;
};

}  // namespace qtest
