// The reader's entry point. The application object is built first, before
// anything else of the program runs; the device screen is shown in a window
// where a display exists (set QUILLET_HEADLESS to keep it hidden), and
// QUILLET_SCREENSHOT names a PNG file that receives the screen whenever it
// changed and the program is idle.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "display/display.h"
#include "kernel/fs.h"
#include "kernel/module.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/screens/reader_app.h"

namespace {

// The arguments as one command line, quoted so that the platform's
// splitting gives each back.
std::u16string JoinArguments(int argc, char** argv) {
  std::u16string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += u' ';
    std::u16string arg = qk::FromUtf8(argv[i]);
    bool plain = !arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos;
    if (plain) {
      line += arg;
      continue;
    }
    line += u'"';
    size_t slashes = 0;
    for (char16_t c : arg) {
      if (c == u'\\') {
        ++slashes;
      } else {
        if (c == u'"') line.append(slashes + 1, u'\\');
        slashes = 0;
      }
      line += c;
    }
    line.append(slashes, u'\\');
    line += u'"';
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  qk::SetProgramName(u"Quillet.exe");
  if (!std::getenv("QUILLET_COMMAND_LINE")) qk::SetCommandLine(JoinArguments(argc, argv));
  std::error_code ec;
  std::string root = qk::DeviceRoot();
  std::filesystem::create_directories(root, ec);
  if (!std::filesystem::is_directory(root, ec) || ::access(root.c_str(), W_OK) != 0) return 1;

  CReaderApp app;
  qk::display::ConnectScreen();
  if (!app.m_bAlreadyRunning) qk::display::OpenWindow("Quillet");
  int code = AfxWinMain(nullptr, GetCommandLineW(), SW_SHOW);
  qk::display::CloseWindow();
  return code;
}
