// One figure of a timing program beside its target, in the form that
// scripts read: "<figure>: <value> <unit> (target < <value> <unit>) OK|MISSED".
#pragma once

#include <cstdio>

namespace qbench {

// Prints the line; true when the figure is under its target.
inline bool FigureLine(const char* figure, double value, const char* unit, double target, int decimals = 1) {
  const bool ok = value < target;
  std::printf("%s: %.*f %s (target < %.*f %s) %s\n", figure, decimals, value, unit, decimals, target, unit,
              ok ? "OK" : "MISSED");
  std::fflush(stdout);
  return ok;
}

}  // namespace qbench
