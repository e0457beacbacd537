// The benchmarks run the program in-process, in a folder of their own.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace qmrbench {

// While it lives, the working folder is `dir` and standard output (where
// each run shows its banner) goes to /dev/null.
class InQuietFolder {
public:
  explicit InQuietFolder(const std::filesystem::path &dir)
      : home_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    null_ = open("/dev/null", O_WRONLY);
    dup2(null_, STDOUT_FILENO);
  }
  ~InQuietFolder() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(null_);
    std::filesystem::current_path(home_);
  }
  InQuietFolder(const InQuietFolder &) = delete;
  InQuietFolder &operator=(const InQuietFolder &) = delete;

private:
  std::filesystem::path home_;
  int saved_ = -1;
  int null_ = -1;
};

} // namespace qmrbench
