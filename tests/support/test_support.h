#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A file under the source tree, e.g. SourcePath("tests/data/h264_320x240.h264").
std::string SourcePath(const std::string& relative);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A fresh, empty directory for one test, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path; }
  std::string File(const std::string& name) const { return path + "/" + name; }

 private:
  std::string path;
};

// Text in single quotes for /bin/sh, whatever it holds.
std::string ShellQuoted(const std::string& text);

// A program built in this build tree, found from the test binary's own place
// (<build>/tests/...): BuiltProgram("tools/quendrel-tool").
std::string BuiltProgram(const std::string& relative);

struct CommandResult {
  int status = -1;  // the exit status, -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs program with args through the shell and collects its exit status and output.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args);

// Polls predicate every few milliseconds until it holds or the guard passes. Threaded tests
// wait on this with a generous guard, never on a fixed sleep.
bool WaitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds guard = std::chrono::seconds(20));

}  // namespace testsupport
