// SPDX-License-Identifier: MIT
// Scratch files and folders for tests that run on Windows too. Windows'
// tmpfile() names its files from the clock and deletes each name before it
// opens it, so two test processes started together (ctest -j) can be given
// one file; there a scratch file's name is made from the process id and a
// count instead. A scratch folder is named by the process id too: other
// users' runs on the same machine may be using the same temporary folder.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>  // _getpid
#else
#include <unistd.h>  // getpid
#endif

namespace support {

inline std::string process_id() {
#ifdef _WIN32
  return std::to_string(_getpid());
#else
  return std::to_string(getpid());
#endif
}

// A file open for reading and writing, gone when the object is.
class ScratchFile {
 public:
  ScratchFile() {
#ifdef _WIN32
    static int count = 0;
    path_ = "scratch-" + process_id() + "-" + std::to_string(count++) + ".tmp";
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

// A fresh folder in the system's temporary folder, removed with all it holds
// when the object is.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_(std::filesystem::temp_directory_path() / ("tapnames-" + name + "-" + process_id())) {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    std::filesystem::create_directories(path_, error);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace support
