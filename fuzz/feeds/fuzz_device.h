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

// Makes a temporary device root named after the target and selects it: the
// folder "root" inside a fresh folder of its own, so that a target can see
// whether anything was written beside the root. Returns the root.
inline std::string MakeDeviceRoot(const char* target) {
  std::string tmpl = std::string("/tmp/quillet-fuzz-") + target + "-XXXXXX";
  std::string root = std::string(mkdtemp(tmpl.data())) + "/root";
  std::filesystem::create_directories(root + "/ChannelData");
  qk::SetDeviceRoot(root);
  return root;
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
