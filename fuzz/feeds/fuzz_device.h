// The device of a feeds fuzz target: a fresh device root with its
// "ChannelData" folder, and the fuzz input written as a device file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kernel/kernel.h"

namespace fuzzdev {

// Makes a temporary device root named after the target and selects it.
inline void MakeDeviceRoot(const char* target) {
  std::string tmpl = std::string("/tmp/quillet-fuzz-") + target + "-XXXXXX";
  std::string root = mkdtemp(tmpl.data());
  qk::SetDeviceRoot(root);
  std::filesystem::create_directories(root + "/ChannelData");
}

// Writes the input to the device file path; false when it cannot be written.
inline bool WriteInput(const char16_t* path, const uint8_t* data, size_t size) {
  FILE* f = fopen(qk::HostPath(path).c_str(), "wb");
  if (!f) return false;
  fwrite(data, 1, size, f);
  fclose(f);
  return true;
}

}  // namespace fuzzdev
