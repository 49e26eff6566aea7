// SPDX-License-Identifier: MIT
// The classifiers as a table, best first, and the classification of one
// piece of the image into its bit arrays.
#include "pulse_classes.h"

#include <algorithm>
#include <array>
#include <cassert>

#include "kernels.h"

namespace tapnames {
namespace {

using kernels::inside;
using kernels::kInRangeWidth;
using kernels::kOneWidth;

// Every classifier of this build, best first: the scan takes the first whose
// test passes. A new kernel is a file of its own and a row here.
constexpr std::array kClassifiers = {
#if defined(__wasm_simd128__)
    &kWasmSimd128Classifier,
#endif
#if TAPNAMES_WIDE_VECTORS
    &kAvx512Classifier,      &kAvx2Classifier,
#endif
#if TAPNAMES_X86_64
    &kSse2Classifier,
#endif
    &kPortableClassifier,
};

}  // namespace

std::span<const Classifier* const> all_classifiers() noexcept {
  return kClassifiers;
}

const Classifier& best_classifier() noexcept {
  const auto* const best =
      std::find_if(kClassifiers.begin(), kClassifiers.end(),
                   [](const Classifier* classifier) { return classifier->available(); });
  return best != kClassifiers.end() ? **best : kPortableClassifier;
}

void ClassifiedPulses::classify(std::span<const std::uint8_t> pulses,
                                const Classifier& classifier) noexcept {
  assert(pulses.size() <= kMaxClassifiedPulses);
  if (pulses.size() > kMaxClassifiedPulses) {
    pulses = pulses.first(kMaxClassifiedPulses);
  }
  pulses_ = pulses;
  const std::size_t whole = pulses.size() / kMaskWidth;
  classifier.classify_windows(
      pulses.data(), whole, {ones_.data(), in_range_.data(), locks_.data(), lock_summary_.data()});
  // The last, partial window (its missing pulses count as neither class), or
  // an empty one: the spare word that windows may read past the end.
  const std::size_t rest = pulses.size() % kMaskWidth;
  const std::uint8_t* tail = pulses.data() + (whole * kMaskWidth);
  PulseMask ones = 0;
  PulseMask in_range = 0;
  for (std::size_t i = 0; i < rest; ++i) {
    ones |= PulseMask{inside(tail[i], kOneLow, kOneWidth)} << i;
    in_range |= PulseMask{inside(tail[i], kZeroLow, kInRangeWidth)} << i;
  }
  ones_[whole] = ones;
  in_range_[whole] = in_range;
  locks_[whole] = lock_candidates(ones, whole == 0 ? 0 : ones_[whole - 1]);
  locks_[whole + 1] = 0;
  const std::size_t group = whole / kMaskWidth;
  const PulseMask below = (PulseMask{1} << (whole % kMaskWidth)) - 1;
  const PulseMask earlier = whole % kMaskWidth == 0 ? 0 : lock_summary_[group] & below;
  // The last word has no word after it with candidates.
  const PulseMask linked = linked_candidates(locks_[whole], 0);
  lock_summary_[group] = earlier | (PulseMask{linked != 0} << (whole % kMaskWidth));
  summary_words_ = group + 1;
}

}  // namespace tapnames
