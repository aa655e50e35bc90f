// The fixture of tests that run the reader's own windows in this process: a
// device, the reader's resources and app, its 480x800 main frame over a
// channel list file the test writes, and message boxes answered by the test
// (recorded in boxes_ as "caption: text" lines unless the test answers them
// itself). Header only: the targets that use it link the reader's screens,
// which the test support library does not.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/settings.h"
#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "quillet/res/resources.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "user/user.h"

namespace qtest {

class ReaderFrameTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    RegisterQuilletResources();
  }
  void TearDown() override {
    qk::SetMessageBoxHook(nullptr);
    frame_.reset();
    app_.reset();
    qk::shell::ResetShell();
    if (!touch_) SetTouchFlag(TRUE);
    ResetCachedPaths();
    DeviceTest::TearDown();
  }

  // Starts the reader (without touch when touch is false), writes the
  // channel list file with the bytes, answers message boxes through Answer,
  // creates the main frame and loads the list into its channel list. The
  // caller checks HasFatalFailure().
  void StartReader(const char16_t* list, const std::string& channels, bool touch = true) {
    touch_ = touch;
    if (!touch) SetTouchFlag(FALSE);
    app_ = std::make_unique<CReaderApp>();
    WriteDeviceFile(list, channels);
    qk::SetMessageBoxHook([this](HWND, const std::u16string& text, const std::u16string& caption, UINT) {
      return Answer(text, caption);
    });
    frame_ = std::make_unique<CMainFrame>();
    ASSERT_TRUE(frame_->Create(480, 800));
    ASSERT_TRUE(frame_->ChannelListWnd().Dialog().LoadChannelList(list));
  }

  // A message box: recorded and answered OK.
  virtual int Answer(const std::u16string& text, const std::u16string& caption) {
    boxes_ += qk::ToUtf8(caption) + ": " + qk::ToUtf8(text) + "\n";
    return IDOK;
  }

  // The channel list the frame shows.
  COpmlXML* List() { return frame_->ChannelListWnd().Dialog().m_pOpml; }

  std::unique_ptr<CReaderApp> app_;
  std::unique_ptr<CMainFrame> frame_;
  std::string boxes_;

 private:
  bool touch_ = true;
};

}  // namespace qtest
