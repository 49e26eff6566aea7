// SPDX-License-Identifier: MIT
// Decoder throughput: the per-pulse reference loop against the bulk path and
// the scan core, on the same synthetic tape, in pulses per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "bench_tape.h"
#include "pulse_decoder.h"
#include "scanner.h"

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

// The bulk path with `classifier`.
void bulk(benchmark::State& state, const tapnames::Classifier* classifier) {
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
// each name handed over as it is found; with `classifier`.
void scan(benchmark::State& state, const tapnames::Classifier* classifier) {
  static tapnames::Scanner scanner;
  const auto& pulses = tape();
  int names = 0;
  const auto count = [&names](const tapnames::NameResult& /*result*/) { ++names; };
  for (auto _ : state) {
    scanner = tapnames::Scanner(tapnames::ScanMode::AllNames, *classifier);
    for (std::size_t at = 0; at < pulses.size();) {
      const auto piece =
          std::span(pulses).subspan(at, std::min(tapnames::kReadSize, pulses.size() - at));
      scanner.scan(piece, count);
      at += piece.size();
    }
    scanner.finish(count);
    benchmark::DoNotOptimize(names);
  }
  report(state, pulses.size(), names);
}

}  // namespace

// The per-pulse loop, then the bulk path and the scan core with each
// classifier this CPU runs, named by it (bulk/avx2, scan/portable...); the
// classifiers it skips are said on standard error.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("per_pulse", per_pulse)->Unit(benchmark::kMillisecond);
  for (const tapnames::Classifier* classifier : tapnames::all_classifiers()) {
    const std::string name(classifier->name);
    if (!classifier->available()) {
      std::fprintf(stderr, "decoder_bench: skipped %s: not available on this CPU\n", name.c_str());
      continue;
    }
    benchmark::RegisterBenchmark(("bulk/" + name).c_str(), bulk, classifier)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("scan/" + name).c_str(), scan, classifier)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
