// SPDX-License-Identifier: MIT
// The count of pulse values. A tape is mostly a few pulse lengths (a zero, a
// one, a pause), so the values most frequent in the part before are counted
// sixteen pulses at a time with vector compares, and any 16 pulses holding
// another value are counted one by one, into four tables so that runs of
// one value do not wait on the same counter.
#include "pulse_histogram.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "pulse_classes.h"

namespace tapnames {
namespace {

constexpr std::size_t kValues = 256;
constexpr std::size_t kTables = 4;
constexpr std::size_t kHot = 4;
constexpr std::size_t kLanes = 16;
// A part: its hot values are chosen from the part before, and its 32-bit
// counts cannot overflow.
constexpr std::size_t kPart = std::size_t{64} * 1024;
// A lane's 8-bit count is taken out before it could wrap.
constexpr std::size_t kLaneRounds = 255;
// The values the first part is taken from.
constexpr std::size_t kSample = 256;

// Sixteen pulses, or sixteen counts of 0 to 255 (unsigned: they wrap, as
// they are taken out before). A compare gives -1 in each lane where it holds.
using Lanes = std::uint8_t __attribute__((vector_size(kLanes)));
using Matches = std::int8_t __attribute__((vector_size(kLanes)));

using Counts = std::array<std::uint32_t, kValues>;

// The kHot values counted most in `counts`.
std::array<std::uint8_t, kHot> most_frequent(const Counts& counts) {
  std::array<std::uint8_t, kValues> values{};
  std::iota(values.begin(), values.end(), std::uint8_t{0});
  std::partial_sort(values.begin(), values.begin() + kHot, values.end(),
                    [&counts](std::uint8_t a, std::uint8_t b) { return counts[a] > counts[b]; });
  std::array<std::uint8_t, kHot> hot{};
  std::copy_n(values.begin(), kHot, hot.begin());
  return hot;
}

bool all_set(Matches matches) {
  std::array<std::uint64_t, 2> halves{};
  std::memcpy(halves.data(), &matches, sizeof matches);
  return (halves[0] & halves[1]) == ~std::uint64_t{0};
}

std::uint32_t lane_sum(Lanes lanes) {
  std::uint32_t total = 0;
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    total += lanes[lane];
  }
  return total;
}

std::uint64_t sum(const std::array<std::uint64_t, kValues>& counts, std::size_t low,
                  std::size_t high) {
  return std::accumulate(counts.begin() + static_cast<std::ptrdiff_t>(low),
                         counts.begin() + static_cast<std::ptrdiff_t>(high) + 1, std::uint64_t{0});
}

// Counts `part` into `counts` (which it overwrites), the values `hot` sixteen
// pulses at a time.
void count_part(std::span<const std::uint8_t> part, const std::array<std::uint8_t, kHot>& hot,
                Counts& counts) {
  std::array<Counts, kTables> tables{};
  std::array<Lanes, kHot> wanted{};
  std::array<Lanes, kHot> lanes{};
  for (std::size_t h = 0; h < kHot; ++h) {
    wanted[h] = Lanes{} + hot[h];  // cppcheck-suppress constStatement
  }
  const auto take_lanes = [&] {
    for (std::size_t h = 0; h < kHot; ++h) {
      tables[0][hot[h]] += lane_sum(lanes[h]);
      lanes[h] = Lanes{};
    }
  };
  std::size_t at = 0;
  std::size_t rounds = 0;
  for (; at + kLanes <= part.size(); at += kLanes) {
    Lanes pulses;
    std::memcpy(&pulses, part.data() + at, kLanes);
    std::array<Matches, kHot> matches{};
    for (std::size_t h = 0; h < kHot; ++h) {
      matches[h] = pulses == wanted[h];
    }
    if (all_set(matches[0] | matches[1] | matches[2] | matches[3])) {
      for (std::size_t h = 0; h < kHot; ++h) {
        lanes[h] += __builtin_convertvector(matches[h], Lanes) & 1;
      }
      if (++rounds == kLaneRounds) {
        take_lanes();
        rounds = 0;
      }
      continue;
    }
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      ++tables[lane % kTables][part[at + lane]];
    }
  }
  take_lanes();
  for (; at < part.size(); ++at) {
    ++tables[0][part[at]];
  }
  for (std::size_t value = 0; value < kValues; ++value) {
    counts[value] = tables[0][value] + tables[1][value] + tables[2][value] + tables[3][value];
  }
}

}  // namespace

void PulseHistogram::clear() noexcept {
  counts_ = {};
  recent_ = {};
}

void PulseHistogram::add(std::span<const std::uint8_t> pulses) noexcept {
  while (!pulses.empty()) {
    const std::span<const std::uint8_t> part = pulses.first(std::min(pulses.size(), kPart));
    pulses = pulses.subspan(part.size());
    Counts& recent = recent_;
    if (std::all_of(recent.begin(), recent.end(), [](std::uint32_t c) { return c == 0; })) {
      for (const std::uint8_t pulse : part.first(std::min(part.size(), kSample))) {
        ++recent[pulse];
      }
    }
    count_part(part, most_frequent(recent), recent);
    for (std::size_t value = 0; value < kValues; ++value) {
      counts_[value] += recent[value];
    }
  }
}

std::uint64_t PulseHistogram::ones() const noexcept {
  return sum(counts_, kOneLow, kOneHigh);
}

std::uint64_t PulseHistogram::zeros() const noexcept {
  return sum(counts_, kZeroLow, kZeroHigh);
}

std::uint64_t PulseHistogram::total() const noexcept {
  return sum(counts_, 0, kValues - 1);
}

std::uint64_t PulseHistogram::out_of_range() const noexcept {
  return total() - ones() - zeros();
}

}  // namespace tapnames
