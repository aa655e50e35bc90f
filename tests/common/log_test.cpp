// The run log and the memory log.
#include <gtest/gtest.h>

#include <regex>

#include "common/log.h"
#include "common/settings.h"
#include "support/device_fixture.h"

namespace {

class RunLog : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
  }
  void TearDown() override {
    SetLogEnabled(0);
    DeviceTest::TearDown();
  }
  std::string RunLogText() { return ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt"); }
  std::string MemLogText() { return ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_MemLog.txt"); }
};

TEST_F(RunLog, NothingIsWrittenWhileOff) {
  SetLogEnabled(0);
  WriteLog(u"CDownloader::SaveHeaders()");
  WriteLog(u"mem_display");
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\Quillet_RunLog.txt"));
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\Quillet_MemLog.txt"));
}

TEST_F(RunLog, LinesCarryTimeTicksModuleAndText) {
  qk::FreezeClock(1117629296000LL, 4321);  // 12:34:56 UTC
  qk::SetTimeZoneOffset(-10 * 60);
  SetLogEnabled(1);
  WriteLog(u"CDownloader::SaveHeaders()");
  WriteLog(u"two\nlines é");
  WriteLog(nullptr);
  std::string text = RunLogText();
  std::regex line(R"(\[02:34:56 00004321\(([0-9a-f]{8})\)\] CDownloader::SaveHeaders\(\)
\[02:34:56 00004321\(\1\)\] two
lines \xC3\xA9
)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(RunLog, LargeTickCountsPrintWhole) {
  qk::FreezeClock(0, 3000000000ull);
  SetLogEnabled(1);
  WriteLog(u"x");
  EXPECT_NE(RunLogText().find(" 3000000000("), std::string::npos) << RunLogText();
  qk::FreezeClock(0, 123456789);
  WriteLog(u"y");
  EXPECT_NE(RunLogText().find(" 123456789("), std::string::npos);
}

TEST_F(RunLog, MemoryLineGoesToItsOwnFile) {
  SetLogEnabled(1);
  WriteLog(u"mem_display");
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\Quillet_RunLog.txt"));
  std::regex line(R"(AvailPhys: \d+; AvailPageFile: \d+; AvailVirtual: \d+\.
)");
  EXPECT_TRUE(std::regex_match(MemLogText(), line)) << MemLogText();
  WriteLog(u"mem_display ");  // not exactly the special text
  EXPECT_FALSE(RunLogText().empty());
}

TEST_F(RunLog, CancelScheduledWaitSignalsTheWaitAndRaisesTheFlag) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  SetScheduledWaitEvent(event);
  EXPECT_FALSE(IsScheduledWaitCancelled());
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CancelScheduledWait();
  EXPECT_TRUE(IsScheduledWaitCancelled());
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  SetScheduledWaitEvent(nullptr);
  CloseHandle(event);
}

}  // namespace
