#include "tests/support/test_support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace testsupport {

std::string SourcePath(const std::string& relative) {
  return std::string(QUENDREL_SOURCE_DIR) + "/" + relative;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  std::fclose(file);
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quendrel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string BuiltProgram(const std::string& relative) {
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  return (exe.parent_path().parent_path() / relative).string();
}

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args) {
  TempDir dir;
  std::string command = ShellQuoted(program);
  for (const std::string& arg : args) command += " " + ShellQuoted(arg);
  command += " >" + ShellQuoted(dir.File("out")) + " 2>" + ShellQuoted(dir.File("err"));
  const int raw = std::system(command.c_str());
  CommandResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const std::vector<uint8_t> out = ReadFileBytes(dir.File("out"));
  const std::vector<uint8_t> err = ReadFileBytes(dir.File("err"));
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  return result;
}

bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds guard) {
  auto deadline = std::chrono::steady_clock::now() + guard;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) return predicate();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace testsupport
