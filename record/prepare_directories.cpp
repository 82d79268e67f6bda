#include "record/prepare_directories.h"

#include <sys/stat.h>

int PrepareDirectories(const std::string& path) {
  for (size_t p = path.find('/'); p != std::string::npos; p = path.find('/', p + 1)) {
    // The empty prefix before a leading '/' is the root, which always exists.
    if (p == 0) continue;
    const std::string prefix = path.substr(0, p);
    struct stat entry {};
    // Any entry of that name counts as present, a file too: then the deeper directories
    // cannot be made and the caller's open fails, as it should.
    if (lstat(prefix.c_str(), &entry) != 0) mkdir(prefix.c_str(), 0777);
  }
  return 1;
}
