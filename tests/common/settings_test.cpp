// Program folder, storage root and registry reads.
#include <gtest/gtest.h>

#include "common/log.h"
#include "common/settings.h"
#include "support/device_fixture.h"

namespace {

class Settings : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    SetLogEnabled(0);
  }
  void TearDown() override {
    ResetCachedPaths();
    SetLogEnabled(0);
    DeviceTest::TearDown();
  }
  static void SetInt(HKEY root, const char16_t* path, const char16_t* name, DWORD v) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
    RegCloseKey(key);
  }
  static void SetText(HKEY root, const char16_t* path, const char16_t* name, const std::u16string& v) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    if (name) {
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()), DWORD((v.size() + 1) * 2));
    }
    RegCloseKey(key);
  }
  static CString Root() {
    WCHAR buf[MAX_PATH];
    GetDataRoot(buf);
    return CString(buf);
  }
  const char16_t* kSettings = u"Software\\Marrowby\\Quillet Reach\\Settings";
};

TEST_F(Settings, ProgramFolderIsTheModuleFolder) {
  WCHAR buf[MAX_PATH];
  GetProgramFolder(buf);
  EXPECT_EQ(CString(buf), u"\\Program Files\\Quillet");
  EXPECT_EQ(Root(), u"\\Program Files\\Quillet");
}

TEST_F(Settings, StorageCardWithoutItsNameKeepsTheProgramFolder) {
  SetInt(HKEY_CURRENT_USER, kSettings, u"UseStorageCard", 1);
  EXPECT_EQ(Root(), u"\\Program Files\\Quillet");
}

TEST_F(Settings, StorageCardWithoutShellFoldersKeyUsesProgramFiles) {
  SetInt(HKEY_CURRENT_USER, kSettings, u"UseStorageCard", 1);
  SetText(HKEY_CURRENT_USER, kSettings, u"StorageCardName", u"Storage Card");
  ASSERT_TRUE(CreateDirectoryW(u"\\Storage Card", nullptr));  // the card's own folder
  EXPECT_EQ(Root(), u"\\Storage Card\\Program Files\\Quillet");
  for (const char16_t* folder : {u"\\Storage Card\\Program Files", u"\\Storage Card\\Program Files\\Quillet",
                                 u"\\Storage Card\\Program Files\\Quillet\\ChannelData"}) {
    DWORD attributes = GetFileAttributesW(folder);
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
  }
}

TEST_F(Settings, ShellFoldersKeyWithoutTheValueGivesAnEmptyProgramFiles) {
  SetInt(HKEY_CURRENT_USER, kSettings, u"UseStorageCard", 1);
  SetText(HKEY_CURRENT_USER, kSettings, u"StorageCardName", u"SD Card");
  SetText(HKEY_LOCAL_MACHINE, u"\\System\\Explorer\\Shell Folders", nullptr, u"");
  ASSERT_TRUE(CreateDirectoryW(u"\\SD Card", nullptr));
  EXPECT_EQ(Root(), u"\\SD Card\\Quillet");
  DWORD attributes = GetFileAttributesW(u"\\SD Card\\Quillet\\ChannelData");
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(Settings, ShellFoldersValueNamesTheProgramFiles) {
  SetInt(HKEY_CURRENT_USER, kSettings, u"UseStorageCard", 1);
  SetText(HKEY_CURRENT_USER, kSettings, u"StorageCardName", u"Storage Card");
  SetText(HKEY_LOCAL_MACHINE, u"System\\Explorer\\Shell Folders", u"Program Files", u"\\Programme");
  EXPECT_EQ(Root(), u"\\Storage Card\\Programme\\Quillet");
}

TEST_F(Settings, RootIsCachedUntilReset) {
  EXPECT_EQ(Root(), u"\\Program Files\\Quillet");
  SetInt(HKEY_CURRENT_USER, kSettings, u"UseStorageCard", 1);
  SetText(HKEY_CURRENT_USER, kSettings, u"StorageCardName", u"Card");
  EXPECT_EQ(Root(), u"\\Program Files\\Quillet");
  ResetCachedPaths();
  EXPECT_EQ(Root(), u"\\Card\\Program Files\\Quillet");
}

TEST_F(Settings, AnOverlongCardNameNeverOverrunsTheRoot) {
  SetInt(HKEY_CURRENT_USER, kSettings, u"UseStorageCard", 1);
  SetText(HKEY_CURRENT_USER, kSettings, u"StorageCardName", std::u16string(250, u'c'));
  CString root = Root();
  EXPECT_LT(root.GetLength(), MAX_PATH);
  EXPECT_EQ(root, u"\\Program Files\\Quillet");
}

TEST_F(Settings, FileAccessIsTrueOnlyForFiles) {
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml", "<opml/>");
  EXPECT_TRUE(FileAccess(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml"));
  EXPECT_FALSE(FileAccess(u"\\Program Files\\Quillet\\ChannelData"));
  EXPECT_FALSE(FileAccess(u"\\Program Files\\Quillet\\ChannelData\\Ch001.bin"));
  SetLogEnabled(1);
  FileAccess(u"\\x.txt");
  EXPECT_NE(ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt").find("] FileAccess: \\x.txt\n"),
            std::string::npos);
}

TEST_F(Settings, RegistryReadsChooseTheirHive) {
  SetText(HKEY_CURRENT_USER, kSettings, u"Root", u"\\Program Files\\Quillet");
  SetText(HKEY_CURRENT_USER, u"Monitor", u"Value", u"user");
  SetText(HKEY_LOCAL_MACHINE, u"Monitor", u"Value", u"machine");
  SetInt(HKEY_LOCAL_MACHINE, u"Monitor", u"Count", 9);
  CString out = u"stale";
  EXPECT_EQ(GetRegistryString(out, u"Root", u""), u"\\Program Files\\Quillet");
  EXPECT_EQ(GetRegistryString(out, u"Value", u"Monitor"), u"machine");
  EXPECT_EQ(GetRegistryString(out, u"Missing", u""), u"");
  EXPECT_EQ(GetRegistryString(out, u"Value", u"No\\Such\\Key"), u"");
  EXPECT_EQ(GetRegistryDword(u"Count", 3, u"Monitor"), 9u);
  EXPECT_EQ(GetRegistryDword(u"Count", 3, u""), 3u);
  // The read is limited to 518 bytes: a value that does not fit with its
  // terminator is not read at all; one that fits is read whole.
  SetText(HKEY_CURRENT_USER, kSettings, u"Long", std::u16string(300, u'x'));
  EXPECT_EQ(GetRegistryString(out, u"Long", u""), u"");
  SetText(HKEY_CURRENT_USER, kSettings, u"Long", std::u16string(259, u'x'));
  EXPECT_EQ(GetRegistryString(out, u"Long", u""), u"");
  SetText(HKEY_CURRENT_USER, kSettings, u"Long", std::u16string(258, u'x'));
  EXPECT_EQ(GetRegistryString(out, u"Long", u""), CString(std::u16string(258, u'x').c_str()));
}

}  // namespace
