// SPDX-License-Identifier: MIT
// The formats of tapnames-inspect: the text report, JSON Lines and TSV.
#include "report.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

#include "name_render.h"
#include "records.h"

namespace inspect {
namespace {

using tapnames::NearMiss;

constexpr std::size_t kBarWidth = 50;
// The names of the tsv columns, a header line.
constexpr std::array<std::string_view, 14> kTsvColumns = {
    "path",     "kind", "reason", "at",         "pilot_start",  "pilot_bytes", "offset",
    "position", "got",  "want",   "block_type", "header_bytes", "name",        "name_hex"};

template <typename... Args>
void append_format(std::string& out, const char* format, Args... args) {
  std::array<char, 128> text{};
  const int length = std::snprintf(text.data(), text.size(), format, args...);
  out.append(text.data(), static_cast<std::size_t>(std::clamp(length, 0, 127)));
}

void append_number(std::string& out, std::uint64_t value) {
  append_format(out, "%" PRIu64, value);
}

void append_hex(std::string& out, std::span<const std::uint8_t> bytes, bool spaced) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    append_format(out, spaced && i != 0 ? " %02x" : "%02x", unsigned{bytes[i]});
  }
}

std::string rendered(const Event& event, bool escape) {
  std::array<char, tapnames::kMaxRenderedName> text{};
  const std::size_t length = tapnames::render_name(event.name, escape, text);
  return {text.data(), length};
}

// Which of position, got and want a near miss has.
bool has_position(NearMiss reason) {
  return reason != NearMiss::ShortPilot;
}
bool has_got(NearMiss reason) {
  return reason != NearMiss::EndOfImage;
}
bool has_want(NearMiss reason) {
  return reason == NearMiss::Sync;
}

void append_json_path(std::string& out, std::string_view path) {
  if (catalogue::is_utf8(path)) {
    out += "{\"path\":";
    catalogue::append_json_string(out, path);
  } else {
    out += "{\"path_base64\":\"";
    catalogue::append_base64(out, path);
    out += '"';
  }
}

void append_json_field(std::string& out, std::string_view key, std::uint64_t value) {
  out += ",\"";
  out += key;
  out += "\":";
  append_number(out, value);
}

void append_jsonl_event(std::string& out, bool escape, std::string_view path, const Event& e) {
  append_json_path(out, path);
  if (e.kind == EventKind::Name) {
    out += ",\"kind\":\"name\"";
    append_json_field(out, "offset", e.offset);
  } else {
    out += ",\"kind\":\"near-miss\",\"reason\":\"";
    out += reason_name(e.reason);
    out += '"';
  }
  append_json_field(out, "pilot_start", e.pilot_start);
  append_json_field(out, "pilot_bytes", static_cast<std::uint64_t>(e.pilot_bytes));
  append_json_field(out, "at", e.at);
  if (e.kind == EventKind::Name) {
    append_json_field(out, "block_type", e.block_type);
    out += ",\"header_bytes\":\"";
    append_hex(out, e.header_bytes, false);
    out += "\",\"name\":";
    catalogue::append_json_string(out, rendered(e, escape));
    out += ",\"name_hex\":\"";
    append_hex(out, e.name, false);
    out += "\"}\n";
    return;
  }
  if (has_position(e.reason)) {
    append_json_field(out, "position", static_cast<std::uint64_t>(e.position));
  }
  if (has_got(e.reason)) {
    append_json_field(out, "got", e.got);
  }
  if (has_want(e.reason)) {
    append_json_field(out, "want", e.want);
  }
  out += "}\n";
}

void append_tsv_event(std::string& out, bool escape, std::string_view path, const Event& e) {
  const bool name = e.kind == EventKind::Name;
  catalogue::append_tsv_field(out, path);
  out += name ? "\tname\t" : "\tnear-miss\t";
  out += name ? std::string_view() : reason_name(e.reason);
  out += '\t';
  append_number(out, e.at);
  out += '\t';
  append_number(out, e.pilot_start);
  out += '\t';
  append_number(out, static_cast<std::uint64_t>(e.pilot_bytes));
  const auto optional = [&out](bool present, std::uint64_t value) {
    out += '\t';
    if (present) {
      append_number(out, value);
    }
  };
  optional(name, e.offset);
  optional(!name && has_position(e.reason), static_cast<std::uint64_t>(e.position));
  optional(!name && has_got(e.reason), e.got);
  optional(!name && has_want(e.reason), e.want);
  optional(name, e.block_type);
  out += '\t';
  if (name) {
    append_hex(out, e.header_bytes, false);
    out += '\t';
    catalogue::append_tsv_field(out, rendered(e, escape));
    out += '\t';
    append_hex(out, e.name, false);
  } else {
    out += "\t\t";
  }
  out += '\n';
}

void append_text_event(std::string& out, bool escape, const Event& e) {
  append_format(out, "  %12" PRIu64 " %12" PRIu64 " %9" PRId32 "  ", e.at, e.pilot_start,
                e.pilot_bytes);
  if (e.kind == EventKind::Name) {
    out += "name \"";
    out += rendered(e, escape);
    append_format(out, "\" (offset %" PRIu64 ", block type %u, header ", e.offset,
                  unsigned{e.block_type});
    append_hex(out, e.header_bytes, true);
    out += ")\n";
    return;
  }
  out += reason_name(e.reason);
  switch (e.reason) {
    case NearMiss::ShortPilot:
      append_format(out, ": ended by 0x%02x\n", e.got);
      break;
    case NearMiss::Sync:
      append_format(out, ": header byte %d was 0x%02x, not 0x%02x\n", e.position, e.got, e.want);
      break;
    case NearMiss::BlockType:
      append_format(out, ": 0x%02x, neither 1 nor 2\n", e.got);
      break;
    case NearMiss::OutOfRange:
      if (e.position == 0) {
        append_format(out, ": pulse %u broke the pilot\n", e.got);
      } else {
        append_format(out, ": pulse %u in header byte %d\n", e.got, e.position);
      }
      break;
    case NearMiss::EndOfImage:
      if (e.position == 0) {
        out += ": inside the pilot\n";
      } else {
        append_format(out, ": inside header byte %d\n", e.position);
      }
      break;
  }
}

void append_text_histogram(std::string& out, const tapnames::PulseHistogram& histogram) {
  const auto& counts = histogram.counts();
  const std::uint64_t largest = *std::max_element(counts.begin(), counts.end());
  out += "  pulse lengths (Z: a zero, 19 to 32; O: a one, 33 to 47):\n";
  for (std::size_t value = 0; value < counts.size(); ++value) {
    if (counts[value] == 0) {
      continue;
    }
    const bool zero = value >= tapnames::kZeroLow && value <= tapnames::kZeroHigh;
    const bool one = value >= tapnames::kOneLow && value <= tapnames::kOneHigh;
    // At least one mark for a value that occurs at all.
    const auto bar = static_cast<int>(
        std::max<std::uint64_t>(1, (counts[value] * kBarWidth + largest - 1) / largest));
    append_format(out, "  %5u %c %-*s %" PRIu64 "\n", static_cast<unsigned>(value),
                  zero ? 'Z' : (one ? 'O' : ' '), static_cast<int>(kBarWidth),
                  std::string(static_cast<std::size_t>(bar), '#').c_str(), counts[value]);
  }
}

}  // namespace

std::string_view reason_name(NearMiss reason) {
  switch (reason) {
    case NearMiss::ShortPilot:
      return "short-pilot";
    case NearMiss::Sync:
      return "sync";
    case NearMiss::BlockType:
      return "block-type";
    case NearMiss::OutOfRange:
      return "out-of-range";
    case NearMiss::EndOfImage:
      return "end-of-image";
  }
  return "unknown";
}

void append_start(std::string& out, Format format) {
  if (format == Format::Tsv) {
    for (const std::string_view column : kTsvColumns) {
      out += column;
      out += column == kTsvColumns.back() ? '\n' : '\t';
    }
  }
}

void append_image_start(std::string& out, Format format, std::string_view path) {
  if (format == Format::Text) {
    out += path;
    out += "\n            at  pilot start pilot bytes event\n";
  }
}

void append_event(std::string& out, Format format, bool escape, std::string_view path,
                  const Event& event) {
  switch (format) {
    case Format::Text:
      append_text_event(out, escape, event);
      break;
    case Format::Jsonl:
      append_jsonl_event(out, escape, path, event);
      break;
    case Format::Tsv:
      append_tsv_event(out, escape, path, event);
      break;
  }
}

void append_image_end(std::string& out, Format format, std::string_view path,
                      const Inspector& inspector) {
  const tapnames::PulseHistogram& histogram = inspector.histogram();
  if (format == Format::Text) {
    append_text_histogram(out, histogram);
    append_format(out,
                  "  %" PRIu64 " pulses: %" PRIu64 " ones, %" PRIu64 " zeros, %" PRIu64
                  " out of range; names: %" PRIu64 ", near misses: %" PRIu64 "\n\n",
                  inspector.size(), histogram.ones(), histogram.zeros(), histogram.out_of_range(),
                  inspector.names(), inspector.near_misses());
  } else if (format == Format::Jsonl) {
    append_json_path(out, path);
    out += ",\"kind\":\"histogram\",\"counts\":[";
    for (std::size_t value = 0; value < histogram.counts().size(); ++value) {
      if (value != 0) {
        out += ',';
      }
      append_number(out, histogram.counts()[value]);
    }
    out += ']';
    append_json_field(out, "ones", histogram.ones());
    append_json_field(out, "zeros", histogram.zeros());
    append_json_field(out, "out_of_range", histogram.out_of_range());
    out += "}\n";
    append_json_path(out, path);
    out += ",\"kind\":\"summary\"";
    append_json_field(out, "size", inspector.size());
    append_json_field(out, "names", inspector.names());
    append_json_field(out, "near_misses", inspector.near_misses());
    out += "}\n";
  }
}

}  // namespace inspect
