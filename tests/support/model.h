// SPDX-License-Identifier: MIT
// An independent model of the whole scan, for differential tests and fuzz
// targets: the decoder, the name rendering and the result lines written the
// plainest way, one pulse and one byte at a time, sharing no code with src/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace model {

struct Event;

// The decoder's four fields; state 0 is searching, 1 the pilot, 2 the header.
// With `events`, it also tells what happens to each pilot (see inspect).
struct Decoder {
  int state = 0;
  unsigned shift_register = 0;
  unsigned bit_count = 0;
  std::int32_t byte_count = 0;
  std::vector<Event>* events = nullptr;
  unsigned long long pulse = 0;  // the image position of the pulse being fed
  bool end = false;              // it is the end of the image
  unsigned long long pilot_start = 0;
  int pilot_bytes = 0;
  unsigned header[16] = {};  // header bytes 10 to 15, as examined
};

// A name, or a pilot that came to nothing: kind is "name" or the reason,
// "short-pilot", "sync", "block-type", "out-of-range" or "end-of-image".
struct Event {
  std::string kind;
  unsigned long long pilot_start = 0;
  int pilot_bytes = 0;
  unsigned long long at = 0;
  int position = 0;
  unsigned got = 0;
  unsigned want = 0;
  unsigned block_type = 0;
  std::string header_bytes;  // five, as they are
  std::string name;          // sixteen, as they are
};

// What happens to every pilot of `tape`: its names, and the pilots of at
// least `min_pilot` bytes (any, with `all`) that came to nothing, in order.
std::vector<Event> inspect(const std::vector<std::uint8_t>& tape, int min_pilot, bool all);

// Feeds one pulse; returns 1 when it completed a name, which is then in
// name[0..15].
int feed_pulse(Decoder& decoder, unsigned pulse, unsigned char* name);

// The text of a name: trailing spaces trimmed (in `name`, to zeros), then the
// bytes up to the first zero, each written as itself, by name, as "." or not
// at all.
std::string render_name(unsigned char* name, bool escape);

// Every result line the scan writes for the image `tape`.
std::string scan_output(const std::vector<std::uint8_t>& tape, bool extract_all, bool escape);

}  // namespace model
