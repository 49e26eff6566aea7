// The scan: runs the pulses of a tape image through one decoder, in first-name
// or all-names mode, and hands every name found to a sink. Knows nothing of
// options or of how names are printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "decoder/pulse_decoder.h"

namespace tapnames {

// The end of the input reaches the decoder once, as this pulse value, so that
// a name whose last bit is the last byte of the file is still reported.
inline constexpr std::uint8_t kEndOfFilePulse = 255;

class NameSink {
 public:
  NameSink() = default;
  NameSink(const NameSink&) = delete;
  NameSink& operator=(const NameSink&) = delete;
  virtual ~NameSink() = default;
  // Called for each name found, with byte 16 of `name` already set to 0.
  virtual void on_name(TapeName& name) = 0;

 protected:
  NameSink(NameSink&&) = default;
  NameSink& operator=(NameSink&&) = default;
};

class NameScanner {
 public:
  NameScanner(bool extract_all, NameSink& sink) noexcept : extract_all_(extract_all), sink_(sink) {}

  // Feeds pulses in order. Returns false once the scan wants no more input
  // (first-name mode after its name).
  bool feed(std::span<const std::uint8_t> pulses) noexcept;
  // Marks the end of the input: feeds the end-of-file pulse unless done.
  void finish() noexcept;

  [[nodiscard]] bool done() const noexcept { return done_; }
  [[nodiscard]] const PulseDecoder& decoder() const noexcept { return decoder_; }

 private:
  void report() noexcept;

  PulseDecoder decoder_;
  TapeName name_{};
  bool extract_all_;
  bool done_ = false;
  NameSink& sink_;
};

enum class ScanStatus { Complete, ReadError };

// Reads the open descriptor `fd` in large blocks through `scanner` until the
// end of the input or the end of the scan. A failed read ends the scan with
// ReadError; no end-of-file pulse is fed then.
ScanStatus scan_descriptor(int fd, NameScanner& scanner) noexcept;

}  // namespace tapnames
