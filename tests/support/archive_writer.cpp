// SPDX-License-Identifier: MIT
// Test archives written with zlib and libarchive's writer.
#include "archive_writer.h"

#include <zlib.h>

#if defined(TAPNAMES_HAVE_LIBARCHIVE)
#include <archive.h>
#include <archive_entry.h>
#endif

namespace tapes {

std::vector<std::uint8_t> gzip_bytes(std::span<const std::uint8_t> bytes) {
  z_stream stream{};
  constexpr int kGzip = 16 + MAX_WBITS;
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, kGzip, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(bytes.size())));
  stream.next_in = const_cast<Bytef*>(bytes.data());  // NOLINT: zlib's API is not const
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return status == Z_STREAM_END ? out : std::vector<std::uint8_t>{};
}

#if defined(TAPNAMES_HAVE_LIBARCHIVE)
namespace {

la_ssize_t append(archive* /*handle*/, void* data, const void* bytes, std::size_t size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(data);
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  out->insert(out->end(), first, first + size);
  return static_cast<la_ssize_t>(size);
}

// Sets the format and filter of `packing`.
void set_packing(archive* handle, Packing packing) {
  switch (packing) {
    case Packing::Zip:
      archive_write_set_format_zip(handle);
      break;
    case Packing::Tar:
      archive_write_set_format_pax_restricted(handle);
      break;
    case Packing::TarGz:
      archive_write_set_format_pax_restricted(handle);
      archive_write_add_filter_gzip(handle);
      break;
    case Packing::TarXz:
      archive_write_set_format_pax_restricted(handle);
      archive_write_add_filter_xz(handle);
      break;
    case Packing::SevenZip:
      archive_write_set_format_7zip(handle);
      break;
    case Packing::Cpio:
      archive_write_set_format_cpio_newc(handle);
      break;
    case Packing::Iso:
      archive_write_set_format_iso9660(handle);
      archive_write_set_format_option(handle, "iso9660", "rockridge", "1");
      break;
    case Packing::Bzip2:
      archive_write_set_format_raw(handle);
      archive_write_add_filter_bzip2(handle);
      break;
    case Packing::Xz:
      archive_write_set_format_raw(handle);
      archive_write_add_filter_xz(handle);
      break;
    case Packing::Zstd:
      archive_write_set_format_raw(handle);
      archive_write_add_filter_zstd(handle);
      break;
  }
}

}  // namespace

std::vector<std::uint8_t> pack_bytes(Packing packing, const std::vector<Member>& members) {
  std::vector<std::uint8_t> out;
  archive* handle = archive_write_new();
  set_packing(handle, packing);
  archive_write_set_bytes_in_last_block(handle, 1);
  archive_write_open(handle, &out, nullptr, append, nullptr);
  for (const Member& member : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, member.name.c_str());
    archive_entry_set_size(entry, static_cast<la_int64_t>(member.bytes.size()));
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_write_header(handle, entry);
    archive_write_data(handle, member.bytes.data(), member.bytes.size());
    archive_entry_free(entry);
  }
  archive_write_close(handle);
  archive_write_free(handle);
  return out;
}

std::vector<std::uint8_t> zip_bytes(const std::vector<Member>& members) {
  return pack_bytes(Packing::Zip, members);
}
std::vector<std::uint8_t> tar_bytes(const std::vector<Member>& members) {
  return pack_bytes(Packing::Tar, members);
}
#else
std::vector<std::uint8_t> pack_bytes(Packing /*packing*/, const std::vector<Member>& /*members*/) {
  return {};
}
std::vector<std::uint8_t> zip_bytes(const std::vector<Member>& /*members*/) {
  return {};
}
std::vector<std::uint8_t> tar_bytes(const std::vector<Member>& /*members*/) {
  return {};
}
#endif

}  // namespace tapes
