// SPDX-License-Identifier: MIT
// An independent model of the whole scan, for differential tests and fuzz
// targets: the decoder, the name rendering and the result lines written the
// plainest way, one pulse and one byte at a time, sharing no code with src/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace model {

// The decoder's four fields; state 0 is searching, 1 the pilot, 2 the header.
struct Decoder {
  int state = 0;
  unsigned shift_register = 0;
  unsigned bit_count = 0;
  std::int32_t byte_count = 0;
};

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
