// The registry: values and keys, persistence in the hive files, changes
// made by other processes, and the leftovers of a killed writer.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "kernel/kernel.h"
#include "support/device_fixture.h"

namespace {

class Registry : public qtest::DeviceTest {
 protected:
  static LONG SetString(HKEY key, const char16_t* name, const char16_t* value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          DWORD((wcslen(value) + 1) * 2));
  }
  static LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  static std::u16string GetString(HKEY root, const char16_t* path, const char16_t* name) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<no key>";
    char16_t buf[300] = {0};
    DWORD size = sizeof buf - 2, type = 0;
    LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return u"<no value>";
    return buf;
  }
  static HKEY Create(HKEY root, const char16_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    return key;
  }
};

TEST_F(Registry, ValuesKeepTheirTypesAndNamesMatchWithoutCase) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings");
  ASSERT_EQ(SetString(key, u"Root", u"\\Program Files\\Quillet \"x\"\nline"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"VentrelLog", 0xDEADBEEF), ERROR_SUCCESS);
  const BYTE blob[] = {0, 1, 2, 255};
  ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob, 4), ERROR_SUCCESS);
  RegCloseKey(key);

  EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"\\software\\MARROWBY\\quillet reach\\settings", u"ROOT"),
            u"\\Program Files\\Quillet \"x\"\nline");
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = 4;
  ASSERT_EQ(RegQueryValueExW(key, u"ventrellog", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_DWORD));
  EXPECT_EQ(value, 0xDEADBEEFu);
  BYTE got[8];
  size = 2;
  EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, got, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  size = 8;
  ASSERT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, got, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_BINARY));
  EXPECT_EQ(0, memcmp(got, blob, 4));
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, got, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);

  // The two hives are separate.
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Software\\Marrowby\\Quillet Reach\\Settings", u"Root"), u"<no key>");
}

TEST_F(Registry, HivesAreReadBackFromTheirFiles) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"\\System\\Explorer\\Shell Folders");
  SetString(key, u"Program Files", u"\\Programme");
  RegCloseKey(key);
  std::string text = qtest::ReadHostFile(root_ + "/Registry/HKLM.reg");
  EXPECT_NE(text.find("[System\\Explorer\\Shell Folders]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Program Files\"=sz:\"\\\\Programme\""), std::string::npos) << text;

  // Another device root has its own registry; switching back reads the file again.
  std::string mine = root_;
  qk::SetDeviceRoot(root_ + "/other");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"System\\Explorer\\Shell Folders", u"Program Files"), u"<no key>");
  qk::SetDeviceRoot(mine);
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"System\\Explorer\\Shell Folders", u"Program Files"), u"\\Programme");

  // A hive edited by hand (or by another program) is picked up.
  qtest::WriteHostFile(root_ + "/Registry/HKLM.reg",
                       "; edited\n[System\\Explorer\\Shell Folders]\n\"Program Files\"=sz:\"\\\\Edited\"\n"
                       "garbage line\n\"Count\"=dword:0000002a\n");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"System\\Explorer\\Shell Folders", u"Program Files"), u"\\Edited");

  // Writing a value as it stands leaves the file alone (the edited file keeps
  // its own lines); a change writes the whole hive again, keeping the rest.
  key = Create(HKEY_LOCAL_MACHINE, u"System\\Explorer\\Shell Folders");
  EXPECT_EQ(SetString(key, u"Program Files", u"\\Edited"), ERROR_SUCCESS);
  EXPECT_NE(qtest::ReadHostFile(root_ + "/Registry/HKLM.reg").find("garbage line"), std::string::npos);
  EXPECT_EQ(SetString(key, u"Program Files", u"\\Changed"), ERROR_SUCCESS);
  RegCloseKey(key);
  text = qtest::ReadHostFile(root_ + "/Registry/HKLM.reg");
  EXPECT_EQ(text.find("garbage line"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Program Files\"=sz:\"\\\\Changed\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Count\"=dword:0000002a"), std::string::npos) << text;
}

TEST_F(Registry, EnumerationAndDeletion) {
  HKEY key = Create(HKEY_CURRENT_USER, u"A\\B");
  SetDword(key, u"one", 1);
  SetDword(key, u"two", 2);
  RegCloseKey(key);
  RegCloseKey(Create(HKEY_CURRENT_USER, u"A\\C\\D"));
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A", 0, KEY_READ, &key), ERROR_SUCCESS);
  char16_t name[64];
  DWORD len = 64;
  ASSERT_EQ(RegEnumKeyExW(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"B");
  len = 64;
  ASSERT_EQ(RegEnumKeyExW(key, 1, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"C");
  len = 64;
  EXPECT_EQ(RegEnumKeyExW(key, 2, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegDeleteKeyW(key, u"C"), ERROR_SUCCESS);  // with its subtree
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A\\C\\D", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A\\B", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  DWORD count = 0;
  for (DWORD i = 0;; ++i) {
    len = 64;
    if (RegEnumValueW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    ++count;
  }
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(RegDeleteValueW(key, u"ONE"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"one"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

// Several processes write the same hive at once: every write survives, and
// each process sees the others' values without restarting.
TEST_F(Registry, ConcurrentWritersInSeveralProcessesLoseNothing) {
  RegCloseKey(Create(HKEY_CURRENT_USER, u"Shared"));
  const int kProcesses = 4, kWrites = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      HKEY key;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) _exit(2);
      for (int i = 0; i < kWrites; ++i) {
        std::u16string name = qk::Format(u"p%d-%d", p, i);
        DWORD v = DWORD(p * 1000 + i);
        if (RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) != ERROR_SUCCESS) _exit(3);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, KEY_READ, &key), ERROR_SUCCESS);
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kWrites; ++i) {
      DWORD v = 0, size = 4;
      std::u16string name = qk::Format(u"p%d-%d", p, i);
      ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(v, DWORD(p * 1000 + i));
    }
  }
  RegCloseKey(key);
}

// A writer killed between writing its temporary file and the rename leaves
// the file behind: the next writer of that hive removes it, and the hive
// itself is whole.
TEST_F(Registry, TemporaryFilesOfAKilledWriterAreRemovedByTheNextWriter) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Killed");
  ASSERT_EQ(SetString(key, u"Before", u"kept"), ERROR_SUCCESS);
  std::string hive = root_ + "/Registry/HKCU.reg";
  std::string whole = qtest::ReadHostFile(hive);
  ASSERT_NE(whole.find("kept"), std::string::npos);
  // A real writer dies holding the lock, half-way through its file.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int lock = open((hive + ".lock").c_str(), O_RDWR);
    flock(lock, LOCK_EX);
    std::string tmp = hive + ".tmp." + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (write(fd, whole.data(), whole.size() / 2) < 0) _exit(3);
    kill(getpid(), SIGKILL);
    _exit(4);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  std::string left = hive + ".tmp." + std::to_string(child);
  ASSERT_TRUE(std::filesystem::exists(left));
  qtest::WriteHostFile(hive + ".tmp.1", "; an older leftover\n");
  qtest::WriteHostFile(root_ + "/Registry/HKLM.reg.tmp.1", "; another hive's\n");
  EXPECT_EQ(qtest::ReadHostFile(hive), whole) << "the hive is untouched by a writer that never renamed";

  ASSERT_EQ(SetString(key, u"After", u"written"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_FALSE(std::filesystem::exists(hive + ".tmp.1"));
  EXPECT_TRUE(std::filesystem::exists(root_ + "/Registry/HKLM.reg.tmp.1")) << "only the written hive's own";
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"Killed", u"Before"), u"kept");
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"Killed", u"After"), u"written");
  for (auto& entry : std::filesystem::directory_iterator(root_ + "/Registry"))
    EXPECT_EQ(entry.path().filename().string().find("HKCU.reg.tmp"), std::string::npos) << entry.path();
}

// Keys lie at most 512 levels below their hive's root. A deeper one cannot
// be made, by path or below an open key, and one in a hive file is left out
// with its values while the rest of the hive is kept; a hive with keys at
// the limit is written and read back whole.
TEST_F(Registry, KeysDeeperThanTheLimitAreRefusedAndLeftOutOfAHiveFile) {
  auto path = [](size_t levels) {
    std::u16string p;
    for (size_t i = 0; i < levels; ++i) p += i ? u"\\k" : u"k";
    return p;
  };
  const std::string hklm = root_ + "/Registry/HKLM.reg";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path(512).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"Deepest", 512), ERROR_SUCCESS);
  HKEY deeper = nullptr;
  EXPECT_EQ(RegCreateKeyExW(key, u"one more", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper, nullptr),
            ERROR_BADKEY);
  EXPECT_EQ(deeper, nullptr);
  RegCloseKey(key);
  const std::string atLimit = qtest::ReadHostFile(hklm);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path(513).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper,
                            nullptr),
            ERROR_BADKEY);
  EXPECT_EQ(qtest::ReadHostFile(hklm), atLimit) << "a refused key changed the hive";
  // Read back from the file alone (a hive edited elsewhere is read again).
  qtest::WriteHostFile(hklm, atLimit + "[Keep]\n\"Kept\"=sz:\"yes\"\n");
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path(512).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"Deepest", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 512u);
  RegCloseKey(key);

  // A hive file with a key 10,000 levels deep: the key and its value are
  // left out, the rest is kept, and the next change writes a hive of the
  // same small size at once.
  std::string text = "; Quillet device registry\n[Keep]\n\"Kept\"=sz:\"yes\"\n[";
  for (size_t i = 0; i < 10000; ++i) text += i ? "\\deep" : "deep";
  text += "]\n\"Lost\"=dword:00000001\n[Keep\\After]\n\"Also\"=dword:00000002\n";
  qtest::WriteHostFile(hklm, text);
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Keep", u"Kept"), u"yes");
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"deep", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  key = Create(HKEY_LOCAL_MACHINE, u"Keep");
  EXPECT_EQ(SetDword(key, u"Changed", 3), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string written = qtest::ReadHostFile(hklm);
  EXPECT_LT(written.size(), 200u) << written.substr(0, 200);
  EXPECT_NE(written.find("\"Kept\"=sz:\"yes\""), std::string::npos);
  EXPECT_NE(written.find("[Keep\\After]\n\"Also\"=dword:00000002"), std::string::npos);
  EXPECT_NE(written.find("\"Changed\"=dword:00000003"), std::string::npos);
  EXPECT_EQ(written.find("deep"), std::string::npos);
}

}  // namespace
