// SPDX-License-Identifier: MIT
// The model, step by step as the format and the tool's output are defined.
// It is slow and plain on purpose: read it against the definition, not
// against the code in src/.
#include "model.h"

#include <cstdint>
#include <cstdio>

namespace model {
namespace {

constexpr std::int32_t kLargestCount = 2147483647;  // counts stop here

bool is_one(unsigned pulse) {
  return pulse >= 33 && pulse <= 47;
}

bool is_zero(unsigned pulse) {
  return pulse >= 19 && pulse <= 32;
}

void count_byte(Decoder& d) {
  if (d.byte_count < kLargestCount) {
    d.byte_count = d.byte_count + 1;
  }
}

// Bit 7 falls off, bit 0 becomes 0; a one then sets bit 0.
void shift(Decoder& d, unsigned pulse) {
  d.shift_register = (d.shift_register * 2) % 256;
  if (is_one(pulse)) {
    d.shift_register = d.shift_register + 1;
  }
}

// Tells of a pilot that came to nothing, if anyone listens.
void miss(Decoder& d, const char* reason, int pilot_bytes, int position, unsigned got,
          unsigned want) {
  if (d.events == nullptr) {
    return;
  }
  Event e;
  e.kind = reason;
  e.pilot_start = d.pilot_start;
  e.pilot_bytes = pilot_bytes;
  e.at = d.pulse;
  e.position = position;
  e.got = got;
  e.want = want;
  d.events->push_back(e);
}

// An out-of-range pulse ends the block: the end of the image, a pilot too
// short, or the pilot or the header byte being assembled broken.
void broken(Decoder& d, unsigned pulse, int pilot_bytes, int position) {
  if (d.end) {
    miss(d, "end-of-image", pilot_bytes, position, 0, 0);
  } else if (position == 0 && pilot_bytes < 959) {
    miss(d, "short-pilot", pilot_bytes, 0, pulse, 0);
  } else {
    miss(d, "out-of-range", pilot_bytes, position, pulse, 0);
  }
}

int searching(Decoder& d, unsigned pulse) {
  shift(d, pulse);  // out-of-range pulses count as zero here
  if (d.shift_register == 2) {
    d.bit_count = 0;
    d.byte_count = 1;
    d.state = 1;
    // The pilot starts with the first pulse of the byte the register holds.
    d.pilot_start = d.pulse >= 7 ? d.pulse - 7 : 0;
  }
  return 0;
}

// The steps the pilot and the header share: shift the pulse in; an
// out-of-range pulse ends the block (back to searching); count the bit, and
// every eighth bit the byte. Returns true when a byte was completed.
bool take_bit(Decoder& d, unsigned pulse) {
  shift(d, pulse);
  if (!is_one(pulse) && !is_zero(pulse)) {
    d.state = 0;
    return false;
  }
  d.bit_count = d.bit_count + 1;
  if (d.bit_count < 8) {
    return false;
  }
  d.bit_count = 0;
  count_byte(d);
  return true;
}

int pilot(Decoder& d, unsigned pulse) {
  const std::int32_t pilot_bytes = d.byte_count;  // the 0x02 bytes so far
  if (take_bit(d, pulse)) {
    if (d.shift_register == 2) {
      // still the pilot
    } else if (d.byte_count >= 960) {
      d.byte_count = 1;
      d.state = 2;
      d.pilot_bytes = pilot_bytes;
    } else {
      d.state = 0;
      miss(d, "short-pilot", pilot_bytes, 0, d.shift_register, 0);
    }
  } else if (d.state == 0) {
    broken(d, pulse, pilot_bytes, 0);
  }
  return 0;
}

int header(Decoder& d, unsigned pulse, unsigned char* name) {
  if (d.bit_count == 0) {
    const std::int32_t position = d.byte_count;
    if (position >= 1 && position <= 9 && d.shift_register != unsigned(10 - position)) {
      d.state = 0;
      miss(d, "sync", d.pilot_bytes, position, d.shift_register, unsigned(10 - position));
      return 0;
    }
    if (position == 10 && d.shift_register != 1 && d.shift_register != 2) {
      d.state = 0;
      miss(d, "block-type", d.pilot_bytes, position, d.shift_register, 0);
      return 0;
    }
    if (position >= 10 && position <= 15) {
      d.header[position] = d.shift_register;
    }
    if (position >= 16 && position <= 31) {
      name[position - 16] = static_cast<unsigned char>(d.shift_register);
    }
    if (position == 31) {
      d.state = 0;
      return 1;
    }
  }
  const int position = d.byte_count + 1;  // the byte being assembled
  take_bit(d, pulse);
  if (d.state == 0) {
    broken(d, pulse, d.pilot_bytes, position);
  }
  return 0;
}

// One line per code, as in the definition.
// clang-format off
const char* low_name(unsigned code) {
  switch (code) {
    case 0x05: return "{WHITE}";
    case 0x08: return "{DISABLE SHIFT+C=}";
    case 0x09: return "{ENABLE SHIFT+C=}";
    case 0x0D: return "{RETURN}";
    case 0x0E: return "{SMALL CHARS}";
    case 0x11: return "{CURS DOWN}";
    case 0x12: return "{REVERSE ON}";
    case 0x13: return "{HOME}";
    case 0x14: return "{INST DEL}";
    case 0x1C: return "{RED}";
    case 0x1D: return "{CURS RIGHT}";
    case 0x1E: return "{GREEN}";
    case 0x1F: return "{BLU}";
    default: return ".";
  }
}

const char* high_name(unsigned code) {
  switch (code) {
    case 0x85: return "{F1}";
    case 0x86: return "{F2}";
    case 0x87: return "{F3}";
    case 0x88: return "{F4}";
    case 0x89: return "{F5}";
    case 0x8A: return "{F6}";
    case 0x8B: return "{F7}";
    case 0x8C: return "{F8}";
    case 0x8D: return "{SHIFT+RETURN}";
    case 0x8E: return "{CAPITAL CHARS}";
    case 0x90: return "{BLACK}";
    case 0x91: return "{CURS UP}";
    case 0x92: return "{REVERSE OFF}";
    case 0x93: return "{CLEAR & HOME}";
    case 0x94: return "{SHIFT+INST DEL}";
    case 0x9C: return "{PURPLE}";
    case 0x9D: return "{CURS LEFT}";
    case 0x9E: return "{YELLOW}";
    case 0x9F: return "{CYAN}";
    case 0xA0: return "{SHIFT+SPACE}";
    default: return ".";
  }
}
// clang-format on

}  // namespace

int feed_pulse(Decoder& decoder, unsigned pulse, unsigned char* name) {
  pulse = pulse % 256;
  if (decoder.state == 0) {
    return searching(decoder, pulse);
  }
  if (decoder.state == 1) {
    return pilot(decoder, pulse);
  }
  return header(decoder, pulse, name);
}

std::string render_name(unsigned char* name, bool escape) {
  for (int i = 15; i >= 0 && name[i] == 0x20; --i) {
    name[i] = 0;
  }
  std::string text;
  for (int i = 0; i < 16 && name[i] != 0; ++i) {
    const unsigned c = name[i];
    if (c <= 0x1F) {
      if (escape)
        text += low_name(c);
    } else if (c <= 0x5D) {
      text += static_cast<char>(c);
    } else if (c <= 0x7F) {
      if (escape)
        text += ".";
    } else if (c <= 0xA0) {
      if (escape)
        text += high_name(c);
    } else {
      text += ".";
    }
  }
  return text;
}

std::vector<Event> inspect(const std::vector<std::uint8_t>& tape, int min_pilot, bool all) {
  std::vector<Event> events;
  Decoder decoder;
  decoder.events = &events;
  unsigned char name[17] = {};
  // Every byte, then the end of the file once as pulse 255.
  for (std::size_t i = 0; i <= tape.size(); ++i) {
    decoder.pulse = i;
    decoder.end = i == tape.size();
    const unsigned pulse = i < tape.size() ? tape[i] : 255;
    if (feed_pulse(decoder, pulse, name) == 1) {
      Event e;
      e.kind = "name";
      e.pilot_start = decoder.pilot_start;
      e.pilot_bytes = decoder.pilot_bytes;
      e.at = i;
      e.block_type = decoder.header[10];
      for (int k = 11; k <= 15; ++k) {
        e.header_bytes += static_cast<char>(decoder.header[k]);
      }
      e.name = std::string(reinterpret_cast<const char*>(name), 16);
      events.push_back(e);
    }
  }
  std::vector<Event> told;
  for (const Event& e : events) {
    if (e.kind == "name" || all || e.pilot_bytes >= min_pilot) {
      told.push_back(e);
    }
  }
  return told;
}

std::string scan_output(const std::vector<std::uint8_t>& tape, bool extract_all, bool escape) {
  Decoder decoder;
  unsigned char name[17] = {};
  std::string out;
  unsigned long long found = 0;
  // Every byte, then the end of the file once as pulse 255.
  for (std::size_t i = 0; i <= tape.size(); ++i) {
    const unsigned pulse = i < tape.size() ? tape[i] : 255;
    if (feed_pulse(decoder, pulse, name) == 1) {
      ++found;
      name[16] = 0;
      if (extract_all) {
        char number[32];
        std::snprintf(number, sizeof number, "%03llu", found);
        out += "FOUND (" + std::string(number) + "): \"";
      } else {
        out += "FOUND: \"";
      }
      out += render_name(name, escape) + "\"\n";
      if (!extract_all) {
        break;
      }
    }
  }
  return out;
}

}  // namespace model
