// SPDX-License-Identifier: MIT
// The images of the paths given, read as tapnames-catalogue reads them (its
// walk and readers): plain and gzipped images, the *.tap members of
// archives, folders walked. The one place that knows the catalogue's reader.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace inspect {

class ImageVisitor {
 public:
  ImageVisitor() = default;
  ImageVisitor(const ImageVisitor&) = delete;
  ImageVisitor& operator=(const ImageVisitor&) = delete;
  ImageVisitor(ImageVisitor&&) = delete;
  ImageVisitor& operator=(ImageVisitor&&) = delete;
  virtual ~ImageVisitor() = default;

  // An image begins: `path` as printed, ARCHIVE!MEMBER for a member.
  virtual void begin(std::string_view path) = 0;
  virtual void piece(std::span<const std::uint8_t> pulses) = 0;
  // The image has ended: read whole, or cut short for `error`.
  virtual void end(std::string_view error) = 0;
};

// A failure (or, with `failure` false, a note) about PATH.
using Message = std::function<void(std::string_view path, std::string_view reason, bool failure)>;

// Reads every image under `paths`, in the catalogue's order, into `visitor`.
void read_images(const std::vector<std::string>& paths, ImageVisitor& visitor,
                 const Message& message);

}  // namespace inspect
