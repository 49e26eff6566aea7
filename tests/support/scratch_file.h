// SPDX-License-Identifier: MIT
// A scratch file for tests that run on every platform.
#pragma once

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <process.h>  // _getpid
#endif

namespace support {

// A scratch file that is gone once the test is done with it. Windows'
// tmpfile() names its files from the clock and deletes each name before it
// opens it, so two test processes started together (ctest -j) can be given
// one file; there the name is made from the process id and a count instead.
class ScratchFile {
 public:
  ScratchFile() {
#ifdef _WIN32
    static int count = 0;
    path_ = "scratch-" + std::to_string(_getpid()) + "-" + std::to_string(count++) + ".tmp";
    file_ = std::fopen(path_.c_str(), "w+b");
#else
    file_ = std::tmpfile();
#endif
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
    if (!path_.empty()) {
      std::remove(path_.c_str());
    }
  }
  [[nodiscard]] std::FILE* get() const {
    return file_;
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

}  // namespace support
