// The registry: values and keys, persistence in the hive files, changes
// made by other processes, and the leftovers of a killed writer.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "kernel/kernel.h"
#include "registry_dump.h"
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

// Makes this process read both hives from their files again, as a program
// started next would.
void ReadAgainFromTheFiles(const std::string& root) {
  std::filesystem::create_directories(root + "/Registry");
  qk::SetDeviceRoot(root + "/elsewhere");
  HKEY key;
  RegOpenKeyExW(HKEY_CURRENT_USER, u"x", 0, KEY_READ, &key);
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"x", 0, KEY_READ, &key);
  qk::SetDeviceRoot(root);
}

// A key's own name holds at most 255 characters. A longer one cannot be
// made, by path or below an open key, and leaves the hive as it was; one in
// a hive file is left out with its values while the rest is kept.
TEST_F(Registry, KeyNamesLongerThanTheLimitAreRefusedAndLeftOutOfAHiveFile) {
  const std::u16string longest(255, u'n'), tooLong(256, u'n');
  const std::string hkcu = root_ + "/Registry/HKCU.reg";
  HKEY key = Create(HKEY_CURRENT_USER, (u"Names\\" + longest).c_str());
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"Fits", 255), ERROR_SUCCESS);
  const std::string before = qtest::ReadHostFile(hkcu);
  HKEY refused = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyExW(key, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &refused, &disposition),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(refused, nullptr);
  RegCloseKey(key);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (u"Names\\" + tooLong + u"\\below").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &refused, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(qtest::ReadHostFile(hkcu), before) << "a refused key changed the hive";
  ReadAgainFromTheFiles(root_);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (u"Names\\" + tooLong).c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (u"Names\\" + longest).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);

  // In a hive file: the key whose path holds a long name, or a NUL that no
  // call can name, goes with its values (and makes none of its parents);
  // the keys around it stay.
  const std::string n255(255, 'a'), n256(256, 'b');
  qtest::WriteHostFile(hkcu, "; Quillet device registry\n[Before]\n\"One\"=dword:00000001\n[Lost\\" + n256 +
                                 "\\Deeper]\n\"Gone\"=dword:00000002\n[Kept\\" + n255 +
                                 "]\n\"Two\"=dword:00000002\n[After]\n\"Three\"=dword:00000003\n" +
                                 std::string("[Nul\\a\0b]\n\"Four\"=dword:00000004\n", 32));
  regdump::Hive got;
  ASSERT_TRUE(regdump::Dump(HKEY_CURRENT_USER, &got));
  EXPECT_EQ(got.count(u"lost"), 0u);
  EXPECT_EQ(got.count(u"nul"), 0u);
  EXPECT_EQ(got.size(), 5u);  // root, Before, Kept, Kept\a..., After
  ASSERT_EQ(got.count(u"kept\\" + std::u16string(255, u'a')), 1u);
  EXPECT_EQ(got[u"kept\\" + std::u16string(255, u'a')].values.count(u"two"), 1u);
  EXPECT_EQ(got[u"after"].values.count(u"three"), 1u);
}

// A hive of keys 511 levels deep, read from a file: names of 1,000
// characters are left out, and a chain of the longest names kept is
// written back at about the size it was read, not once per level.
TEST_F(Registry, ADeepHiveStaysAsSmallAsItWasAfterOneChange) {
  std::filesystem::create_directories(root_ + "/Registry");
  const std::string hklm = root_ + "/Registry/HKLM.reg";
  std::string text = "; Quillet device registry\n[";
  for (int i = 0; i < 511; ++i) text += (i ? "\\" : "") + std::string(1000, char('a' + i % 26));
  text += "]\n\"Deepest\"=dword:00000001\n[";
  std::u16string kept;
  for (int i = 0; i < 511; ++i) {
    std::string name = std::to_string(i) + std::string(255 - std::to_string(i).size(), 'k');
    text += (i ? "\\" : "") + name;
    kept += (i ? u"\\" : u"") + qk::FromUtf8(name);
  }
  text += "]\n\"Kept\"=dword:00000002\n[Top]\n";
  qtest::WriteHostFile(hklm, text);
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Top");
  ASSERT_EQ(SetDword(key, u"Set", 3), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string written = qtest::ReadHostFile(hklm);
  EXPECT_LT(written.size(), text.size()) << "grew from " << text.size();
  EXPECT_GT(written.size(), 511u * 256u) << "the kept chain is written";
  ReadAgainFromTheFiles(root_);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kept.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, size = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"Kept", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegCloseKey(key);
  // Nothing of the dropped chain came back.
  char16_t name[300];
  std::u16string top;
  for (DWORD i = 0;; ++i) {
    DWORD len = 300;
    if (RegEnumKeyExW(HKEY_LOCAL_MACHINE, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    top += std::u16string(name, len).substr(0, 3) + u";";
  }
  EXPECT_EQ(top, u"0kk;Top;");
}

// A key name holding a line break cannot be made, by path or below an open
// key, and leaves the hive file as it was (such a name would end its line
// and make the rest of it read as lines of their own). Value names and
// texts holding line breaks, every other control character, quotes and
// backslashes are kept and read back from the file as they were set.
TEST_F(Registry, LineBreaksAreRefusedInKeyNamesAndKeptInValues) {
  const std::string hkcu = root_ + "/Registry/HKCU.reg";
  HKEY key = Create(HKEY_CURRENT_USER, u"Lines");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"Before", 1), ERROR_SUCCESS);
  regdump::Hive ref;
  ASSERT_TRUE(regdump::Dump(HKEY_CURRENT_USER, &ref));
  const std::string before = qtest::ReadHostFile(hkcu);
  const std::u16string broken[] = {u"a\nb", u"x]\n\"Evil\"=dword:00000001\n[y", u"\n", u"end\r", u"cr\rlf",
                                   u"\r\n"};
  for (const auto& name : broken) {
    HKEY made = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, &disposition),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (u"Lines\\" + name + u"\\below").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &made, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(made, nullptr);
  }
  EXPECT_EQ(qtest::ReadHostFile(hkcu), before) << "a refused key changed the hive";

  // Values: a name and a text for each control character, and a few mixed.
  std::vector<std::u16string> texts = {u"two\nlines", u"\r\n", u"end\\", u"\"]\n[Other]\n\"x\"=dword:1",
                                       u"tab\there", u"\\n not a break"};
  for (char16_t c = 1; c < 0x20; ++c) texts.push_back(u"c" + std::u16string(1, c) + u"d");
  int n = 0;
  for (const auto& text : texts) {
    regdump::DumpedValue v;
    v.name = text + u"#" + qk::FromUtf8(std::to_string(n++));
    v.type = REG_SZ;
    for (char16_t c : text) v.data += std::string{char(c & 0xFF), char(c >> 8)};
    v.data += std::string(2, '\0');
    ASSERT_EQ(RegSetValueExW(key, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.data()),
                             DWORD(v.data.size())),
              ERROR_SUCCESS);
    ref[u"lines"].values[regdump::Lower(v.name)] = v;
  }
  regdump::DumpedValue multi{u"multi\nline", REG_MULTI_SZ, std::string("a\0\n\0\0\0b\0\r\0\0\0\0\0", 14)};
  ASSERT_EQ(RegSetValueExW(key, multi.name.c_str(), 0, multi.type, reinterpret_cast<const BYTE*>(multi.data.data()),
                           DWORD(multi.data.size())),
            ERROR_SUCCESS);
  ref[u"lines"].values[regdump::Lower(multi.name)] = multi;
  RegCloseKey(key);
  ReadAgainFromTheFiles(root_);
  regdump::Hive got;
  ASSERT_TRUE(regdump::Dump(HKEY_CURRENT_USER, &got));
  EXPECT_EQ(got.size(), ref.size());
  EXPECT_TRUE(got == ref);
  // One line for the comment, one for the key, one for each value.
  const std::string written = qtest::ReadHostFile(hkcu);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2 + 1 + long(texts.size()) + 1) << written;
}

// Random changes through the registry calls, each checked against a plain
// map of what the hive must hold, read back from the file as the next
// program would: empty keys, keys with only subkeys, values on the hive's
// root, names with quotes, brackets, blanks, "=" and other scripts, the
// longest names, deletions of whole subtrees.
TEST_F(Registry, ChangesReadBackFromTheFileEqualAReferenceMap) {
  const std::u16string names[] = {u"Settings", u"settings", u"a b", u" lead", u"x=y", u"[br]", u"q\"t\"",
                                  u"\u00e9t\u00e9", u"\u65e5\u672c", u"k]", std::u16string(255, u'L'), u"v"};
  std::mt19937 rng(20261210);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  regdump::Hive ref;
  ref[u""].path = u"";
  auto existing = [&]() {
    std::vector<std::u16string> keys;
    for (auto& [lower, k] : ref) keys.push_back(lower);
    return keys;
  };
  for (int step = 0; step < 300; ++step) {
    auto keys = existing();
    const std::u16string parentLower = keys[pick(keys.size())];
    const std::u16string parentPath = ref[parentLower].path;
    HKEY parent = HKEY_CURRENT_USER;
    if (!parentPath.empty()) {
      ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, parentPath.c_str(), 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    }
    const std::u16string name = names[pick(std::size(names))];
    const size_t op = pick(10);
    if (op < 4) {
      // A subkey, sometimes two levels at once.
      std::u16string sub = name, sub2 = op == 0 ? names[pick(std::size(names))] : u"";
      std::u16string rel = sub2.empty() ? sub : sub + u"\\" + sub2;
      HKEY made = nullptr;
      ASSERT_EQ(RegCreateKeyExW(parent, rel.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr),
                ERROR_SUCCESS);
      RegCloseKey(made);
      std::u16string path = parentPath;
      for (const auto& part : {sub, sub2}) {
        if (part.empty()) continue;
        std::u16string lowerPath = regdump::Lower(path.empty() ? part : path + u"\\" + part);
        if (!ref.count(lowerPath)) ref[lowerPath].path = path.empty() ? part : path + u"\\" + part;
        path = ref[lowerPath].path;
      }
    } else if (op < 8) {
      regdump::DumpedValue v;
      v.name = op == 7 ? u"" : name;
      v.type = std::array<DWORD, 4>{REG_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ}[pick(4)];
      size_t len = v.type == REG_DWORD ? 4 : pick(12);
      for (size_t i = 0; i < len; ++i) v.data.push_back(char(rng()));
      if (v.type == REG_SZ && pick(2)) v.data = std::string("t\0\"\0=\0\n\0\0\0", 10);
      ASSERT_EQ(RegSetValueExW(parent, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                               DWORD(v.data.size())),
                ERROR_SUCCESS);
      ref[parentLower].values[regdump::Lower(v.name)] = v;
    } else if (op == 8) {
      LONG r = RegDeleteValueW(parent, name.c_str());
      EXPECT_EQ(r, ref[parentLower].values.erase(regdump::Lower(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    } else if (!parentPath.empty()) {
      // The parent and its subtree, from the hive's root.
      ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, parentPath.c_str()), ERROR_SUCCESS);
      for (auto it = ref.begin(); it != ref.end();) {
        if (it->first == parentLower || it->first.rfind(parentLower + u"\\", 0) == 0) it = ref.erase(it);
        else ++it;
      }
    }
    if (parent != HKEY_CURRENT_USER) RegCloseKey(parent);
    if (step % 10 == 9) {
      ReadAgainFromTheFiles(root_);
      regdump::Hive got;
      ASSERT_TRUE(regdump::Dump(HKEY_CURRENT_USER, &got));
      ASSERT_EQ(got.size(), ref.size()) << "step " << step;
      ASSERT_TRUE(got == ref) << "step " << step;
    }
  }
}

// A hive written before a key's line was left out where its subkeys make it
// (every key on a line of its own, value-less parents too) loads as it
// stands, and the next change writes it in the shorter form with nothing
// lost.
TEST_F(Registry, AHiveWithEveryKeyOnALineOfItsOwnLoadsAndKeepsEverything) {
  std::filesystem::create_directories(root_ + "/Registry");
  const std::string hkcu = root_ + "/Registry/HKCU.reg";
  qtest::WriteHostFile(hkcu,
                       "; Quillet device registry\n"
                       "[Software]\n"
                       "[Software\\Marrowby]\n"
                       "[Software\\Marrowby\\Quillet Reach]\n"
                       "[Software\\Marrowby\\Quillet Reach\\Channels]\n"
                       "[Software\\Marrowby\\Quillet Reach\\Channels\\Empty]\n"
                       "[Software\\Marrowby\\Quillet Reach\\Settings]\n"
                       "\"Root\"=sz:\"\\\\Program Files\\\\Quillet\"\n"
                       "\"Blob\"=hex(3):01,ff\n"
                       "[Software\\Marrowby\\Quillet Reach\\Settings\\Sub]\n"
                       "[System]\n");
  regdump::Hive before;
  ASSERT_TRUE(regdump::Dump(HKEY_CURRENT_USER, &before));
  EXPECT_EQ(before.size(), 9u);
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", u"Root"),
            u"\\Program Files\\Quillet");
  HKEY key = Create(HKEY_CURRENT_USER, u"System");
  ASSERT_EQ(SetDword(key, u"Changed", 1), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string written = qtest::ReadHostFile(hkcu);
  EXPECT_EQ(written.find("[Software]\n"), std::string::npos) << written;
  EXPECT_EQ(written.find("[Software\\Marrowby\\Quillet Reach]\n"), std::string::npos) << written;
  EXPECT_NE(written.find("[Software\\Marrowby\\Quillet Reach\\Channels\\Empty]\n"), std::string::npos);
  ReadAgainFromTheFiles(root_);
  regdump::Hive after;
  ASSERT_TRUE(regdump::Dump(HKEY_CURRENT_USER, &after));
  before[u"system"].values[u"changed"] = regdump::DumpedValue{u"Changed", REG_DWORD, std::string("\1\0\0\0", 4)};
  EXPECT_TRUE(after == before);
}

}  // namespace
