// CFile over device files, and the application profile in the registry.
#include <gtest/gtest.h>

#include "framework/afx.h"
#include "support/device_fixture.h"

namespace {

class FrameworkDevice : public qtest::DeviceTest {};

TEST_F(FrameworkDevice, FilesReadWriteAndThrowOnFailure) {
  CreateDirectoryW(u"\\ChannelData", nullptr);
  CFile f;
  ASSERT_TRUE(f.Open(u"\\ChannelData\\Ch100.bin", CFile::modeCreate | CFile::modeReadWrite));
  f.Write("0123456789", 10);
  EXPECT_EQ(f.GetLength(), 10u);
  f.Seek(-4, CFile::end);
  char buf[8] = {0};
  EXPECT_EQ(f.Read(buf, 8), 4u);
  EXPECT_STREQ(buf, "6789");
  f.SetLength(3);
  f.Close();
  EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\Ch100.bin"), "012");

  // modeNoTruncate keeps what is there.
  ASSERT_TRUE(f.Open(u"\\channeldata\\CH100.BIN", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
  f.SeekToEnd();
  f.Write("3", 1);
  f.Close();
  EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\Ch100.bin"), "0123");

  CFileException error;
  EXPECT_FALSE(f.Open(u"\\ChannelData\\missing.bin", CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  WCHAR message[256];
  error.GetErrorMessage(message, 256);
  EXPECT_NE(CString(message).Find(u"missing.bin"), -1);

  bool thrown = false;
  try {
    CFile::Remove(u"\\ChannelData\\missing.bin");
  } catch (CFileException* e) {
    thrown = true;
    EXPECT_EQ(e->m_cause, CFileException::fileNotFound);
    e->Delete();
  }
  EXPECT_TRUE(thrown);
}

TEST_F(FrameworkDevice, ProfileSettingsLiveUnderTheCompanyKey) {
  CWinApp app(u"Quillet Reach");
  app.SetRegistryKey(u"Marrowby");
  EXPECT_EQ(AfxGetApp(), &app);
  EXPECT_EQ(app.GetProfileInt(u"Settings", u"ArticlesNumber", 50), 50u);
  EXPECT_EQ(app.GetProfileString(u"Settings", u"Language", u"none"), u"none");
  EXPECT_TRUE(app.WriteProfileInt(u"Settings", u"ArticlesNumber", 120));
  EXPECT_TRUE(app.WriteProfileString(u"Ventrel", u"Username", u"reader@example.org"));
  EXPECT_EQ(app.GetProfileInt(u"settings", u"articlesnumber", 50), 120u);
  EXPECT_EQ(app.GetProfileString(u"Ventrel", u"Username"), u"reader@example.org");

  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD v = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"ArticlesNumber", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_DWORD));
  EXPECT_EQ(v, 120u);
  RegCloseKey(key);

  // A string where a number is expected reads as the default.
  EXPECT_EQ(app.GetProfileInt(u"Ventrel", u"Username", 7), 7u);
  EXPECT_TRUE(app.WriteProfileString(u"Ventrel", u"Username", nullptr));
  EXPECT_EQ(app.GetProfileString(u"Ventrel", u"Username", u"gone"), u"gone");
  EXPECT_TRUE(app.WriteProfileString(u"Ventrel", nullptr, nullptr));
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Ventrel", 0, KEY_READ, &key),
            ERROR_SUCCESS);
}

}  // namespace
