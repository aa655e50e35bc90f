// The framework's headers each include the window layer's header before
// anything else, so that its renaming macros (SendMessage for SendMessageW
// and the like) rename the framework's declarations and their callers
// alike. Each header is also compiled alone by the build (the generated
// header_alone_*.cpp files of this test).
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <string>
#include <vector>

#include "framework/afx.h"

namespace {

std::vector<std::string> FrameworkHeaders() {
  std::vector<std::string> out;
  std::string dir = std::string(QUILLET_SOURCE_DIR) + "/platform/framework";
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 2 && name.compare(name.size() - 2, 2, ".h") == 0) out.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  return out;
}

TEST(FrameworkHeaders, EachIncludesTheWindowLayerFirst) {
  auto headers = FrameworkHeaders();
  ASSERT_GE(headers.size(), 8u);
  for (auto& path : headers) {
    std::ifstream in(path);
    std::string line, first;
    while (std::getline(in, line))
      if (line.rfind("#include", 0) == 0) {
        first = line;
        break;
      }
    EXPECT_EQ(first, "#include \"user/user.h\"") << path;
  }
}

TEST(FrameworkHeaders, RenamedMethodsAreTheWideOnesEverywhere) {
  // Compiles only when the declarations were renamed as the calls are.
  LRESULT (CWnd::*send)(UINT, WPARAM, LPARAM) const = &CWnd::SendMessageW;
  LRESULT (CWnd::*def)(UINT, WPARAM, LPARAM) = &CWnd::DefWindowProcW;
  void (CWnd::*setText)(LPCTSTR) = &CWnd::SetWindowTextW;
  int (CWnd::*box)(LPCTSTR, LPCTSTR, UINT) = &CWnd::MessageBoxW;
  EXPECT_TRUE(send && def && setText && box);
}

}  // namespace
