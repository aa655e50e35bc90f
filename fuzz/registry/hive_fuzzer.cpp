// Arbitrary bytes as a hive file, read through the registry calls into a
// map of keys and values; then one change that leaves the hive as it was (a
// value set on the root and deleted again) writes it back. The file written
// must read back to the same map, a second write must give the same bytes,
// and the file must be no more than a few times the size of the input.
// Then the first bytes of the input name a key a program makes: a name
// holding a line break is refused and leaves the file as it was. The name
// without its line breaks is made, with a value whose name and text are the
// name as given (line breaks and all), and the hive read from the file is
// the one before with the key and value added.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../../tests/kernel/registry_dump.h"
#include "kernel/kernel.h"

namespace {

std::string g_roots[2];
int g_turn = 0;

// Stops the run, naming the property that failed.
void Fail(int line) {
  fprintf(stderr, "property of line %d does not hold\n", line);
  abort();
}
#define Require(ok) ((ok) ? (void)0 : Fail(__LINE__))

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  Require(f != nullptr);
  if (size) Require(fwrite(data, 1, size, f) == size);
  fclose(f);
}

// Selects the other device root, so that the next call reads the hive file
// there afresh, and puts the bytes in as its HKLM hive.
std::string UseFreshRoot(const uint8_t* data, size_t size) {
  g_turn ^= 1;
  const std::string hive = g_roots[g_turn] + "/Registry/HKLM.reg";
  WriteFile(hive, data, size);
  qk::SetDeviceRoot(g_roots[g_turn]);
  return hive;
}

// A change that leaves the hive as it was: the whole hive is written again.
void WriteBack() {
  const char16_t name[] = u"\x01hive fuzzer\x02";
  DWORD v = 1;
  Require(RegSetValueExW(HKEY_LOCAL_MACHINE, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4) ==
          ERROR_SUCCESS);
  Require(RegDeleteValueW(HKEY_LOCAL_MACHINE, name) == ERROR_SUCCESS);
}

// A key below "Made" named by the input's first bytes (the separator and NUL,
// which no name can hold, taken out): refused while they hold a line break,
// made without them, with a value named and set to the bytes as given.
void MakeKeyNamedBy(const uint8_t* data, size_t size, const std::string& hive, regdump::Hive* expected) {
  std::u16string name = qk::FromUtf8(reinterpret_cast<const char*>(data), size < 48 ? size : 48);
  std::erase(name, u'\\');
  std::erase(name, u'\0');
  const std::u16string given = name;
  if (name.empty() || expected->count(u"made")) return;
  HKEY key = nullptr;
  if (name.find_first_of(u"\r\n") != std::u16string::npos) {
    const std::string before = ReadFile(hive);
    const LONG refused = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (u"Made\\" + name).c_str(), 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, &key, nullptr);
    Require(refused == ERROR_INVALID_PARAMETER && key == nullptr);
    Require(ReadFile(hive) == before);
    std::erase(name, u'\r');
    std::erase(name, u'\n');
    if (name.empty()) return;
  }
  const std::u16string path = u"Made\\" + name;
  const LONG made =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  Require(made == ERROR_SUCCESS);
  regdump::DumpedValue v{given, REG_SZ, {}};
  for (char16_t c : given) v.data += std::string{char(c & 0xFF), char(c >> 8)};
  v.data += std::string(2, '\0');
  Require(RegSetValueExW(key, given.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.data()),
                         DWORD(v.data.size())) == ERROR_SUCCESS);
  RegCloseKey(key);
  (*expected)[u"made"].path = u"Made";
  (*expected)[regdump::Lower(path)].path = path;
  (*expected)[regdump::Lower(path)].values[regdump::Lower(given)] = v;
  const std::string written = ReadFile(hive);
  UseFreshRoot(reinterpret_cast<const uint8_t*>(written.data()), written.size());
  regdump::Hive reread;
  Require(regdump::Dump(HKEY_LOCAL_MACHINE, &reread));
  Require(reread == *expected);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A memory file system where there is one: every write is flushed.
  const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string tmpl = base + "/quillet-fuzz-hive-XXXXXX";
  Require(mkdtemp(tmpl.data()) != nullptr);
  for (int i = 0; i < 2; ++i) {
    g_roots[i] = tmpl + "/root" + std::to_string(i);
    std::filesystem::create_directories(g_roots[i] + "/Registry");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string hive = UseFreshRoot(data, size);
  regdump::Hive read;
  Require(regdump::Dump(HKEY_LOCAL_MACHINE, &read));
  if (read[u""].values.count(u"\x01hive fuzzer\x02")) return 0;
  WriteBack();
  const std::string written = ReadFile(hive);
  Require(written.size() <= 4 * size + 64);

  // read(write(read(x))) == read(x), from the file alone.
  const std::string again = UseFreshRoot(reinterpret_cast<const uint8_t*>(written.data()), written.size());
  regdump::Hive reread;
  Require(regdump::Dump(HKEY_LOCAL_MACHINE, &reread));
  Require(reread == read);
  // Writing what was read gives the same file.
  WriteBack();
  Require(ReadFile(again) == written);
  MakeKeyNamedBy(data, size, again, &read);
  return 0;
}
