// The device file system: path mapping, case-blind names, wildcards, file
// handles and moves.
#include <sys/stat.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "kernel/kernel.h"
#include "support/device_fixture.h"

namespace fs = std::filesystem;

namespace {

class DeviceFiles : public qtest::DeviceTest {
 protected:
  std::set<std::u16string> Find(const char16_t* pattern) {
    std::set<std::u16string> names;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      names.insert(data.cFileName);
    } while (FindNextFileW(h, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return names;
  }
};

TEST_F(DeviceFiles, DevicePathsMapUnderTheRootAndNeverLeaveIt) {
  EXPECT_EQ(Host(u"\\Program Files\\Quillet\\Quillet.exe"), root_ + "/Program Files/Quillet/Quillet.exe");
  EXPECT_EQ(Host(u"QuilletDownloader.tmp"), root_ + "/QuilletDownloader.tmp");
  EXPECT_EQ(Host(u"\\a\\..\\..\\..\\etc\\passwd"), root_ + "/etc/passwd");
  EXPECT_EQ(Host(u"\\x\\.\\y"), root_ + "/x/y");
}

TEST_F(DeviceFiles, NamesMatchWithoutRegardToCaseExactFirst) {
  WriteDeviceFile(u"\\ChannelData\\Ch001.bin", "one");
  EXPECT_EQ(ReadDeviceFile(u"\\channeldata\\CH001.BIN"), "one");
  EXPECT_EQ(Host(u"\\CHANNELDATA\\ch001.Bin"), root_ + "/ChannelData/Ch001.bin");
  // Two host names differing in case: the exact one wins.
  qtest::WriteHostFile(root_ + "/ChannelData/CH001.BIN", "two");
  EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\CH001.BIN"), "two");
  EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\Ch001.bin"), "one");
  // Non-ASCII names fold too.
  WriteDeviceFile(u"\\Кириллица.txt", "x");
  EXPECT_EQ(ReadDeviceFile(u"\\кириллица.TXT"), "x");
}

// Another program changes a folder right after this one looked in it: every
// change shows at once, even several within one tick of the file clock.
TEST_F(DeviceFiles, CaseBlindNamesSeeChangesByAnotherProcessAtOnce) {
  WriteDeviceFile(u"\\Seen\\Old.txt", "old");
  const std::string dir = root_ + "/Seen";
  auto inChild = [](auto change) {
    pid_t pid = fork();
    if (pid == 0) _exit(change() ? 0 : 1);
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  // Lets the file clock pass the folder's last change, so that a lookup may
  // keep what it listed.
  auto settle = [&] {
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    for (int i = 0; i < 2000; ++i) {
      timespec now;
      clock_gettime(CLOCK_REALTIME_COARSE, &now);
      if (now.tv_sec > st.st_mtim.tv_sec + 1) return;
      if (st.st_mtim.tv_nsec != 0 && (now.tv_sec > st.st_mtim.tv_sec ||
                                      (now.tv_sec == st.st_mtim.tv_sec && now.tv_nsec > st.st_mtim.tv_nsec)))
        return;
      usleep(1000);
    }
  };
  for (int round = 0; round < 20; ++round) {
    // Some rounds look while the folder is settled, some right after a change.
    if (round % 2 == 0) settle();
    std::string fresh = "Fresh" + std::to_string(round) + ".TXT";
    std::u16string lower = u"\\seen\\fresh" + qk::FromUtf8(std::to_string(round)) + u".txt";
    EXPECT_EQ(GetFileAttributesW(lower.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(inChild([&] { return std::rename((dir + "/Old.txt").c_str(), (dir + "/" + fresh).c_str()) == 0; }));
    EXPECT_EQ(Host(lower.c_str()), dir + "/" + fresh) << round;
    EXPECT_EQ(GetFileAttributesW(u"\\seen\\OLD.TXT"), INVALID_FILE_ATTRIBUTES) << round;
    if (round % 2 == 0) settle();
    // Renamed in case only, then back under the first name.
    ASSERT_TRUE(inChild([&] { return std::rename((dir + "/" + fresh).c_str(), (dir + "/FRESH.txt").c_str()) == 0; }));
    EXPECT_EQ(GetFileAttributesW(lower.c_str()), INVALID_FILE_ATTRIBUTES) << round;
    EXPECT_EQ(Host(u"\\seen\\fresh.TXT"), dir + "/FRESH.txt") << round;
    ASSERT_TRUE(inChild([&] { return std::rename((dir + "/FRESH.txt").c_str(), (dir + "/Old.txt").c_str()) == 0; }));
    EXPECT_EQ(ReadDeviceFile(u"\\SEEN\\old.TXT"), "old") << round;
  }
}

// The program's own creates, renames and deletes show in the very next
// case-blind lookup, however fast they follow one another, and so does a
// folder moved away with another put in its place; a forked child looks
// up names on its own without taking what its parent is told.
TEST_F(DeviceFiles, CaseBlindNamesFollowTheProgramsOwnChangesAndMovedFolders) {
  CreateDirectoryW(u"\\Data", nullptr);
  for (int i = 0; i < 200; ++i) {
    std::u16string n = qk::FromUtf8(std::to_string(i));
    std::u16string made = u"\\Data\\Ch" + n + u".Bin", asked = u"\\DATA\\ch" + n + u".bin";
    ASSERT_EQ(GetFileAttributesW(asked.c_str()), INVALID_FILE_ATTRIBUTES) << i;
    HANDLE f = CreateFileW(made.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << i;
    CloseHandle(f);
    ASSERT_EQ(Host(asked.c_str()), root_ + "/Data/Ch" + std::to_string(i) + ".Bin") << i;
    std::u16string moved = u"\\Data\\Ch" + n + u"~.xml";
    ASSERT_TRUE(MoveFileW(asked.c_str(), moved.c_str())) << i;
    ASSERT_EQ(GetFileAttributesW(asked.c_str()), INVALID_FILE_ATTRIBUTES) << i;
    ASSERT_NE(GetFileAttributesW((u"\\data\\CH" + n + u"~.XML").c_str()), INVALID_FILE_ATTRIBUTES) << i;
    if (i % 2) {
      ASSERT_TRUE(DeleteFileW((u"\\data\\ch" + n + u"~.xml").c_str())) << i;
    }
  }
  EXPECT_EQ(Find(u"\\Data\\*.xml").size(), 100u);
  // The folder moves away and another takes its place: its names are the
  // new folder's, and the moved one's names are found where it went.
  WriteDeviceFile(u"\\Data\\Only.txt", "first");
  ASSERT_TRUE(MoveFileW(u"\\data", u"\\Moved"));
  WriteDeviceFile(u"\\Data\\Other.txt", "second");
  EXPECT_EQ(GetFileAttributesW(u"\\DATA\\ONLY.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadDeviceFile(u"\\DATA\\other.TXT"), "second");
  EXPECT_EQ(ReadDeviceFile(u"\\moved\\only.txt"), "first");
  // Changes by the host's own calls (another library of the program) show too.
  ASSERT_EQ(std::rename((root_ + "/Data/Other.txt").c_str(), (root_ + "/Data/Renamed.TXT").c_str()), 0);
  EXPECT_EQ(ReadDeviceFile(u"\\data\\renamed.txt"), "second");
  // A forked child creates and finds names by itself; the parent still sees
  // every change afterwards.
  pid_t pid = fork();
  if (pid == 0) {
    WriteDeviceFile(u"\\Data\\Child.txt", "child");
    bool ok = ReadDeviceFile(u"\\DATA\\CHILD.TXT") == "child" && ReadDeviceFile(u"\\data\\renamed.txt") == "second";
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadDeviceFile(u"\\data\\child.TXT"), "child");
  ASSERT_TRUE(DeleteFileW(u"\\Data\\Child.txt"));
  EXPECT_EQ(GetFileAttributesW(u"\\DATA\\CHILD.TXT"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DeviceFiles, WildcardsFollowTheDeviceRules) {
  for (const char16_t* n : {u"\\d\\Ch001.bin", u"\\d\\Ch002.BIN", u"\\d\\Ch003~.xml", u"\\d\\README", u"\\d\\a.b.c"})
    WriteDeviceFile(n, "");
  CreateDirectoryW(u"\\d\\sub", nullptr);
  EXPECT_EQ(Find(u"\\d\\*.bin"), (std::set<std::u16string>{u"Ch001.bin", u"Ch002.BIN"}));
  EXPECT_EQ(Find(u"\\d\\*.*").size(), 6u);  // also README (no dot) and the folder
  EXPECT_EQ(Find(u"\\d\\*"), Find(u"\\d\\*.*"));
  EXPECT_EQ(Find(u"\\d\\Ch00?.bin"), (std::set<std::u16string>{u"Ch001.bin", u"Ch002.BIN"}));
  EXPECT_EQ(Find(u"\\d\\Ch*~.xml"), (std::set<std::u16string>{u"Ch003~.xml"}));
  EXPECT_EQ(Find(u"\\d\\*.c"), (std::set<std::u16string>{u"a.b.c"}));
  EXPECT_EQ(Find(u"\\d\\readme"), (std::set<std::u16string>{u"README"}));

  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(u"\\d\\*.none", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileW(u"\\missing\\*.*", &data), INVALID_HANDLE_VALUE);
  HANDLE h = FindFirstFileW(u"\\d\\sub", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
}

TEST_F(DeviceFiles, HandlesReadWriteSeekAndReportDispositions) {
  HANDLE h = CreateFileW(u"\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(GetFileSize(h, nullptr), 11u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buf[16] = {0};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);  // end of file is a successful read of nothing
  SetFilePointer(h, 5, nullptr, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

  EXPECT_EQ(CreateFileW(u"\\f.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
  EXPECT_EQ(CreateFileW(u"\\nothere", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(u"\\no\\dir\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  h = CreateFileW(u"\\F.BIN", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  EXPECT_EQ(ReadDeviceFile(u"\\f.bin"), "hello");
}

TEST_F(DeviceFiles, WritingToAFullDiskReportsDiskFull) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  fs::create_symlink("/dev/full", root_ + "/full");
  HANDLE h = CreateFileW(u"\\full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 1;
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
}

TEST_F(DeviceFiles, FoldersAndDeletion) {
  EXPECT_TRUE(CreateDirectoryW(u"\\Storage Card", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"\\storage card", nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(u"\\a\\b", nullptr));  // parent missing
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(u"\\Storage Card"));  // a folder is not a file
  WriteDeviceFile(u"\\Storage Card\\x", "1");
  EXPECT_FALSE(RemoveDirectoryW(u"\\Storage Card"));
  EXPECT_TRUE(DeleteFileW(u"\\STORAGE CARD\\X"));
  EXPECT_FALSE(DeleteFileW(u"\\Storage Card\\x"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(RemoveDirectoryW(u"\\Storage Card"));
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DeviceFiles, MoveNeverOverwrites) {
  WriteDeviceFile(u"\\a.txt", "a");
  WriteDeviceFile(u"\\b.txt", "b");
  EXPECT_FALSE(MoveFileW(u"\\a.txt", u"\\B.TXT"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadDeviceFile(u"\\b.txt"), "b");
  EXPECT_TRUE(MoveFileW(u"\\a.txt", u"\\c.txt"));
  EXPECT_EQ(ReadDeviceFile(u"\\c.txt"), "a");
  EXPECT_FALSE(DeviceFileExists(u"\\a.txt"));
  // Renaming a file to its own name in another case is allowed.
  EXPECT_TRUE(MoveFileW(u"\\c.txt", u"\\C.TXT"));
  EXPECT_EQ(ReadDeviceFile(u"\\C.TXT"), "a");
  EXPECT_FALSE(MoveFileW(u"\\missing", u"\\d.txt"));
}

TEST_F(DeviceFiles, MoveWorksAcrossHostFileSystems) {
  std::string other = "/dev/shm";
  struct stat a, b;
  if (stat(other.c_str(), &b) != 0 || stat(root_.c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system to move to";
  std::string target = other + "/quillet-move-" + std::to_string(getpid());
  fs::create_directories(target);
  fs::create_symlink(target, root_ + "/Card");
  WriteDeviceFile(u"\\Folder\\inner\\f.bin", "payload");
  EXPECT_TRUE(MoveFileW(u"\\Folder", u"\\Card\\Folder"));
  EXPECT_EQ(qtest::ReadHostFile(target + "/Folder/inner/f.bin"), "payload");
  EXPECT_FALSE(DeviceFileExists(u"\\Folder"));
  fs::remove_all(target);
}

TEST_F(DeviceFiles, CRuntimeFilesOpenDevicePaths) {
  FILE* f = _wfopen(u"\\Log.txt", u"at");
  ASSERT_NE(f, nullptr);
  fputs("line\n", f);
  fclose(f);
  f = qk::DeviceFopen("\\LOG.TXT", "at");
  ASSERT_NE(f, nullptr);
  fputs("more\n", f);
  fclose(f);
  EXPECT_EQ(ReadDeviceFile(u"\\Log.txt"), "line\nmore\n");
}

}  // namespace
