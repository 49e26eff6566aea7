// SPDX-License-Identifier: MIT
// Archives through libarchive. Members are read with archive_read_data into
// the worker's buffer, so memory stays that of libarchive's own state
// whatever the members' sizes claim; names are only ever printed, so "../x",
// absolute paths and the like do no harm. A format with no members of any
// kind (libarchive's "raw") is not enabled: any other file would pass for it.
#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <memory>
#include <string>

#include "archive_reader.h"
#include "walk.h"

namespace catalogue {
namespace {

struct ArchiveFree {
  void operator()(archive* handle) const { archive_read_free(handle); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

// A member's time in nanoseconds, as far as 64 bits hold it (the year 2262).
constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
constexpr std::int64_t kLatest = INT64_MAX / kNanosecondsPerSecond - 1;

ArchivePtr new_reader() {
  ArchivePtr handle(archive_read_new());
  if (handle) {
    archive_read_support_filter_all(handle.get());
    archive_read_support_format_all(handle.get());
  }
  return handle;
}

std::string reason(archive* handle, std::string_view fallback) {
  const char* text = archive_error_string(handle);
  return text != nullptr ? std::string(text) : std::string(fallback);
}

// Reads one member into the sink, and says so when the archive cannot go on
// after it; false when the archive is to be left.
bool read_member(archive* handle, ImageSink& sink, std::span<std::uint8_t> buffer) {
  for (;;) {
    const la_ssize_t got = archive_read_data(handle, buffer.data(), buffer.size());
    if (got == 0) {
      sink.end({});
      return true;
    }
    if (got < 0) {
      sink.end(reason(handle, "cannot read member"));
      if (got == ARCHIVE_FATAL) {
        sink.fail("cannot read on after a damaged member");
        return false;
      }
      return true;
    }
    if (!sink.piece(buffer.first(static_cast<std::size_t>(got)))) {
      sink.end("reading stopped");
      return false;
    }
  }
}

// Reads the members of an opened archive.
void read_members(archive* handle, ImageSink& sink, std::span<std::uint8_t> buffer) {
  for (;;) {
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(handle, &entry);
    if (status == ARCHIVE_EOF) {
      return;
    }
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
      sink.fail(reason(handle, "damaged archive"));
      return;
    }
    if (archive_entry_filetype(entry) != AE_IFREG) {
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
    if (name == nullptr || !ends_with_any_case(name, ".tap")) {
      continue;  // skipped by the next header
    }
    sink.begin(name);
    if (!read_member(handle, sink, buffer)) {
      return;
    }
  }
}

// Reads the members of the archive that `open` opens on a new reader.
template <typename Open>
void read_opened(const Open& open, ImageSink& sink, std::span<std::uint8_t> buffer) {
  const ArchivePtr handle = new_reader();
  if (!handle) {
    sink.fail("out of memory");
    return;
  }
  if (open(handle.get()) != ARCHIVE_OK) {
    sink.fail(reason(handle.get(), "cannot open archive"));
    return;
  }
  read_members(handle.get(), sink, buffer);
}

}  // namespace

bool reads_archives() {
  return true;
}

void read_archive(const Source& source, ImageSink& sink, std::span<std::uint8_t> buffer) {
  read_opened(
      [&source](archive* handle) {
        return archive_read_open_filename(handle, source.path.c_str(), kPieceSize);
      },
      sink, buffer);
}

void read_archive_memory(std::span<const std::uint8_t> bytes, ImageSink& sink,
                         std::span<std::uint8_t> buffer) {
  read_opened(
      [bytes](archive* handle) {
        return archive_read_open_memory(handle, bytes.data(), bytes.size());
      },
      sink, buffer);
}

}  // namespace catalogue
