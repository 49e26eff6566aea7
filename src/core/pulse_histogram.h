// SPDX-License-Identifier: MIT
// A count of every pulse value of an image, taken a piece at a time, and the
// counts of its ones, zeros and out-of-range pulses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tapnames {

class PulseHistogram {
 public:
  void clear() noexcept;
  // Counts the pulses of `pulses`.
  void add(std::span<const std::uint8_t> pulses) noexcept;

  // How many pulses of each value, 0 to 255.
  [[nodiscard]] const std::array<std::uint64_t, 256>& counts() const noexcept { return counts_; }
  [[nodiscard]] std::uint64_t ones() const noexcept;
  [[nodiscard]] std::uint64_t zeros() const noexcept;
  [[nodiscard]] std::uint64_t out_of_range() const noexcept;
  [[nodiscard]] std::uint64_t total() const noexcept;

 private:
  std::array<std::uint64_t, 256> counts_{};
  std::array<std::uint32_t, 256> recent_{};  // the last part's counts
};

}  // namespace tapnames
