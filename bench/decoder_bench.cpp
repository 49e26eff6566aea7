// SPDX-License-Identifier: MIT
// Decoder throughput: the per-pulse reference loop against the bulk path and
// the scan core, on the same synthetic tape, in pulses per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <optional>

#include "bench_tape.h"
#include "decoder/pulse_decoder.h"
#include "scan.h"
#include "scanner/scanner.h"

namespace {

const std::vector<std::uint8_t>& tape() {
  static const std::vector<std::uint8_t> segment = tapes::bench_tape_segment(1);
  return segment;
}

// One pulse is one byte of the image, so items/s and bytes/s are the same.
void report(benchmark::State& state, std::size_t pulses, int names) {
  const auto total = state.iterations() * static_cast<std::int64_t>(pulses);
  state.SetItemsProcessed(total);
  state.SetBytesProcessed(total);
  state.counters["names"] = static_cast<double>(names) / static_cast<double>(state.iterations());
}

// Decodes the whole tape once per iteration with `decode`, which returns the
// number of names it found.
template <typename Decode>
void measure(benchmark::State& state, Decode decode) {
  const auto& pulses = tape();
  int names = 0;
  for (auto _ : state) {
    tapnames::PulseDecoder decoder;
    tapnames::TapeName name{};
    names += decode(decoder, name, pulses);
    benchmark::DoNotOptimize(names);
  }
  report(state, pulses.size(), names);
}

// The classifier the benchmark's argument names; none, and the benchmark
// skipped, when this CPU lacks it.
std::optional<tapnames::Classifier> classifier_argument(benchmark::State& state) {
  const auto classifier = static_cast<tapnames::Classifier>(state.range(0));
  if (!tapnames::classifier_available(classifier)) {
    state.SkipWithError("classifier not available on this CPU");
    return std::nullopt;
  }
  return classifier;
}

void per_pulse(benchmark::State& state) {
  measure(state, [](tapnames::PulseDecoder& decoder, tapnames::TapeName& name,
                    std::span<const std::uint8_t> pulses) {
    int names = 0;
    for (const std::uint8_t pulse : pulses) {
      names += decoder.feed_pulse(pulse, name);
    }
    return names;
  });
}

// The bulk path with the classifier given as the benchmark's argument.
void bulk(benchmark::State& state) {
  const auto classifier = classifier_argument(state);
  if (!classifier) {
    return;
  }
  measure(state, [classifier](tapnames::PulseDecoder& decoder, tapnames::TapeName& name,
                              std::span<const std::uint8_t> pulses) {
    // As the scan does: classify one piece, then walk it.
    static tapnames::ClassifiedPulses classified;
    int names = 0;
    while (!pulses.empty()) {
      const std::size_t size = std::min(pulses.size(), tapnames::kMaxClassifiedPulses);
      classified.classify(pulses.first(size), *classifier);
      for (std::size_t at = 0; at < size;) {
        const auto result = decoder.feed_pulses(classified, at, name);
        names += result.found ? 1 : 0;
        at += result.consumed;
      }
      pulses = pulses.subspan(size);
    }
    return names;
  });
}

// The scan core as the command line drives it: pieces of one 128 KiB read,
// the results taken after each; the classifier is the argument.
void scan(benchmark::State& state) {
  const auto classifier = classifier_argument(state);
  if (!classifier) {
    return;
  }
  static tapnames::Scanner scanner;
  const auto& pulses = tape();
  int names = 0;
  for (auto _ : state) {
    scanner = tapnames::Scanner({true, false}, *classifier);
    for (std::size_t at = 0; at < pulses.size();) {
      const auto piece =
          std::span(pulses).subspan(at, std::min(tapnames::kReadSize, pulses.size() - at));
      for (std::size_t used = 0; used < piece.size();) {
        used += scanner.feed(piece.subspan(used));
        names += static_cast<int>(scanner.results().size());
        scanner.clear_results();
      }
      at += piece.size();
    }
    scanner.finish();
    names += static_cast<int>(scanner.results().size());
    benchmark::DoNotOptimize(names);
  }
  report(state, pulses.size(), names);
}

BENCHMARK(per_pulse)->Unit(benchmark::kMillisecond);
// Arguments: the classifiers, portable first (see tapnames::Classifier).
BENCHMARK(bulk)
    ->DenseRange(0, std::size(tapnames::kClassifiers) - 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(scan)
    ->DenseRange(0, std::size(tapnames::kClassifiers) - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
