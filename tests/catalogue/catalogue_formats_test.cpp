// SPDX-License-Identifier: MIT
// Every archive format and compression the catalogue promises, read through
// this build's libarchive: each archive is written here, in memory, with one
// image beside a file that is not one, and must give back that image's
// bytes whole. A compressor the build left out fails here (libarchive
// would fall back to an external program, which Windows does not have).
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive_reader.h"
#include "tape_builder.h"

namespace {

struct Format {
  const char* name;
  int (*format)(archive*);
  int (*filter)(archive*);  // null: none
  const char* option;       // a format option "module:key=value", or null
};

const std::vector<Format>& formats() {
  static const std::vector<Format> all = {
      {"zip", archive_write_set_format_zip, nullptr, nullptr},
      {"7z (LZMA)", archive_write_set_format_7zip, nullptr, nullptr},
      {"7z (bzip2)", archive_write_set_format_7zip, nullptr, "7zip:compression=bzip2"},
      {"7z (deflate)", archive_write_set_format_7zip, nullptr, "7zip:compression=deflate"},
      {"tar", archive_write_set_format_pax_restricted, nullptr, nullptr},
      {"tar.gz", archive_write_set_format_pax_restricted, archive_write_add_filter_gzip, nullptr},
      {"tar.bz2", archive_write_set_format_pax_restricted, archive_write_add_filter_bzip2, nullptr},
      {"tar.xz", archive_write_set_format_pax_restricted, archive_write_add_filter_xz, nullptr},
      {"tar.lzma", archive_write_set_format_ustar, archive_write_add_filter_lzma, nullptr},
      {"tar.zst", archive_write_set_format_pax_restricted, archive_write_add_filter_zstd, nullptr},
      {"tar.lz4", archive_write_set_format_ustar, archive_write_add_filter_lz4, nullptr},
      {"cpio", archive_write_set_format_cpio_newc, nullptr, nullptr},
      {"iso", archive_write_set_format_iso9660, nullptr, nullptr},
  };
  return all;
}

la_ssize_t append(archive* /*handle*/, void* data, const void* bytes, std::size_t size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(data);
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  out->insert(out->end(), first, first + size);
  return static_cast<la_ssize_t>(size);
}

void add(archive* handle, const char* name, const std::vector<std::uint8_t>& bytes) {
  archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, name);
  archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
  archive_entry_set_filetype(entry, AE_IFREG);
  archive_entry_set_perm(entry, 0644);
  EXPECT_EQ(archive_write_header(handle, entry), ARCHIVE_OK) << archive_error_string(handle);
  EXPECT_EQ(archive_write_data(handle, bytes.data(), bytes.size()),
            static_cast<la_ssize_t>(bytes.size()));
  archive_entry_free(entry);
}

// The archive, or empty with a failure recorded when this libarchive cannot
// write it by itself.
std::vector<std::uint8_t> pack(const Format& format, const std::vector<std::uint8_t>& tape) {
  std::vector<std::uint8_t> out;
  archive* handle = archive_write_new();
  bool ready = format.format(handle) == ARCHIVE_OK &&
               (format.filter == nullptr || format.filter(handle) == ARCHIVE_OK) &&
               (format.option == nullptr ||
                archive_write_set_options(handle, format.option) == ARCHIVE_OK) &&
               archive_write_set_bytes_in_last_block(handle, 1) == ARCHIVE_OK &&
               archive_write_open(handle, &out, nullptr, append, nullptr) == ARCHIVE_OK;
  EXPECT_TRUE(ready) << archive_error_string(handle);
  if (ready) {
    add(handle, "notes.txt", {'n', 'o', 't', 'e', 's'});
    add(handle, "in/M.tap", tape);
    ready = archive_write_close(handle) == ARCHIVE_OK;
    EXPECT_TRUE(ready) << archive_error_string(handle);
  }
  archive_write_free(handle);
  return ready ? out : std::vector<std::uint8_t>{};
}

// What the reader handed over, as one line per event.
class Record final : public catalogue::ImageSink {
 public:
  void begin(std::span<const std::string> members) override {
    events.push_back("begin " + catalogue::member_path("", members));
  }
  bool piece(std::span<const std::uint8_t> pulses) override {
    bytes.insert(bytes.end(), pulses.begin(), pulses.end());
    return true;
  }
  void end(std::string_view error) override { events.push_back("end " + std::string(error)); }
  void fail(std::span<const std::string> /*members*/, std::string_view error) override {
    events.push_back("fail " + std::string(error));
  }

  std::vector<std::string> events;
  std::vector<std::uint8_t> bytes;
};

TEST(CatalogueFormats, EveryFormatAndCompressionGivesTheImageBackWhole) {
  ASSERT_TRUE(catalogue::reads_archives());
  // Long enough to fill more than one of the reader's pieces.
  const std::vector<std::uint8_t> tape =
      tapes::TapeBuilder().header("MEMBER").data_block(20000, 7).take();
  ASSERT_GT(tape.size(), catalogue::kPieceSize);
  std::vector<std::uint8_t> buffer(catalogue::kPieceSize);
  for (const Format& format : formats()) {
    SCOPED_TRACE(format.name);
    const std::vector<std::uint8_t> packed = pack(format, tape);
    if (packed.empty()) {
      continue;
    }
    Record record;
    catalogue::read_archive_memory(packed, record, buffer);
    EXPECT_EQ(record.events, (std::vector<std::string>{"begin !in/M.tap", "end "}));
    EXPECT_TRUE(record.bytes == tape) << record.bytes.size() << " bytes read of " << tape.size();
  }
}

}  // namespace
