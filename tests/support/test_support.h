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

// Polls predicate every few milliseconds until it holds or the guard passes. Threaded tests
// wait on this with a generous guard, never on a fixed sleep.
bool WaitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds guard = std::chrono::seconds(20));

}  // namespace testsupport
