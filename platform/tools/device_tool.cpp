// quillet-device: what a user does to the phone itself, on the device root
// of $QUILLET_DEVICE_ROOT (else the default one).
//
//   quillet-device cradle     puts the device into its cradle
//   quillet-device uncradle   takes it out
//
// The cradle state is the value "Cradled" of HKLM "System\State\Hardware"
// (1 cradled, 0 not); programs watching it are told of the change.
#include <cstdio>
#include <cstring>

#include "kernel/kernel.h"

namespace {

int SetCradled(DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;
  LONG r = RegSetValueExW(key, u"Cradled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "cradle") == 0) return SetCradled(1);
  if (argc == 2 && std::strcmp(argv[1], "uncradle") == 0) return SetCradled(0);
  std::fprintf(stderr, "usage: quillet-device cradle | uncradle\n");
  return 2;
}
