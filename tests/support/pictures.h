// Where tests that write pictures to look at put them: $QUILLET_PICTURES_DIR
// when set, else the folder "pictures" of the build (made when missing).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qtest {

inline std::string PicturesDir() {
  const char* env = std::getenv("QUILLET_PICTURES_DIR");
  std::string dir = env && *env ? env : std::string(QUILLET_BINARY_DIR) + "/pictures";
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace qtest
