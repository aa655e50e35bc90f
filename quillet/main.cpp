// The reader's entry point. The application object is built first, before
// anything else of the program runs; the device screen is shown in a window
// where a display exists (set QUILLET_HEADLESS to keep it hidden), and
// QUILLET_SCREENSHOT names a PNG file that receives the screen whenever it
// changed and the program is idle.
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "display/display.h"
#include "gdi/surface.h"
#include "kernel/fs.h"
#include "kernel/localmem.h"
#include "kernel/module.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/frame/reader_app.h"
#include "user/user.h"

int main(int argc, char** argv) {
  // Screen-sized buffers (window DCs over covered windows, back buffers,
  // pictures) come and go with every paint: kept in the heap and reused
  // rather than mapped, touched page by page and unmapped each time.
  mallopt(M_MMAP_THRESHOLD, 8 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
  qk::SetProgramName(u"Quillet.exe");
  // SIGTERM and SIGINT run the Exit command's steps from any screen, as the
  // window's close button does. Caught before the display opens, which
  // then leaves these signals to the program.
  qk::CatchEndSignals();
  if (!std::getenv("QUILLET_COMMAND_LINE")) qk::SetCommandLine(qk::JoinCommandLine(argc, argv));
  // The first screen's bitmaps and lists take about 6 MB of heap: brought
  // in beside the start rather than a page fault at a time in it. An update
  // task never draws and keeps its memory small.
  if (!CReaderApp::IsUpdateCommand(GetCommandLineW())) qk::WarmHeap(6 * 1024 * 1024);
  std::error_code ec;
  std::string root = qk::DeviceRoot();
  std::filesystem::create_directories(root, ec);
  if (!std::filesystem::is_directory(root, ec) || ::access(root.c_str(), W_OK) != 0) return 1;

  CReaderApp app;
  qk::display::ConnectScreen();
  if (!app.m_bAlreadyRunning) qk::display::OpenWindow("Quillet");
  int code = AfxWinMain(nullptr, GetCommandLineW(), SW_SHOW);
  qk::display::CloseWindow();
  // A lost display ends the session with a status of its own.
  return qk::display::DisplayLost() ? qk::display::kDisplayLostExitCode : code;
}
