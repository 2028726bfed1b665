#pragma once
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

// Running a built program of the project's as a user's shell would.

namespace quillet::testing {

// text as one word of the shell, whatever it holds.
inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct CliResult {
  int exitCode = -1;  // -1 when it did not exit by itself
  std::string out;
  std::string err;
};

// Runs program with args in dir, standard output and error kept. before goes
// ahead of the program (limits set on the run), after behind its redirections.
inline CliResult RunProgram(const std::string& program, const TempDir& dir, const std::vector<std::string>& args,
                            const std::string& before = "", const std::string& after = "") {
  std::string command = "cd " + Quote(dir.path()) + " && " + before + " exec " + Quote(program);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " >" + Quote(dir / ".out") + " 2>" + Quote(dir / ".err") + " " + after;
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(dir / ".out"), ReadBytes(dir / ".err")};
}

}  // namespace quillet::testing
