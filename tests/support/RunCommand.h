// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <string>

namespace vrk::test {

// Another process's standard output, as a shell command line gives it.
inline std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    ::pclose(pipe);
  }
  return out;
}

}  // namespace vrk::test
