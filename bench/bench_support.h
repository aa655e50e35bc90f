// What the timing programs share: a fresh device on the default touch
// screen, and the figures of a run of timings.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "display/display.h"
#include "gdi/surface.h"
#include "kernel/kernel.h"

namespace qbench {

// Gives the program an empty device root of its own in the temporary
// folder and connects the default screen (480 x 800 at 192 dpi); returns
// the root's host folder, for the program to remove when it ends.
inline std::string StartDevice(const char* name) {
  std::string root = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  qk::SetDeviceRoot(root);
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  qk::display::ConnectScreen();
  return root;
}

struct Figures {
  double mean, median, p99, worst;
};

// The figures of a non-empty run of timings.
inline Figures Summarise(const std::vector<double>& ms) {
  std::vector<double> sorted = ms;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double v : ms) sum += v;
  return {sum / ms.size(), sorted[sorted.size() / 2], sorted[sorted.size() * 99 / 100], sorted.back()};
}

}  // namespace qbench
