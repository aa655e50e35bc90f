// A test fixture that gives every test its own device root (and so its own
// registry, program folder and storage card) in a temporary folder, a clock
// and locale in their default state, and helpers to reach device files.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "kernel/kernel.h"

namespace qtest {

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Host path of a device path.
  std::string Host(const char16_t* devicePath) const { return qk::HostPath(devicePath); }
  // Writes bytes to a device file, creating its folders.
  void WriteDeviceFile(const char16_t* devicePath, const std::string& bytes);
  // Reads a device file whole; empty when missing.
  std::string ReadDeviceFile(const char16_t* devicePath) const;
  bool DeviceFileExists(const char16_t* devicePath) const;

  std::string root_;  // host folder of this test's device root
};

// Reads a host file whole (empty when missing).
std::string ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::string& bytes);
// The shared test corpora folder, or empty when it is absent.
std::string CorporaDir();
// Waits (at most timeoutMs) for a started process to end and returns its
// exit code; a process that does not end fails the test.
DWORD WaitForExitCode(HANDLE process, DWORD timeoutMs = 10000);
// Ends a started process that still runs (kill -9) and closes its handle.
void EndProcess(HANDLE process);

}  // namespace qtest
