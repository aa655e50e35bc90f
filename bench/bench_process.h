// Starting a program under measurement as a child process.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace qbench {

// Starts argv with the environment changed by env ("NAME=value" sets,
// "NAME" unsets); its input and output go to /dev/null. The program is
// spawned, as the system's programs start one another, so that the time
// measured from here does not count copying this program's own memory.
// The child's pid, or -1 when it could not be made.
inline pid_t SpawnQuiet(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<std::string> vars;
  for (char** e = environ; *e; ++e) {
    bool changed = false;
    for (const std::string& c : env) {
      const std::string name = c.substr(0, c.find('='));
      changed = changed || (std::strncmp(*e, name.c_str(), name.size()) == 0 && (*e)[name.size()] == '=');
    }
    if (!changed) vars.push_back(*e);
  }
  for (const std::string& c : env)
    if (c.find('=') != std::string::npos) vars.push_back(c);
  std::vector<char*> envp, args;
  for (std::string& v : vars) envp.push_back(v.data());
  envp.push_back(nullptr);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

}  // namespace qbench
