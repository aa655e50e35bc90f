// The file finder's look-ahead walk and the folder move, on real folders.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "common/file_finder.h"
#include "kernel/fs.h"
#include "support/device_fixture.h"

namespace {

class FileFinderTest : public qtest::DeviceTest {};

std::set<std::string> Walk(CFileFinder& f) {
  std::set<std::string> names;
  BOOL more;
  do {
    more = f.FindNextFile();
    names.insert(CStringA(f.GetFileName()).str());
  } while (more);
  return names;
}

TEST_F(FileFinderTest, LookAheadWalk) {
  CFileFinder f;
  EXPECT_FALSE(f.FindNextFile());  // before any search
  EXPECT_EQ(f.GetFileName(), CString());
  EXPECT_FALSE(f.IsDirectory());
  FILETIME ft;
  EXPECT_FALSE(f.GetLastWriteTime(&ft));

  WriteDeviceFile(u"\\One\\only.txt", "x");
  ASSERT_TRUE(f.FindFile(u"\\One\\*.*"));
  EXPECT_EQ(f.GetRoot(), CString(u"\\One"));
  EXPECT_EQ(f.GetFileName(), CString());  // nothing current yet
  EXPECT_FALSE(f.FindNextFile());          // no entry follows...
  EXPECT_EQ(f.GetFileName(), CString(u"only.txt"));  // ...but this one is current
  EXPECT_FALSE(f.IsDirectory());
  EXPECT_TRUE(f.GetLastWriteTime(&ft));
  time_t t = 0;
  EXPECT_TRUE(f.GetLastWriteTime(t));
  EXPECT_GT(t, 1000000000);

  WriteDeviceFile(u"\\Many\\a.bin", "");
  WriteDeviceFile(u"\\Many\\b.htm", "");
  WriteDeviceFile(u"\\Many\\Sub\\c", "");
  ASSERT_TRUE(f.FindFile(u"\\Many\\*.*"));
  EXPECT_EQ(Walk(f), (std::set<std::string>{"a.bin", "b.htm", "Sub"}));
  ASSERT_TRUE(f.FindFile(u"\\Many\\*.htm"));
  EXPECT_EQ(Walk(f), std::set<std::string>{"b.htm"});
  ASSERT_TRUE(f.FindFile(u"\\Many\\S*"));
  f.FindNextFile();
  EXPECT_TRUE(f.IsDirectory());
  EXPECT_TRUE(f.MatchesMask(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(f.IsDots());

  EXPECT_FALSE(f.FindFile(u"\\Missing\\*.*"));
  EXPECT_FALSE(f.FindNextFile());
  EXPECT_FALSE(f.FindFile(u"\\Many\\*.none"));
}

// A directory with another attribute bit than the directory bit counts as
// no directory. Without full rights the read-only attribute is enough; with
// them (root) writing is refused only by a file system that refuses it, so
// the check runs in a child process that sees the folder through a
// read-only bind mount in a private mount namespace, or, where that cannot
// be made, as an unprivileged user.
int ReadOnlyFolderCheck() {
  CFileFinder f;
  if (!f.FindFile(u"\\Many\\S*")) return 2;
  f.FindNextFile();
  if (!f.MatchesMask(FILE_ATTRIBUTE_READONLY)) return 3;
  if (!f.MatchesMask(FILE_ATTRIBUTE_DIRECTORY)) return 4;
  if (f.IsDirectory()) return 5;
  if (f.IsDots()) return 6;
  return 0;
}

TEST_F(FileFinderTest, ReadOnlyFolderIsNoDirectory) {
  WriteDeviceFile(u"\\Many\\Sub\\c", "");
  ASSERT_TRUE(SetFileAttributesW(u"\\Many\\Sub", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  int result;
  if (geteuid() != 0) {
    result = ReadOnlyFolderCheck();
  } else {
    const std::string folder = qk::HostPath(u"\\Many\\Sub");
    const std::string root = root_;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool refused = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                     mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                     mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
      if (!refused) {
        // The unprivileged user must reach the device root to look at it.
        chmod(root.c_str(), 0755);
        refused = setgid(65534) == 0 && setuid(65534) == 0 && access(folder.c_str(), W_OK) != 0;
      }
      _exit(refused ? ReadOnlyFolderCheck() : 77);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    result = WEXITSTATUS(status);
  }
  SetFileAttributesW(u"\\Many\\Sub", FILE_ATTRIBUTE_DIRECTORY);
  if (result == 77) GTEST_SKIP() << "running as root with neither a private mount namespace nor an unprivileged user";
  // 2: not found; 3: not read-only; 4: no directory bit; 5: still a directory; 6: taken for dots.
  EXPECT_EQ(result, 0);
}

TEST_F(FileFinderTest, MoveFolderFilesLeavesTheNamedFile) {
  WriteDeviceFile(u"\\Old\\Channels.opml", "list");
  WriteDeviceFile(u"\\Old\\Ch100.bin", "store");
  WriteDeviceFile(u"\\Old\\MyChannels.opml.bak", "other");
  WriteDeviceFile(u"\\Old\\Ch101.bin", "old copy");
  WriteDeviceFile(u"\\New\\Ch101.bin", "already there");
  MoveFolderFiles(u"\\Old", u"\\New", u"CHANNELS.OPML");
  EXPECT_EQ(ReadDeviceFile(u"\\Old\\Channels.opml"), "list");
  EXPECT_FALSE(DeviceFileExists(u"\\New\\Channels.opml"));
  EXPECT_EQ(ReadDeviceFile(u"\\New\\Ch100.bin"), "store");
  EXPECT_EQ(ReadDeviceFile(u"\\New\\MyChannels.opml.bak"), "other");
  EXPECT_FALSE(DeviceFileExists(u"\\Old\\Ch100.bin"));
  // A name already in the target stays where it was, and nothing is overwritten.
  EXPECT_EQ(ReadDeviceFile(u"\\Old\\Ch101.bin"), "old copy");
  EXPECT_EQ(ReadDeviceFile(u"\\New\\Ch101.bin"), "already there");
  MoveFolderFiles(u"\\Old", u"\\New", nullptr);
  EXPECT_EQ(ReadDeviceFile(u"\\New\\Channels.opml"), "list");
  MoveFolderFiles(u"\\Nowhere", u"\\New", nullptr);  // nothing to do, no failure
}

}  // namespace
