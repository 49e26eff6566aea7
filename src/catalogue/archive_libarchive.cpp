// SPDX-License-Identifier: MIT
// Archives through libarchive. Members are read with archive_read_data into
// the worker's buffer, so memory stays that of libarchive's own state
// whatever the members' sizes claim; names are only ever printed, so "../x",
// absolute paths and the like do no harm. A format with no members of any
// kind (libarchive's "raw") is enabled only where the name or the first
// bytes say the stream is one compressed image: any other file would pass
// for it.
//
// An archive or a compressed image inside an archive is read in place: its
// own reader pulls its bytes from the outer one's archive_read_data, through
// a buffer of kFeedSize, one for each archive open, so that a chain of them
// costs a few buffers and their decompressors' state. What all of them
// read, together, is counted against the source's Expansion.
//
// A damaged member whose format cannot go on past it (libarchive's FATAL) is
// named with its reason. An archive file (or the fuzz target's memory) is
// then opened again and the members before the next one passed over, which
// costs only seeks where the format has an index (a zip's central
// directory); a stream (an archive inside another one, standard input)
// cannot be opened again, and its members after the damage are named as not
// read.
#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "archive_reader.h"
#include "platform.h"
#include "walk.h"

namespace catalogue {
namespace {

// How often an archive is opened again after a damaged member.
constexpr int kMaxReopen = 100;

constexpr std::size_t kFeedSize = std::size_t{64} << 10U;

struct ArchiveFree {
  void operator()(archive* handle) const { archive_read_free(handle); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

// A member's time in nanoseconds, as far as 64 bits hold it (the year 2262).
constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
constexpr std::int64_t kLatest = INT64_MAX / kNanosecondsPerSecond - 1;

ArchivePtr new_reader(SourceKind kind) {
  ArchivePtr handle(archive_read_new());
  if (handle) {
    archive_read_support_filter_all(handle.get());
    if (kind == SourceKind::Compressed) {
      archive_read_support_format_raw(handle.get());
    } else {
      archive_read_support_format_all(handle.get());
    }
  }
  return handle;
}

std::string reason(archive* handle, std::string_view fallback) {
  const char* text = archive_error_string(handle);
  return text != nullptr && *text != '\0' ? std::string(text) : std::string(fallback);
}

// The data of the member being read, as the input of another reader,
// counted in the source's expansion.
class MemberSource final : public ByteSource {
 public:
  MemberSource(archive* handle, Expansion& expansion) : handle_(handle), expansion_(expansion) {}

  std::size_t read(std::span<std::uint8_t> into) override {
    if (ended_) {
      return 0;
    }
    const la_ssize_t got = archive_read_data(handle_, into.data(), into.size());
    if (got > 0) {
      expansion_.inner += static_cast<std::uint64_t>(got);
      if (!expansion_.exceeded()) {
        return static_cast<std::size_t>(got);
      }
      ended_ = true;
      set_failure("not read on: the archives inside the file expand past " +
                  std::to_string(kExpansionRatio) + " times its size and " +
                  std::to_string(kExpansionFloor >> 20U) + " MiB");
      return 0;
    }
    ended_ = true;
    if (got < 0) {
      set_failure(reason(handle_, "cannot read member"));
      fatal_ = got == ARCHIVE_FATAL;
    }
    return 0;
  }
  // The outer archive cannot go on.
  [[nodiscard]] bool fatal() const { return fatal_; }

 private:
  archive* handle_;
  Expansion& expansion_;
  bool ended_ = false;
  bool fatal_ = false;
};

// A reader's input pulled from a ByteSource.
struct Feed {
  ByteSource& input;
  std::unique_ptr<std::uint8_t[]> bytes =  // NOLINT(*-avoid-c-arrays): filled by each read
      std::make_unique_for_overwrite<std::uint8_t[]>(kFeedSize);
};

la_ssize_t feed_read(archive* handle, void* data, const void** block) {
  Feed& feed = *static_cast<Feed*>(data);
  const std::size_t got = feed.input.read({feed.bytes.get(), kFeedSize});
  *block = feed.bytes.get();
  if (got == 0 && !feed.input.failure().empty()) {
    archive_set_error(handle, EIO, "%s", feed.input.failure().c_str());
    return ARCHIVE_FATAL;
  }
  return static_cast<la_ssize_t>(got);
}

// How reading an archive's members ended.
struct Ending {
  Flow flow = Flow::Go;
  bool damaged = false;       // a member was damaged so that the archive cannot go on
  std::size_t resume_at = 0;  // with `damaged`: the entry after that member
};

// An archive being read: its reader, its input when it is read as a stream
// (null for a file), how many archives deep it lies (itself counted), and the
// source's expansion.
struct Level {
  archive* handle;
  const ByteSource* input;
  int depth;
  Expansion& expansion;

  // Why reading failed: its input's failure first, which libarchive may have
  // written over in passing.
  [[nodiscard]] std::string why(std::string_view fallback) const {
    return input != nullptr && !input->failure().empty() ? input->failure()
                                                         : reason(handle, fallback);
  }
};

// Reads the data of the entry at hand as one image begun with `chain`.
Ending read_data(const Level& level, const Chain& chain, ImageSink& sink,
                 std::span<std::uint8_t> buffer) {
  sink.begin(chain);
  for (;;) {
    const la_ssize_t got = archive_read_data(level.handle, buffer.data(), buffer.size());
    if (got == 0) {
      sink.end({});
      return {};
    }
    if (got < 0) {
      sink.end(level.why("cannot read member"));
      return {.damaged = got == ARCHIVE_FATAL};
    }
    if (!sink.piece(buffer.first(static_cast<std::size_t>(got)))) {
      sink.end("reading stopped");
      return {.flow = Flow::Stop};
    }
  }
}

// Reads the member at hand, of `kind`, named last in `chain`.
Ending read_member(const Level& level, SourceKind kind, Chain& chain, ImageSink& sink,
                   std::span<std::uint8_t> buffer) {
  if (kind == SourceKind::Plain) {
    return read_data(level, chain, sink, buffer);
  }
  if (kind == SourceKind::Archive && level.depth >= kMaxArchiveDepth) {
    sink.fail(chain,
              "not read: archives nested more than " + std::to_string(kMaxArchiveDepth) + " deep");
    return {};
  }
  MemberSource input(level.handle, level.expansion);
  const Flow flow = kind == SourceKind::Gzip ? read_gzip(input, chain, sink, buffer)
                                             : read_packed(input, kind, chain, sink, buffer,
                                                           level.depth + 1, level.expansion);
  if (level.expansion.exceeded()) {
    return {.flow = Flow::Stop};  // named where it stopped
  }
  return {.flow = flow, .damaged = input.fatal()};
}

// A 7z archive keeps its index at its end and must go back for the data,
// which a stream cannot.
bool needs_seeking(archive* handle) {
  return (archive_format(handle) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_7ZIP;
}

// Reads the members of an opened archive, passing over its first `skip`
// entries.
Ending read_members(const Level& level, Chain& chain, ImageSink& sink,
                    std::span<std::uint8_t> buffer, std::size_t skip) {
  for (std::size_t index = 0;; ++index) {
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(level.handle, &entry);
    if (status == ARCHIVE_EOF) {
      return {};
    }
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
      sink.fail(chain, index < skip ? "cannot read on after a damaged member: " +
                                          level.why("damaged archive")
                                    : level.why("damaged archive"));
      return {};
    }
    if (level.input != nullptr && index == 0 && needs_seeking(level.handle)) {
      sink.fail(chain,
                "not read: a 7z archive is read only as a file, not inside another "
                "archive or from standard input");
      return {};
    }
    if (index < skip || archive_entry_filetype(entry) != AE_IFREG) {
      continue;
    }
    if (const std::int64_t seconds = archive_entry_mtime(entry);
        archive_entry_mtime_is_set(entry) != 0 && seconds < kLatest && seconds > -kLatest) {
      sink.member_time(seconds * kNanosecondsPerSecond + archive_entry_mtime_nsec(entry));
    }
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr) {
      name = archive_entry_pathname(entry);
    }
    SourceKind kind = SourceKind::Plain;
    if (name == nullptr || !image_kind(name, kind)) {
      continue;  // skipped by the next header
    }
    chain.emplace_back(name);
    Ending ending = read_member(level, kind, chain, sink, buffer);
    chain.pop_back();
    if (ending.flow == Flow::Stop) {
      return ending;
    }
    if (ending.damaged) {
      ending.resume_at = index + 1;
      return ending;
    }
  }
}

// Reads the members of the archive that `open` opens on a new reader; opens
// it again after a damaged member, to read the members after it.
template <typename Open>
void read_reopening(const Open& open, std::uint64_t size, ImageSink& sink,
                    std::span<std::uint8_t> buffer) {
  Chain chain;
  Expansion expansion{.outer = size};
  std::size_t skip = 0;
  for (int reopened = 0;; ++reopened) {
    const ArchivePtr handle = new_reader(SourceKind::Archive);
    if (!handle) {
      sink.fail(chain, "out of memory");
      return;
    }
    if (open(handle.get()) != ARCHIVE_OK) {
      sink.fail(chain, reason(handle.get(), "cannot open archive"));
      return;
    }
    const Ending ending =
        read_members({handle.get(), nullptr, 1, expansion}, chain, sink, buffer, skip);
    if (!ending.damaged) {
      return;
    }
    if (reopened == kMaxReopen) {
      // Built from whole words: a literal cut at a word's middle would leave a
      // misspelt fragment in the program's strings.
      static const std::string kTooMany =
          "not read on: over " + std::to_string(kMaxReopen) + " damaged members";
      sink.fail(chain, kTooMany);
      return;
    }
    skip = ending.resume_at;
  }
}

}  // namespace

bool reads_archives() {
  return true;
}

Flow read_packed(ByteSource& input, SourceKind kind, Chain& chain, ImageSink& sink,
                 std::span<std::uint8_t> buffer, int depth, Expansion& expansion) {
  Feed feed{input};  // outlives the reader that pulls from it
  const ArchivePtr handle = new_reader(kind);
  if (!handle) {
    sink.fail(chain, "out of memory");
    return Flow::Go;
  }
  const Level level{handle.get(), &input, depth, expansion};
  const bool opened =
      archive_read_open(handle.get(), &feed, nullptr, feed_read, nullptr) == ARCHIVE_OK;
  if (kind != SourceKind::Compressed) {
    if (!opened) {
      sink.fail(chain, level.why("cannot open archive"));
      return Flow::Go;
    }
    const Ending ending = read_members(level, chain, sink, buffer, 0);
    if (ending.damaged && input.failure().empty()) {
      sink.fail(chain, "cannot read on after a damaged member");
    }
    return ending.flow;
  }
  // One compressed image: the raw format's single entry.
  archive_entry* entry = nullptr;
  if (!opened || archive_read_next_header(handle.get(), &entry) != ARCHIVE_OK) {
    sink.begin(chain);
    sink.end(level.why("cannot read compressed data"));
    return Flow::Go;
  }
  if (archive_filter_code(handle.get(), 0) == ARCHIVE_FILTER_NONE) {
    sink.begin(chain);
    sink.end("not compressed data (gzip, bzip2, xz or zstd)");
    return Flow::Go;
  }
  return read_data(level, chain, sink, buffer).flow;
}

SourceKind kind_by_content(std::span<const std::uint8_t> prefix) {
  const ArchivePtr handle = new_reader(SourceKind::Archive);
  if (!handle) {
    return SourceKind::Plain;
  }
  // Opening chooses the filters and then the format, which fails where the
  // filters' output is no archive.
  if (archive_read_open_memory(handle.get(), prefix.data(), prefix.size()) == ARCHIVE_OK) {
    archive_entry* entry = nullptr;
    static_cast<void>(archive_read_next_header(handle.get(), &entry));
    if (archive_format(handle.get()) != ARCHIVE_FORMAT_EMPTY) {
      return SourceKind::Archive;
    }
  }
  switch (archive_filter_code(handle.get(), 0)) {
    case ARCHIVE_FILTER_NONE:
      return SourceKind::Plain;
    case ARCHIVE_FILTER_GZIP:
      return SourceKind::Gzip;
    default:
      return SourceKind::Compressed;
  }
}

void read_archive(const Source& source, ImageSink& sink, std::span<std::uint8_t> buffer) {
#if defined(_WIN32)
  read_reopening(
      [&source](archive* handle) {
        return archive_read_open_filename(handle, source.path.c_str(), kPieceSize);
      },
      source.size, sink, buffer);
#else
  // Opened once through the platform seam, so that a path past PATH_MAX
  // opens too; each reading of it starts at its beginning.
  const int descriptor = tapnames::open_any_length(source.path.c_str(), O_RDONLY);
  if (descriptor < 0) {
    sink.fail({}, std::generic_category().message(errno));
    return;
  }
  read_reopening(
      [descriptor](archive* handle) {
        return lseek(descriptor, 0, SEEK_SET) == 0
                   ? archive_read_open_fd(handle, descriptor, kPieceSize)
                   : ARCHIVE_FATAL;
      },
      source.size, sink, buffer);
  close(descriptor);
#endif
}

void read_archive_memory(std::span<const std::uint8_t> bytes, ImageSink& sink,
                         std::span<std::uint8_t> buffer) {
  read_reopening(
      [bytes](archive* handle) {
        return archive_read_open_memory(handle, bytes.data(), bytes.size());
      },
      bytes.size(), sink, buffer);
}

}  // namespace catalogue
