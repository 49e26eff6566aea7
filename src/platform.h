// SPDX-License-Identifier: MIT
// What differs between operating systems, kept in one place: opening the
// image for binary reading, and making the output streams binary so that
// every line ends in "\n" everywhere.
#pragma once

#include <cstdio>

namespace tapnames {

struct OpenedImage {
  std::FILE* file = nullptr;  // null when the image could not be opened
  // Set when it could not be opened because it is a directory: some systems
  // refuse to open one, others open it and fail the first read, and the user
  // should hear the same either way.
  bool is_directory = false;
};

OpenedImage open_image(const char* path) noexcept;

// Standard output and standard error write bytes as they are.
void use_binary_output() noexcept;

}  // namespace tapnames
