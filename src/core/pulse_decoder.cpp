// SPDX-License-Identifier: MIT
// The header block decoder: a three-state machine over pulse lengths, with a
// bulk path whose bit-parallel kernels skip whole windows of pulses where the
// outcome is known, and hand everything else to the same per-pulse step.
#include "pulse_decoder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <limits>

namespace tapnames {
namespace {

using State = DecoderState;

constexpr std::uint8_t kPilotByte = 0x02;
// The byte that ends the pilot is counted too, so 960 means 959 pilot bytes.
constexpr std::int32_t kMinPilotCount = kNamePilotBytes + 1;
constexpr std::int32_t kSyncLength = 9;
constexpr std::int32_t kBlockTypePosition = 10;
constexpr std::int32_t kFirstNamePosition = 16;
constexpr std::int32_t kLastNamePosition = kHeaderBytes;
constexpr unsigned kBitsPerByte = 8;
constexpr std::size_t kByteValues = 256;
constexpr std::int32_t kWindowBytes = kMaskWidth / kBitsPerByte;

enum class PulseClass : std::uint8_t { Zero, One, OutOfRange };

constexpr std::array<PulseClass, kByteValues> make_pulse_classes() {
  std::array<PulseClass, kByteValues> table{};
  for (std::size_t value = 0; value < table.size(); ++value) {
    if (value >= kOneLow && value <= kOneHigh) {
      table[value] = PulseClass::One;
    } else if (value >= kZeroLow && value <= kZeroHigh) {
      table[value] = PulseClass::Zero;
    } else {
      table[value] = PulseClass::OutOfRange;
    }
  }
  return table;
}

// Bit 7 - i of entry v is bit i of v: turns the bits of eight pulses in window
// order (earliest lowest) into shift register order (earliest highest).
constexpr std::array<std::uint8_t, kByteValues> make_reversed_bits() {
  std::array<std::uint8_t, kByteValues> table{};
  for (unsigned value = 0; value < table.size(); ++value) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < kBitsPerByte; ++bit) {
      reversed |= ((value >> bit) & 1U) << (kBitsPerByte - 1 - bit);
    }
    table[value] = static_cast<std::uint8_t>(reversed);
  }
  return table;
}

constexpr std::array<PulseClass, kByteValues> kPulseClasses = make_pulse_classes();
constexpr std::array<std::uint8_t, kByteValues> kReversedBits = make_reversed_bits();

// The pilot count stops at the largest int32 instead of overflowing.
constexpr std::int32_t saturating_add(std::int32_t count, std::int32_t amount) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  return count > kMax - amount ? kMax : count + amount;
}

constexpr std::uint8_t shifted_in(std::uint8_t shift_register, bool one) {
  return static_cast<std::uint8_t>((unsigned{shift_register} << 1U) | (one ? 1U : 0U));
}

// Who hears the per-pulse step. The fast paths' observer hears nothing, and
// the step compiles for it to the bare machine; `observe` gives a listening
// one, which knows the pulse being stepped and whether it is the end of the
// image.
// (cppcheck does not see the members read in `if constexpr`.)
struct Unheard {
  // cppcheck-suppress unusedStructMember
  static constexpr bool kHears = false;
};

struct Heard {
  // cppcheck-suppress unusedStructMember
  static constexpr bool kHears = true;
  // cppcheck-suppress unusedStructMember
  DecoderObserver& observer;
  std::size_t at = 0;
  bool end_of_image = false;
};

// The reason an out-of-range pulse gives, breaking a block: in the pilot
// (position 0, `pilot_bytes` counted) or at header byte `position`.
constexpr Miss broken_by(std::int32_t pilot_bytes, std::int32_t position, std::uint8_t pulse,
                         bool end_of_image) {
  if (end_of_image) {
    return {NearMiss::EndOfImage, pilot_bytes, position, 0, 0};
  }
  const bool long_pilot = position == 0 && pilot_bytes >= kNamePilotBytes;
  return {position != 0 || long_pilot ? NearMiss::OutOfRange : NearMiss::ShortPilot, pilot_bytes,
          position, pulse, 0};
}

// Locks on: the register reads 0x02, the lock's own byte is the pilot's first.
inline void lock_on(PulseDecoder::Fields& f) {
  f.shift_register = kPilotByte;
  f.bit_count = 0;
  f.byte_count = 1;
  f.state = State::Pilot;
}

// Shifts a pulse in as a bit of the current tape block. An out-of-range pulse
// abandons the block (the register keeps the shifted value). Returns true when
// the pulse completed a byte.
inline bool shift_in_block(PulseDecoder::Fields& f, PulseClass pulse_class) {
  f.shift_register = shifted_in(f.shift_register, pulse_class == PulseClass::One);
  if (pulse_class == PulseClass::OutOfRange) {
    f.state = State::Searching;
    return false;
  }
  if (++f.bit_count < kBitsPerByte) {
    return false;
  }
  f.bit_count = 0;
  f.byte_count = saturating_add(f.byte_count, 1);
  return true;
}

// A completed byte that is not a pilot byte ends the pilot: it is the first
// sync byte if the pilot was long enough, else the search starts again.
inline void end_pilot(PulseDecoder::Fields& f) {
  if (f.byte_count >= kMinPilotCount) {
    f.byte_count = 1;
    f.state = State::Header;
  } else {
    f.state = State::Searching;
  }
}

// What examining a completed header byte does to the block.
enum class Examined { Go, Abandoned, Found };

// Examines the header byte just completed (bit_count is 0): the sync bytes,
// the block type, the name bytes, and the end of the header.
template <typename Observer>
inline Examined examine(PulseDecoder::Fields& f, TapeName& name, std::uint8_t& block_type,
                        Observer& o) {
  const std::int32_t position = f.byte_count;
  const std::uint8_t value = f.shift_register;
  if (position >= 1 && position <= kSyncLength && value != kSyncLength + 1 - position) {
    f.state = State::Searching;
    if constexpr (Observer::kHears) {
      o.observer.missed(o.at, {NearMiss::Sync, 0, position, value,
                               static_cast<unsigned>(kSyncLength + 1 - position)});
    }
    return Examined::Abandoned;
  }
  if (position == kBlockTypePosition) {
    if (value != 1 && value != 2) {
      f.state = State::Searching;
      if constexpr (Observer::kHears) {
        o.observer.missed(o.at, {NearMiss::BlockType, 0, position, value, 0});
      }
      return Examined::Abandoned;
    }
    block_type = value;
  }
  if constexpr (Observer::kHears) {
    if (position >= kBlockTypePosition) {
      o.observer.accepted(o.at, position, value);
    }
  }
  if (position >= kFirstNamePosition && position <= kLastNamePosition) {
    name[static_cast<std::size_t>(position - kFirstNamePosition)] = value;
  }
  if (position == kLastNamePosition) {
    f.state = State::Searching;
    return Examined::Found;
  }
  return Examined::Go;
}

// One pulse through the machine: the reference, and the bulk path's way
// through everything its kernels do not cover. `block_type` takes the block
// type of a header once it has been accepted at its position. `o` hears the
// transitions, if it listens, as they are made.
template <typename Observer>
inline int step(PulseDecoder::Fields& f, std::uint8_t pulse, TapeName& name,
                std::uint8_t& block_type, Observer& o) {
  const PulseClass pulse_class = kPulseClasses[pulse];
  switch (f.state) {
    case State::Searching:
      // Out-of-range pulses count as zero bits while searching.
      f.shift_register = shifted_in(f.shift_register, pulse_class == PulseClass::One);
      if (f.shift_register == kPilotByte) {
        lock_on(f);
        if constexpr (Observer::kHears) {
          o.observer.locked(o.at);
        }
      }
      return 0;

    case State::Pilot: {
      const std::int32_t pilot_bytes = f.byte_count;  // before this pulse
      if (shift_in_block(f, pulse_class)) {
        if (f.shift_register != kPilotByte) {
          end_pilot(f);
          if constexpr (Observer::kHears) {
            if (f.state == State::Header) {
              o.observer.entered_header(o.at, pilot_bytes);
            } else {
              o.observer.missed(o.at, {NearMiss::ShortPilot, pilot_bytes, 0, f.shift_register, 0});
            }
          }
        }
      } else if constexpr (Observer::kHears) {
        if (f.state == State::Searching) {
          o.observer.missed(o.at, broken_by(pilot_bytes, 0, pulse, o.end_of_image));
        }
      }
      return 0;
    }

    case State::Header:
      // A completed byte is examined on the pulse after its last bit, and the
      // pulses that end the block are consumed without being shifted in.
      if (f.bit_count == 0) {
        const Examined examined = examine(f, name, block_type, o);
        if (examined != Examined::Go) {
          return examined == Examined::Found ? 1 : 0;
        }
      }
      if constexpr (Observer::kHears) {
        const std::int32_t position = f.byte_count + 1;  // the byte being assembled
        if (!shift_in_block(f, pulse_class) && f.state == State::Searching) {
          o.observer.missed(o.at, broken_by(0, position, pulse, o.end_of_image));
        }
      } else {
        shift_in_block(f, pulse_class);
      }
      return 0;
  }
  // Only reachable from a state value outside the enumeration: treat it as
  // searching so that the machine recovers.
  f.state = State::Searching;
  return 0;
}

// The shift register after the 64 pulses of a window: the one bits of its
// last eight pulses, the last of them lowest.
constexpr std::uint8_t register_after(PulseMask ones) {
  return kReversedBits[static_cast<std::size_t>(ones >> (kMaskWidth - kBitsPerByte))];
}

// The search kernel. While searching, every pulse is shifted in (an
// out-of-range one as a zero), and the machine locks on the pulse after which
// the register reads 0x02: pulse k itself not a one, pulse k-1 a one, pulses
// k-7..k-2 not ones (lock_candidates). The pulses before the window come from
// the register (bit 0 is pulse -1, bit 7 pulse -8), reversed into the top
// byte of a word so that they stand where the window before would.
//
// Worked example: register 0x80 (pulse -8 a one, pulses -7..-1 not), then
// pulses O Z Z ... (0x28 0x1A 0x1A ...), so ones = 0b001 and the word before
// has only bit 56 (pulse -8) set. earlier(1) = 0b010: pulse 0's one, seen
// from pulse 1. earlier(2..7) reach back to pulse -7 at most, so pulse -8 is
// never seen; they hold pulse 0's one at bits 2..7, and one_before =
// 0b1111_1100. locks = ~0b001 & 0b010 & ~0b1111_1100 = 0b010: a lock after
// pulse 1, two pulses consumed. Per pulse: 0x80 becomes 0x01 after the one
// (bit 7 falls off) and 0x02 after the zero: the same pulse.
//
// Returns the number of pulses consumed: all 64 (the register then holds the
// window's last eight bits), or up to and including the lock, now in Pilot.
std::size_t search_window(PulseDecoder::Fields& f, PulseMask ones) {
  assert(f.state == State::Searching);
  const PulseMask ones_before = PulseMask{kReversedBits[f.shift_register]}
                                << (kMaskWidth - kBitsPerByte);
  const PulseMask locks = lock_candidates(ones, ones_before);
  if (locks == 0) {
    f.shift_register = register_after(ones);
    return kMaskWidth;
  }
  lock_on(f);
  return static_cast<std::size_t>(std::countr_zero(locks)) + 1;
}

// Shifts the byte of pulses at..at+7 into the block, whose ones and in-range
// bits are `byte_ones` and `byte_in_range` (pulse at lowest), from a byte
// boundary. Returns the pulses used: all eight, or up to and including the
// first out-of-range one, which breaks the block: the state is then
// Searching and the register holds the pulses up to it (the last as a zero);
// the counts, which the search never reads, are left as they were. (Eight
// are used too when the eighth breaks.)
// Example: in range 0b0000_0011 after ones O Z: broken = 2, the register
// shifts three places and takes 1, 0, 0.
inline unsigned shift_byte(PulseDecoder::Fields& f, PulseMask byte_ones, PulseMask byte_in_range) {
  constexpr PulseMask kByteMask = 0xFF;
  const std::uint8_t reversed = kReversedBits[static_cast<std::size_t>(byte_ones & kByteMask)];
  if ((byte_in_range & kByteMask) == kByteMask) {
    f.shift_register = reversed;
    f.byte_count = saturating_add(f.byte_count, 1);
    return kBitsPerByte;
  }
  // At most seven: the byte is not all in range.
  const unsigned broken =
      std::min(static_cast<unsigned>(std::countr_one(byte_in_range)), kBitsPerByte - 1);
  const unsigned shifted = broken + 1;
  f.shift_register = static_cast<std::uint8_t>((unsigned{f.shift_register} << shifted) |
                                               (unsigned{reversed} >> (kBitsPerByte - shifted)));
  f.state = State::Searching;
  return shifted;
}

// The pilot kernel, on a byte boundary, window after window while whole
// windows are left. A pilot byte 0x02 sent most significant bit first is six
// zeros, a one, a zero: in window order a one at bit 6 of every eight, which
// is kPilotOnes. `mismatch` marks each pulse that differs from that pattern
// or is out of range; windows without one are eight pilot bytes each. In the
// first window with one, its lowest bit, divided by eight, is the number of
// whole pilot bytes at its start. The byte after them is not a pilot byte
// and is settled here too: it ends the pilot (into Header or back to Searching), or
// an out-of-range pulse in it breaks the block.
//
// Worked example: two pilot bytes, then 0x09 (pulses Z Z Z Z O Z Z O), the
// rest anything. ones has bits 6 and 14, then 20 and 23; in_range is all ones
// up to bit 23. mismatch = ones ^ kPilotOnes | ~in_range has its lowest bit
// at 20 (a one where a zero belongs), so two whole bytes: byte_count += 2.
// Byte 3 is in range; its ones, (ones >> 16) & 0xFF = 0b1001_0000, reversed
// give 0x09, the register it leaves per pulse. byte_count += 1 and the pilot
// ends, into Header when the count reached 960. 24 pulses are consumed.
//
// Returns the number of pulses consumed (at least one): whole windows of
// pilot bytes only when the piece has no whole window left after them.
std::size_t pilot_window(PulseDecoder::Fields& f, const ClassifiedPulses& pulses, std::size_t at,
                         std::size_t end) {
  assert(f.state == State::Pilot && f.bit_count == 0 && end - at >= kMaskWidth);
  // Whole windows of pilot bytes, as long as they last, then the window with
  // a mismatch if one is left.
  const std::size_t whole_run = pulses.pilot_windows(at, end);
  PulseMask ones = 0;
  PulseMask in_range = 0;
  PulseMask mismatch = 0;
  if (end - (at + whole_run) >= kMaskWidth) {
    ones = pulses.ones_window(at + whole_run);
    in_range = pulses.in_range_window(at + whole_run);
    mismatch = (ones ^ kPilotOnes) | ~in_range;
  }
  // Eight for each window of pilot bytes, and then those at the start of
  // the window with a mismatch, if one was reached.
  const auto good_bytes = static_cast<unsigned>(std::countr_zero(mismatch)) / kBitsPerByte;
  const unsigned good_pulses = mismatch == 0 ? 0 : good_bytes * kBitsPerByte;
  const std::size_t pilot_pulses = whole_run + good_pulses;
  if (pilot_pulses != 0) {
    f.shift_register = kPilotByte;
    f.byte_count =
        saturating_add(f.byte_count, static_cast<std::int32_t>(pilot_pulses / kBitsPerByte));
  }
  if (mismatch == 0) {
    return whole_run;
  }
  // The byte after the pilot bytes: it ends the pilot unless a pulse of it
  // is out of range, which breaks the block.
  const unsigned used = shift_byte(f, ones >> good_pulses, in_range >> good_pulses);
  if (f.state == State::Pilot) {
    end_pilot(f);
  }
  return pilot_pulses + used;
}

// The header kernel, on a byte boundary: up to eight whole bytes of the
// window, each examined on the pulse after it as per pulse (the step's own
// `examine`), each shifted in at once. Returns the pulses consumed and
// whether a name was completed.
BulkResult header_window(PulseDecoder::Fields& f, PulseMask ones, PulseMask in_range,
                         TapeName& name, std::uint8_t& block_type) {
  assert(f.state == State::Header && f.bit_count == 0);
  Unheard unheard;
  for (unsigned first = 0; first < kMaskWidth; first += kBitsPerByte) {
    const Examined examined = examine(f, name, block_type, unheard);
    if (examined != Examined::Go) {
      return {first + 1, examined == Examined::Found};  // the pulse examined on is consumed
    }
    const unsigned used = shift_byte(f, ones >> first, in_range >> first);
    if (f.state != State::Header) {
      return {first + used, false};
    }
  }
  return {kMaskWidth, false};
}

// What a lock after pulse `lock` comes to, settled from the bit arrays as the
// machine would: the byte after it (pulses lock+1..lock+8) is 0x02 and the
// lock stands (the pilot may be real), or it dies, in Pilot, on a byte that
// is not 0x02 or on an out-of-range pulse. `resume` is the first pulse the
// search sees again. A dead lock leaves its counts behind, which the search
// never reads (the next lock sets both), so they are not worked out. Needs a
// whole window after the lock.
struct SettledLock {
  bool stands;
  std::size_t resume;
};

inline SettledLock settle_lock(const ClassifiedPulses& pulses, std::size_t lock) {
  constexpr PulseMask kByteMask = 0xFF;
  const PulseMask byte_in_range = pulses.in_range_window(lock + 1) & kByteMask;
  if (byte_in_range != kByteMask) {
    // Pulse lock+1+j is out of range: the block broke there.
    const auto j = static_cast<unsigned>(std::countr_one(byte_in_range));
    return {false, lock + 2 + j};
  }
  if ((pulses.ones_window(lock + 1) & kByteMask) == (kPilotOnes & kByteMask)) {
    return {true, lock + 1};
  }
  return {false, lock + 1 + kBitsPerByte};  // a non-pilot byte after one pilot byte: too short
}

// The candidate walk: the search over a whole piece at once, when the
// register holds the one bits of the last eight pulses (it does unless a
// header ended within them, consuming a pulse without shifting it in). Then
// the search locks on exactly at the piece's lock candidates, so the walk goes
// from candidate to candidate. Most are false locks that die within nine
// pulses: the byte after the lock is not 0x02, or holds an out-of-range
// pulse; while such a lock lasts the machine is in the pilot and later
// candidates inside its byte do not count. A lock followed by a pilot byte
// may start a real pilot and is handed to the pilot kernel.
//
// Only linked candidates (linked_candidates: another candidate seven or eight
// pulses on) can stand or hide another, so the walk visits those alone, up to
// the last window and a byte of the piece. A single one dies within its byte,
// hiding nothing, and leaves only the counts of a dead lock, which the search
// never reads: it is passed over. The last window and a byte, where a lock is
// handed over as it stands, take every candidate.
//
// Worked example: candidates at pulses 100 and 107, then 300. At 100 the
// next eight pulses (101..108) are in range and read Z Z Z Z Z O Z Z, 0x04: a
// dead lock, whose byte completes at 108 with byte_count 2, so the search
// resumes at 109 and the candidate at 107 (the one at 106, then a zero),
// inside that byte, is passed over. At 300 pulses 301..308 read 0x02: the
// lock stands, the state is Pilot with byte_count 1, and the walk stops at
// 301. Per pulse: lock after 100; eight pulses of pilot, the register
// reading 0x02 after 107 without effect; 0x04 ends the pilot (count 2 < 960);
// searching from 109, lock after 300. (A candidate can fall inside a dead
// lock's byte only seven pulses after it, or eight when that pulse breaks the
// byte: any nearer, the one before the first lock would lie among the six
// pulses that must be zeros.) 100 is linked to 107, and 300 to 308, the next
// byte's lock; were 107 alone, after a byte of zeros, the walk would pass it
// over, as the machine, locking there, would let it die within its byte.
//
// Returns the index where the walk stopped: `end`, or just after a lock that
// stands (the state is then Pilot).
std::size_t walk_candidates(PulseDecoder::Fields& f, const ClassifiedPulses& pulses, std::size_t at,
                            std::size_t end) {
  assert(f.state == State::Searching && end - at >= kMaskWidth);
  const auto stand = [&f](std::size_t lock) {
    lock_on(f);
    return lock + 1;
  };
  std::size_t resume = at;  // the first pulse the search sees again
  // Locks before this word have a whole window after their byte.
  const std::size_t tail_word = (end - kBitsPerByte - kMaskWidth) / kMaskWidth;
  std::size_t word = at / kMaskWidth;
  if (word < tail_word) {
    PulseMask linked = pulses.linked_word(word) & (~PulseMask{0} << (at % kMaskWidth));
    for (;;) {
      if (linked == 0) {
        word = pulses.next_linked_word(word + 1);
        if (word >= tail_word) {
          break;
        }
        linked = pulses.linked_word(word);
        continue;
      }
      const std::size_t lock =
          (word * kMaskWidth) + static_cast<std::size_t>(std::countr_zero(linked));
      linked &= linked - 1;
      if (lock < resume) {
        continue;  // inside the byte of a dead lock
      }
      const SettledLock settled = settle_lock(pulses, lock);
      if (settled.stands) {
        return stand(lock);
      }
      resume = settled.resume;
    }
    word = tail_word;
  }
  const std::size_t last_word = (end - 1) / kMaskWidth;
  for (; word <= last_word; ++word) {
    PulseMask candidates = pulses.lock_word(word);
    while (candidates != 0) {
      const std::size_t lock =
          (word * kMaskWidth) + static_cast<std::size_t>(std::countr_zero(candidates));
      candidates &= candidates - 1;
      if (lock < resume) {
        continue;
      }
      if (lock >= end) {
        break;
      }
      if (end - lock <= kBitsPerByte + kMaskWidth) {
        // Near the end of the piece the pilot kernel has no whole window; the
        // lock is handed over as it stands.
        return stand(lock);
      }
      const SettledLock settled = settle_lock(pulses, lock);
      if (settled.stands) {
        return stand(lock);
      }
      resume = settled.resume;
    }
  }
  f.shift_register = register_after(pulses.ones_window(end - kMaskWidth));
  return end;
}

// Which way the next pulses go. The kernels cover many pulses in a state where
// each pulse does the same simple thing: searching (shift in, look for 0x02),
// counting the pilot from a byte boundary (whole bytes compared with 0x02) or
// taking header bytes from one (a whole byte shifted in, then examined).
// The candidate walk needs a register that holds the last eight pulses, which
// `register_is_history` says; the window kernels need a whole window before
// the end of the piece. Anything else - a pilot byte half done, a header
// byte cut by the piece, the last pulses of a piece - goes pulse by pulse.
enum class Path { CandidateWalk, SearchWindow, PilotWindow, HeaderWindow, PerPulse };

constexpr Path choose_path(const PulseDecoder::Fields& f, std::size_t pulses_left,
                           bool register_is_history) {
  if (pulses_left < kMaskWidth) {
    return Path::PerPulse;
  }
  if (f.state == State::Searching) {
    return register_is_history ? Path::CandidateWalk : Path::SearchWindow;
  }
  if (f.bit_count != 0) {
    return Path::PerPulse;
  }
  return f.state == State::Pilot ? Path::PilotWindow : Path::HeaderWindow;
}

// Passing over the search. A name needs a pilot: a lock, then 958 more
// pilot bytes with every pulse in range, then the first sync byte, 9, which
// ends it (the count, 960, holds the lock's byte and that one). The pilot
// bytes and the first four pulses of that 9, zeros in range, read as pilot
// pulses do: 7,668 pulses, which hold a whole window of any row of windows
// that start at most 7,605 pulses apart (the row's first window at or after
// the pilot's first pulse ends 7,668 pulses on at the latest), and that
// window is pilot-like: all in range, a one at the same place in every byte.
// So while the windows of such a row are not pilot-like, no header begins
// among them.
//
// And a window with no lock candidate on its pulses 7..63 (those that the
// window alone settles) ends in Searching whatever the state at its start,
// short of Header: a lock on pulse c < 7 or a pilot byte in progress there
// completes its next byte by pulse 14, which is a candidate if it is 0x02,
// so the pilot ends there or earlier, and after that nothing locks. The
// register then holds the window's last eight pulses, as it does whenever
// the machine searches or counts a pilot.
//
// A window never starts in Header: the pass begins searching, and stops at
// a pilot-like window before any header it could reach. But the pilot that
// ends in such a window may have been long enough, and then the machine
// enters Header there. Its first sync byte is not 9: with a 9 the pilot-like
// run holds 7,668 pulses and the pass would have stopped at a window inside
// it. A pilot of exactly 958 bytes after the lock, ended by a byte that is
// neither 0x02 nor starts with four zeros (0x81, say), is a pilot-like run of
// only 7,664 pulses, which a row of windows 7,605 apart can miss (the row's
// last window, clamped to the end of the piece, too). What the machine does
// there is fixed by the order of its Header branch: the byte is examined on
// the pulse after its eighth bit, position 1 first, and the block abandoned
// before that pulse is shifted in. So the machine is back in Searching by
// pulse 15 of the window, one pulse missing from its register; a false lock
// that this brings about (after a byte ending in 0000001) dies by pulse 24,
// since its byte is not 0x02 (that would be a candidate of the window), and
// from then on every pulse is shifted in: by pulse 63 the register again
// holds the window's last eight pulses and the state is Searching, as the
// pass says.
//
// Example: a row at 0, 7605, 15210 and 22815 over slow pulses (all out of
// range: no ones, no candidates), and a pilot from 15230 on. Windows 0 and
// 7605 have no candidates: the state at 7669 is known. Window 15210 holds
// slow pulses and the pilot's first lock, at 15237: it is neither. Window
// 22815 lies in the pilot: the pass stops there and hands over at 7669.
//
// The same holds for any pilot of at least N bytes (N < 959), asked for by
// those who look for pilots that came to nothing: the N - 1 bytes after the
// lock's are 0x02, every pulse in range, a pilot-like run of 8 (N - 1)
// pulses, which holds a whole window of any row whose windows start at most
// 8 (N - 1) - 63 pulses apart. While such a row's windows are not pilot-like
// no pilot of N bytes or more lies among them (nor a header, whose pilot is
// longer). A window passed over ends before the lock of any pilot of two
// bytes or more: one holding that lock at its pulse 7 or later has it as a
// late candidate, and one holding it earlier has the next byte's. So the
// search is handed over before such a pilot's lock, which is then seen.
// Rows need at least one pulse between windows: N of at least 9.
constexpr std::size_t kSyncZeros = 4;  // 9 is 0000_1001
constexpr std::size_t kPilotRunPulses =
    (std::size_t{kMinPilotCount - 2} * kBitsPerByte) + kSyncZeros;
constexpr std::size_t kRowSpacing = kPilotRunPulses - kMaskWidth + 1;
constexpr std::int32_t kLeastRowPilot = 9;

constexpr std::size_t row_spacing(std::int32_t min_pilot_bytes) {
  if (min_pilot_bytes >= kNamePilotBytes) {
    return kRowSpacing;
  }
  return (std::size_t(min_pilot_bytes - 1) * kBitsPerByte) - kMaskWidth + 1;
}
static_assert(row_spacing(kLeastRowPilot) == 1 && row_spacing(kNamePilotBytes - 1) < kRowSpacing);

constexpr bool no_late_candidates(PulseMask ones) {
  constexpr PulseMask kUnsettled = 0x7F;  // pulses 0..6 need the window before
  return (lock_candidates(ones, 0) & ~kUnsettled) == 0;
}

constexpr bool pilot_like(const WindowClasses& classes) {
  constexpr PulseMask kFirstByte = 0xFF;
  const PulseMask first = classes.ones & kFirstByte;
  // A single bit: clearing the lowest leaves none (no popcount instruction
  // needed).
  return classes.in_range == ~PulseMask{0} && first != 0 && (first & (first - 1)) == 0 &&
         classes.ones == first * kEveryByte;
}

}  // namespace

PulseDecoder::PulseDecoder(const Fields& fields) noexcept : fields_(fields) {
  fields_.bit_count = static_cast<std::uint8_t>(fields_.bit_count % kBitsPerByte);
}

int PulseDecoder::feed_pulse(unsigned pulse, TapeName& name) noexcept {
  Unheard unheard;
  return step(fields_, static_cast<std::uint8_t>(pulse & 0xFFU), name, block_type_, unheard);
}

BulkResult PulseDecoder::observe(std::span<const std::uint8_t> pulses, std::size_t least,
                                 TapeName& name, DecoderObserver& observer,
                                 const Classifier& classifier, bool end_of_image) noexcept {
  Fields f = fields_;
  Heard heard{.observer = observer, .end_of_image = end_of_image};
  BulkResult result{pulses.size(), false};
  for (std::size_t at = 0; at < pulses.size(); ++at) {
    // Eight pilot bytes from a byte boundary: the count goes up by eight,
    // the register still reads 0x02, and nothing else happens.
    while (f.state == State::Pilot && f.bit_count == 0 && pulses.size() - at >= kMaskWidth) {
      const WindowClasses classes = classifier.classify_window(pulses.data() + at);
      if (classes.in_range != ~PulseMask{0} || classes.ones != kPilotOnes) {
        break;
      }
      f.byte_count = saturating_add(f.byte_count, kWindowBytes);
      at += kMaskWidth;
    }
    if (at == pulses.size()) {
      break;
    }
    heard.at = at;
    if (step(f, pulses[at], name, block_type_, heard) != 0) {
      result = {at + 1, true};
      break;
    }
    if (at + 1 >= least && f.state == State::Searching) {
      result = {at + 1, false};
      break;
    }
  }
  fields_ = f;
  return result;
}

BulkResult PulseDecoder::feed_pulses(const ClassifiedPulses& pulses, std::size_t from,
                                     TapeName& name) noexcept {
  Fields f = fields_;
  std::uint8_t type = block_type_;  // the header's, once accepted
  const std::span<const std::uint8_t> values = pulses.pulses();
  const std::size_t end = values.size();
  std::size_t at = from;
  // From here on the register holds the last eight pulses: none of them is a
  // pulse that ended a header unshifted (the one that reported a name ends
  // the previous call), and none comes from before this piece.
  std::size_t history_from = from + kBitsPerByte;
  bool found = false;
  while (at < end && !found) {
    switch (choose_path(f, end - at, at >= history_from)) {
      case Path::CandidateWalk:
        at = walk_candidates(f, pulses, at, end);
        continue;
      case Path::SearchWindow:
        at += search_window(f, pulses.ones_window(at));
        continue;
      case Path::PilotWindow:
        at += pilot_window(f, pulses, at, end);
        continue;
      case Path::HeaderWindow: {
        const BulkResult result =
            header_window(f, pulses.ones_window(at), pulses.in_range_window(at), name, type);
        at += result.consumed;
        found = result.found;
        if (f.state == State::Searching) {
          history_from = at + kBitsPerByte;
        }
        continue;
      }
      case Path::PerPulse:
        break;
    }
    // One pulse at a time until the next byte boundary or change of state.
    const State before = f.state;
    Unheard unheard;
    do {
      found = step(f, values[at++], name, type, unheard) != 0;
    } while (at < end && !found && f.state == before && f.bit_count != 0);
    if (before == State::Header && f.state == State::Searching) {
      history_from = at + kBitsPerByte;
    }
  }
  fields_ = f;
  block_type_ = type;
  return {at - from, found};
}

std::size_t PulseDecoder::pass_search(std::span<const std::uint8_t> pulses,
                                      const Classifier& classifier) noexcept {
  return pass_search(pulses, classifier, kNamePilotBytes);
}

std::size_t PulseDecoder::pass_search(std::span<const std::uint8_t> pulses,
                                      const Classifier& classifier,
                                      std::int32_t min_pilot_bytes) noexcept {
  if (fields_.state != State::Searching || pulses.size() < kMaskWidth ||
      min_pilot_bytes < kLeastRowPilot) {
    return 0;
  }
  const std::size_t spacing = row_spacing(min_pilot_bytes);
  std::size_t passed = 0;
  const std::size_t last = pulses.size() - kMaskWidth;  // the row ends on the last window
  // The row's windows lie far apart, where the processor does not fetch
  // ahead by itself: ask for them all first, so that their loads overlap.
  for (std::size_t at = 0; at < last; at += spacing) {
    __builtin_prefetch(pulses.data() + at);
    __builtin_prefetch(pulses.data() + at + kMaskWidth - 1);
  }
  for (std::size_t at = 0;; at = std::min(at + spacing, last)) {
    const WindowClasses classes = classifier.classify_window(pulses.data() + at);
    if (no_late_candidates(classes.ones)) {
      passed = at + kMaskWidth;
      fields_.shift_register = register_after(classes.ones);
    } else if (pilot_like(classes)) {
      break;
    }
    if (at == last) {
      break;
    }
  }
  return passed;
}

}  // namespace tapnames
