// SPDX-License-Identifier: MIT
// The web page's WebAssembly module: the scan core and its renderer behind a
// few C functions. The page's worker copies each slice of an image into the
// input buffer and feeds it; the results found are read one by one (number,
// offset, block type, the 16 name bytes) and cleared. The page keeps each
// name's bytes and has them rendered into text, so that changing -e or -a
// renders again what was read without reading it again. The module has no
// entry point, imports nothing and allocates nothing: its memory is the input
// buffer, one name, one text buffer and one scanner, all static.
//
//   reset(all)                      a new image: every name (1) or the first (0)
//   feed(at, length) -> used        scans input()[at, at + length)
//   result_count(), result_*(i)     the names found since clear_results()
//   finish()                        the end of the image
//   render_line(flags, number)      name() as a result line, into text()
//   render_name(escape)             name() as between the quotes, into text()
//
// And the inspector of one image (src/inspect/inspector.h), for the image's
// detail: the events of its pilots and its histogram.
//   inspect_reset(min_pilot)        a new image
//   inspect_feed(at, length)        inspects input()[at, at + length), at most
//                                   kInspectPiece pulses; 0 if more
//   inspect_finish()                the end of the image
//   event_count(), event_*(i)       the events since event_clear()
//   histogram_count(value), inspect_size()
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "inspector.h"
#include "name_render.h"
#include "scanner.h"
#include "version.h"

namespace {

using tapnames::NameResult;
using tapnames::ScanMode;
using tapnames::Scanner;

// The most the worker copies in at once: eight classified reads of the core.
constexpr std::size_t kInputSize = std::size_t{1} << 20;
// The flags of render_line().
constexpr std::uint32_t kNumbered = 1;
constexpr std::uint32_t kEscape = 2;

alignas(16) std::array<std::uint8_t, kInputSize> input;  // NOLINT: filled by the worker
std::array<char, tapnames::kMaxResultLine> text;         // NOLINT: read by the page
std::array<std::uint8_t, tapnames::kNameLength> name;    // NOLINT: the name to render

// Made on first use (no global constructors to run: the module has no entry).
Scanner& scanner() {
  static Scanner instance;
  return instance;
}

// The result `index` of those held, or the last one if `index` is too large.
const NameResult& result(std::uint32_t index) {
  const std::span<const NameResult> results = scanner().results();
  return results[index < results.size() ? index : results.size() - 1];
}

std::uint32_t length_of(std::size_t length) {
  return static_cast<std::uint32_t>(length);
}

// The most pulses inspected at once, and the events they can bring with the
// least pilot the page asks for (64 bytes: 512 pulses a pilot at least);
// events past the buffer are counted, not kept.
constexpr std::size_t kInspectPiece = std::size_t{1} << 16;
constexpr std::size_t kMaxEvents = 256;

// Zeros, so that they take no room in the module (the sink, with its table
// of virtual functions, would).
std::array<inspect::Event, kMaxEvents> stored_events;  // NOLINT: the module's one buffer

class EventBuffer final : public inspect::EventSink {
 public:
  void take(const inspect::Event& event) override {
    if (count_ < stored_events.size()) {
      stored_events[count_++] = event;
    } else {
      ++dropped_;
    }
  }
  [[nodiscard]] std::uint32_t count() const { return length_of(count_); }
  [[nodiscard]] std::uint32_t dropped() const { return dropped_; }
  void clear() { count_ = 0; }
  // Event `index`, or an empty one past the end.
  [[nodiscard]] const inspect::Event& at(std::uint32_t index) const {
    static const inspect::Event kNone;
    if (index < count_) {
      return stored_events[index];
    }
    return kNone;
  }

 private:
  std::size_t count_ = 0;
  std::uint32_t dropped_ = 0;
};

EventBuffer& events() {
  static EventBuffer instance;
  return instance;
}

inspect::Inspector& inspector(std::int32_t min_pilot = inspect::kDefaultMinPilot) {
  static inspect::Inspector instance({.min_pilot = min_pilot});
  return instance;
}

}  // namespace

extern "C" {

__attribute__((export_name("input"))) std::uint8_t* input_buffer() {
  return input.data();
}
__attribute__((export_name("input_size"))) std::uint32_t input_size() {
  return kInputSize;
}
__attribute__((export_name("text"))) const char* text_buffer() {
  return text.data();
}
__attribute__((export_name("name"))) std::uint8_t* name_buffer() {
  return name.data();
}

// Writes the banner line the command-line tool starts with; returns its length.
__attribute__((export_name("banner"))) std::uint32_t banner() {
  constexpr std::string_view kName = "tapnames rel ";
  std::size_t at = 0;
  for (const std::string_view part : {kName, tapnames::kRelease, std::string_view("\n")}) {
    for (const char c : part) {
      text[at++] = c;
    }
  }
  return length_of(at);
}

// 1 when this module classifies with WebAssembly SIMD.
__attribute__((export_name("simd"))) std::uint32_t simd() {
  return &tapnames::best_classifier() != &tapnames::kPortableClassifier ? 1 : 0;
}

__attribute__((export_name("reset"))) void reset(std::uint32_t all) {
  scanner().reset(all != 0 ? ScanMode::AllNames : ScanMode::FirstName);
}

// Scans input[at, at + length) and returns the pulses used: all of them
// unless the results must be taken first or the scan is done.
__attribute__((export_name("feed"))) std::uint32_t feed(std::uint32_t at, std::uint32_t length) {
  if (at > kInputSize || length > kInputSize - at) {
    return 0;
  }
  return length_of(scanner().feed(std::span<const std::uint8_t>(input).subspan(at, length)));
}

__attribute__((export_name("finish"))) void finish() {
  scanner().finish();
}
__attribute__((export_name("done"))) std::uint32_t done() {
  return scanner().done() ? 1 : 0;
}

__attribute__((export_name("result_count"))) std::uint32_t result_count() {
  return length_of(scanner().results().size());
}
__attribute__((export_name("clear_results"))) void clear_results() {
  scanner().clear_results();
}

// Copies the name bytes of result `index` into name().
__attribute__((export_name("result_name"))) void result_name(std::uint32_t index) {
  if (!scanner().results().empty()) {
    name = result(index).name;
  }
}

// name() as the command-line tool's result line, numbered `number` when
// flags has kNumbered, into text(); returns its length.
__attribute__((export_name("render_line"))) std::uint32_t render_line(std::uint32_t flags,
                                                                      double number) {
  const std::uint64_t whole =
      number >= 0 && number < 0x1p64 ? static_cast<std::uint64_t>(number) : 0;
  return length_of(tapnames::render_result_line((flags & kNumbered) != 0, whole, name,
                                                (flags & kEscape) != 0, text));
}

// name() as it stands between the quotes of the result line, into text().
__attribute__((export_name("render_name"))) std::uint32_t render_name(std::uint32_t escape) {
  return length_of(tapnames::render_name(name, escape != 0,
                                         std::span(text).first<tapnames::kMaxRenderedName>()));
}

// The `length` bytes at the start of input() as a field of a tab-separated
// record, written after them; returns its length (0 when it does not fit).
__attribute__((export_name("tsv_field"))) std::uint32_t tsv_field(std::uint32_t length) {
  if (length > kInputSize / 3) {
    return 0;
  }
  const std::span<std::uint8_t> bytes(input);
  const std::string_view field(reinterpret_cast<const char*>(bytes.data()), length);  // NOLINT
  return length_of(tapnames::render_tsv_field(
      field, std::span(reinterpret_cast<char*>(bytes.data()) + length, 2 * length)));  // NOLINT
}

// Numbers and offsets as doubles, exact up to 2^53 (an image of 8 PiB).
__attribute__((export_name("result_number"))) double result_number(std::uint32_t index) {
  return scanner().results().empty() ? 0 : static_cast<double>(result(index).number);
}
__attribute__((export_name("result_offset"))) double result_offset(std::uint32_t index) {
  return scanner().results().empty() ? 0 : static_cast<double>(result(index).offset);
}
__attribute__((export_name("result_block_type"))) std::uint32_t result_block_type(
    std::uint32_t index) {
  return scanner().results().empty() ? 0 : result(index).block_type;
}

__attribute__((export_name("inspect_reset"))) void inspect_reset(std::uint32_t min_pilot) {
  const auto least =
      static_cast<std::int32_t>(min_pilot < 1 ? 1 : (min_pilot > 1000000 ? 1000000 : min_pilot));
  inspector() = inspect::Inspector({.min_pilot = least});
  events() = EventBuffer();
  inspector().start(events());
}
__attribute__((export_name("inspect_feed"))) std::uint32_t inspect_feed(std::uint32_t at,
                                                                        std::uint32_t length) {
  if (at > kInputSize || length > kInputSize - at || length > kInspectPiece) {
    return 0;
  }
  inspector().feed(std::span<const std::uint8_t>(input).subspan(at, length));
  return 1;
}
__attribute__((export_name("inspect_finish"))) void inspect_finish() {
  inspector().finish();
}
__attribute__((export_name("inspect_size"))) double inspect_size() {
  return static_cast<double>(inspector().size());
}
__attribute__((export_name("histogram_count"))) double histogram_count(std::uint32_t value) {
  return value < 256 ? static_cast<double>(inspector().histogram().counts()[value]) : 0;
}
__attribute__((export_name("event_count"))) std::uint32_t event_count() {
  return events().count();
}
__attribute__((export_name("event_dropped"))) std::uint32_t event_dropped() {
  return events().dropped();
}
__attribute__((export_name("event_clear"))) void event_clear() {
  events().clear();
}
// 0 for a name, else 1 + the reason (short pilot, sync, block type, out of
// range, end of image).
__attribute__((export_name("event_kind"))) std::uint32_t event_kind(std::uint32_t index) {
  const inspect::Event& event = events().at(index);
  return event.kind == inspect::EventKind::Name ? 0 : 1 + static_cast<std::uint32_t>(event.reason);
}
__attribute__((export_name("event_at"))) double event_at(std::uint32_t index) {
  return static_cast<double>(events().at(index).at);
}
__attribute__((export_name("event_offset"))) double event_offset(std::uint32_t index) {
  return static_cast<double>(events().at(index).offset);
}
__attribute__((export_name("event_pilot_start"))) double event_pilot_start(std::uint32_t index) {
  return static_cast<double>(events().at(index).pilot_start);
}
__attribute__((export_name("event_pilot_bytes"))) double event_pilot_bytes(std::uint32_t index) {
  return events().at(index).pilot_bytes;
}
__attribute__((export_name("event_position"))) std::uint32_t event_position(std::uint32_t index) {
  return static_cast<std::uint32_t>(events().at(index).position);
}
__attribute__((export_name("event_got"))) std::uint32_t event_got(std::uint32_t index) {
  return events().at(index).got;
}
__attribute__((export_name("event_want"))) std::uint32_t event_want(std::uint32_t index) {
  return events().at(index).want;
}
__attribute__((export_name("event_block_type"))) std::uint32_t event_block_type(
    std::uint32_t index) {
  return events().at(index).block_type;
}
// Copies the name bytes of event `index` into name(), and its five header
// bytes after them into text().
__attribute__((export_name("event_name"))) void event_name(std::uint32_t index) {
  const inspect::Event& event = events().at(index);
  name = event.name;
  for (std::size_t i = 0; i < event.header_bytes.size(); ++i) {
    text[i] = static_cast<char>(event.header_bytes[i]);
  }
}
}
