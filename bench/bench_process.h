// Starting a program under measurement as a child process.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace qbench {

// Starts argv with the environment changed by env ("NAME=value" sets,
// "NAME" unsets); its input and output go to /dev/null. The child's pid,
// or -1 when it could not be made.
inline pid_t SpawnQuiet(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : env) {
      size_t eq = e.find('=');
      if (eq == std::string::npos) unsetenv(e.c_str());
      else setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

}  // namespace qbench
