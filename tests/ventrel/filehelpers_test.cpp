// File and text helpers on a device root of their own.
#include <gtest/gtest.h>

#include "support/device_fixture.h"
#include "ventrel/filehelpers.h"

namespace {

class FileHelpersTest : public qtest::DeviceTest {};

TEST_F(FileHelpersTest, FolderPathsAreMadeAndRemoved) {
  ASSERT_TRUE(CreateFolderPath(u"\\Data\\a\\b\\file.txt"));
  EXPECT_TRUE(IsFolder(u"\\Data\\a\\b"));
  EXPECT_FALSE(IsFolder(u"\\Data\\a\\b\\file.txt"));
  WriteDeviceFile(u"\\Data\\a\\b\\file.txt", "x");
  EXPECT_TRUE(FileExists(u"\\Data\\a\\b\\file.txt"));
  RemoveEmptyParents(u"\\Data\\a\\b\\file.txt", u"\\DATA");  // b holds a file: nothing goes
  EXPECT_TRUE(IsFolder(u"\\Data\\a\\b"));
  DeleteFileW(u"\\Data\\a\\b\\file.txt");
  RemoveEmptyParents(u"\\Data\\a\\b\\file.txt", u"\\DATA");
  EXPECT_FALSE(IsFolder(u"\\Data\\a"));
  EXPECT_TRUE(IsFolder(u"\\Data"));

  CreateFolderPath(u"\\Tree\\x\\y\\");
  WriteDeviceFile(u"\\Tree\\x\\y\\f1", "1");
  WriteDeviceFile(u"\\Tree\\f2", "2");
  EXPECT_TRUE(DeleteFolderTree(u"\\Tree"));
  EXPECT_FALSE(DeviceFileExists(u"\\Tree"));
}

TEST_F(FileHelpersTest, WriteTimesAndShortcuts) {
  FILETIME stored = {0, 0};
  EXPECT_FALSE(UpdateFileWriteTime(u"\\missing", stored));
  WriteDeviceFile(u"\\w.txt", "1");
  EXPECT_TRUE(UpdateFileWriteTime(u"\\w.txt", stored));
  EXPECT_FALSE(UpdateFileWriteTime(u"\\w.txt", stored));
  DeleteFileW(u"\\w.txt");
  EXPECT_TRUE(UpdateFileWriteTime(u"\\w.txt", stored));
  EXPECT_EQ(stored.dwLowDateTime | stored.dwHighDateTime, 0u);

  WriteDeviceFile(u"\\Start\\One.lnk", "");
  WriteDeviceFile(u"\\Start\\Games\\Two.lnk", "");
  WriteDeviceFile(u"\\Start\\readme.txt", "");
  FILE* f = _wfopen(u"\\list.txt", u"w");
  ASSERT_NE(f, nullptr);
  ListShortcuts(u"\\Start", f);
  fclose(f);
  EXPECT_EQ(ReadDeviceFile(u"\\list.txt"), "One.lnk|\\Start\\One.lnk\nTwo.lnk|\\Start\\Games\\Two.lnk\n");
}

TEST_F(FileHelpersTest, AnEightBitPathIsDeletedOnlyWhenItExists) {
  WriteDeviceFile(u"\\caf\u00e9.txt", "x");
  DeleteFileIfPresent("\\caf\xc3\xa9.txt");
  EXPECT_FALSE(DeviceFileExists(u"\\caf\u00e9.txt"));
  WriteDeviceFile(u"\\other.txt", "y");
  DeleteFileIfPresent("\\missing.txt");
  DeleteFileIfPresent(nullptr);
  EXPECT_EQ(ReadDeviceFile(u"\\other.txt"), "y");
}

TEST(TextHelpers, SmallConversions) {
  CString p = u"\\a\\b\\c.txt";
  EXPECT_TRUE(StripLastPathPart(p));
  EXPECT_EQ(p, CString(u"\\a\\b"));
  CString none = u"plain";
  EXPECT_FALSE(StripLastPathPart(none));
  EXPECT_EQ(ReverseFindChar(u"a/b/c", u'/'), 3);
  EXPECT_EQ(ReverseFindChar(u"abc", u'/'), -1);
  WCHAR buf[4];
  CopyTextBounded(u"abcdef", buf, 4);
  EXPECT_EQ(std::u16string(buf), u"abc");
  char narrow[16];
  ASSERT_NE(WideToMultiByte(narrow, u"caf\u00e9", 16), nullptr);
  EXPECT_STREQ(narrow, "caf\xc3\xa9");
  WCHAR wide[16];
  ASSERT_NE(MultiByteToWide(wide, "caf\xc3\xa9", 16), nullptr);
  EXPECT_EQ(std::u16string(wide), u"caf\u00e9");
  EXPECT_GT(CurrentUnixTime(), 1700000000LL);
}

}  // namespace
