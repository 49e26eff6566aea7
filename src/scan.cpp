// The scan loop: one read loop over a fixed buffer, with every read's result
// checked, feeding the decoder's bulk path.
#include "scan.h"

#include <unistd.h>

#include <array>
#include <cerrno>

namespace tapnames {
namespace {

constexpr std::size_t kReadBlockSize = std::size_t{128} * 1024;

}  // namespace

void NameScanner::report() noexcept {
  name_[kNameLength] = 0;
  sink_.on_name(name_);
  if (!extract_all_) {
    done_ = true;
  }
}

bool NameScanner::feed(std::span<const std::uint8_t> pulses) noexcept {
  while (!done_ && !pulses.empty()) {
    const BulkResult result = decoder_.feed_pulses(pulses, name_);
    pulses = pulses.subspan(result.consumed);
    if (result.found) {
      report();
    }
  }
  return !done_;
}

void NameScanner::finish() noexcept {
  if (!done_ && decoder_.feed_pulse(kEndOfFilePulse, name_) != 0) {
    report();
  }
  done_ = true;
}

ScanStatus scan_descriptor(int fd, NameScanner& scanner) noexcept {
  std::array<std::uint8_t, kReadBlockSize> buffer;  // NOLINT: filled by read
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return ScanStatus::ReadError;
    }
    if (got == 0) {
      scanner.finish();
      return ScanStatus::Complete;
    }
    if (!scanner.feed(std::span(buffer.data(), static_cast<std::size_t>(got)))) {
      return ScanStatus::Complete;
    }
  }
}

}  // namespace tapnames
