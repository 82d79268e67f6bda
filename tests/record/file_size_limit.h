#pragma once

#include <sys/resource.h>

#include <csignal>

namespace avitest {

// Lowers this process's file size limit for the life of the object, as a full disk would
// stop the writes, and turns the signal that would kill the process into a failed write.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old);
    previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = old;
    lower.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old{};
  void (*previous)(int) = SIG_DFL;
};

}  // namespace avitest
