// SPDX-License-Identifier: MIT
// The catalogue's records: one line per name in TSV, CSV or JSON Lines, and
// the escaping each format needs. Knows nothing of files or threads.
//
//   tsv    path<TAB>number<TAB>offset<TAB>block_type<TAB>name, a header line
//          first; tab, newline, carriage return and backslash in a field
//          written \t, \n, \r, \\; lines end in "\n". Paths in messages
//          are escaped alike.
//   csv    the same columns as RFC 4180 has them: a header line, a field
//          quoted when it holds a comma, a quote, CR or LF, with quotes
//          doubled; lines end in "\r\n".
//   jsonl  one object per line, no header:
//          {"path":"...","number":1,"offset":0,"block_type":1,"name":"..."}.
//          A path that is not valid UTF-8 is written instead as
//          "path_base64" holding its bytes in base64 (RFC 4648), so that it
//          can be restored exactly. A member of an archive also has
//          "members", the chain of member names from the file on disk
//          inward (["inner.zip","x.tap"]), beside its "!"-joined path; as
//          "members_base64" when any of them is not valid UTF-8.
// An image without names (when asked for) is a record with number 0 and an
// empty offset, block type and name (null offset and block type in jsonl).
// With --images, one record per image instead: path, bytes (of the image
// read), names, first_name, error (empty when it was read whole); a file or
// archive that failed outside any image is a record too, with its error.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace catalogue {

enum class Format { Tsv, Csv, Jsonl };

struct Record {
  std::string_view path;                 // ARCHIVE!MEMBER for a member of an archive
  std::span<const std::string> members;  // the chain of member names; empty for a file
  std::uint64_t number = 0;              // 0: an image without names
  std::uint64_t offset = 0;
  std::uint8_t block_type = 0;
  std::string_view name;  // as `tapnames -a` writes it between the quotes
};

struct ImageRecord {
  std::string_view path;
  std::span<const std::string> members;
  std::uint64_t bytes = 0;  // of the image, as read
  std::uint64_t names = 0;
  std::string_view first_name;
  std::string_view error;  // empty when read whole
};

// The name of a format on the command line, or nothing.
std::optional<Format> parse_format(std::string_view name);

void append_header(std::string& out, Format format);
void append_record(std::string& out, Format format, const Record& record);
void append_image_header(std::string& out, Format format);
void append_image_record(std::string& out, Format format, const ImageRecord& record);

// The pieces, for the tests.
void append_tsv_field(std::string& out, std::string_view field);
void append_csv_field(std::string& out, std::string_view field);
void append_json_string(std::string& out, std::string_view text);  // with the quotes
bool is_utf8(std::string_view text);
void append_base64(std::string& out, std::string_view bytes);

}  // namespace catalogue
