#include "support/device_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kernel/process.h"

namespace fs = std::filesystem;

namespace qtest {

void DeviceTest::SetUp() {
  std::string tmpl = (fs::temp_directory_path() / "quillet-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  ASSERT_NE(made, nullptr);
  root_ = made;
  qk::SetDeviceRoot(root_);
  qk::UseRealClock();
  qk::SetTimeZoneOffset(0);
  qk::SetLocale(qk::Locale());
  qk::SetProgramName(u"Quillet.exe");
  // The installed programs' folder exists on every device.
  std::error_code ec;
  fs::create_directories(root_ + "/Program Files/Quillet", ec);
}

void DeviceTest::TearDown() {
  std::error_code ec;
  if (!root_.empty() && std::getenv("QUILLET_KEEP_TEST_ROOT") == nullptr) fs::remove_all(root_, ec);
}

void DeviceTest::WriteDeviceFile(const char16_t* devicePath, const std::string& bytes) {
  std::string host = qk::HostPath(devicePath);
  fs::create_directories(fs::path(host).parent_path());
  WriteHostFile(host, bytes);
}

std::string DeviceTest::ReadDeviceFile(const char16_t* devicePath) const {
  return ReadHostFile(qk::HostPath(devicePath));
}

bool DeviceTest::DeviceFileExists(const char16_t* devicePath) const {
  return fs::exists(qk::HostPath(devicePath));
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteHostFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string CorporaDir() {
  const char* env = std::getenv("QUILLET_CORPORA");
  std::string dir = env ? env : QUILLET_CORPORA_DIR;
  return fs::is_directory(dir) ? dir : std::string();
}

DWORD WaitForExitCode(HANDLE process, DWORD timeoutMs) {
  EXPECT_EQ(WaitForSingleObject(process, timeoutMs), WAIT_OBJECT_0) << "the process did not end";
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  return code;
}

void EndProcess(HANDLE process) {
  DWORD code = 0;
  if (GetExitCodeProcess(process, &code) && code == STILL_ACTIVE) TerminateProcess(process, 9);
  CloseHandle(process);
}

}  // namespace qtest
