#include "app/command_line.h"

std::string CommandLinePath(int argc, const char* const* argv) {
  if (argc < 2 || argv == nullptr || argv[1] == nullptr) return std::string();
  std::string path(argv[1]);
  // Launchers that quote for a shell of their own may hand the quotes on; a plainly typed
  // path must stay whole.
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  return path;
}
