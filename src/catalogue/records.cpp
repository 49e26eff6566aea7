// SPDX-License-Identifier: MIT
// The catalogue's records in TSV, CSV and JSON Lines.
#include "records.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "name_render.h"

namespace catalogue {
namespace {

constexpr std::array<std::string_view, 5> kColumns = {"path", "number", "offset", "block_type",
                                                      "name"};
constexpr std::array<std::string_view, 5> kImageColumns = {"path", "bytes", "names", "first_name",
                                                           "error"};

void append_columns(std::string& out, Format format, std::span<const std::string_view> columns) {
  if (format == Format::Jsonl) {
    return;
  }
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) {
      out += format == Format::Tsv ? '\t' : ',';
    }
    out += columns[i];
  }
  out += format == Format::Tsv ? "\n" : "\r\n";
}

void append_number(std::string& out, std::uint64_t value) {
  std::array<char, 24> digits{};
  auto* const end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  out.append(digits.data(), end);
}

// The separated formats share their layout; only the escaping and the line
// end differ.
void append_separated(std::string& out, Format format, const Record& record) {
  const auto field = format == Format::Tsv ? append_tsv_field : append_csv_field;
  const char separator = format == Format::Tsv ? '\t' : ',';
  field(out, record.path);
  out += separator;
  append_number(out, record.number);
  out += separator;
  if (record.number != 0) {
    append_number(out, record.offset);
  }
  out += separator;
  if (record.number != 0) {
    append_number(out, record.block_type);
  }
  out += separator;
  field(out, record.name);
  out += format == Format::Tsv ? "\n" : "\r\n";
}

// `"path":...` and, for a member, `"members":[...]`: a text as a JSON string
// when it is UTF-8, else under the key with "_base64" in base64.
void append_json_path(std::string& out, std::string_view path,
                      std::span<const std::string> members) {
  if (is_utf8(path)) {
    out += "\"path\":";
    append_json_string(out, path);
  } else {
    out += "\"path_base64\":\"";
    append_base64(out, path);
    out += '"';
  }
  if (members.empty()) {
    return;
  }
  const bool utf8 = std::all_of(members.begin(), members.end(),
                                [](const std::string& member) { return is_utf8(member); });
  out += utf8 ? ",\"members\":[" : ",\"members_base64\":[";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i != 0) {
      out += ',';
    }
    if (utf8) {
      append_json_string(out, members[i]);
    } else {
      out += '"';
      append_base64(out, members[i]);
      out += '"';
    }
  }
  out += ']';
}

void append_jsonl(std::string& out, const Record& record) {
  out += '{';
  append_json_path(out, record.path, record.members);
  out += ",\"number\":";
  append_number(out, record.number);
  if (record.number == 0) {
    out += ",\"offset\":null,\"block_type\":null,\"name\":\"\"}\n";
    return;
  }
  out += ",\"offset\":";
  append_number(out, record.offset);
  out += ",\"block_type\":";
  append_number(out, record.block_type);
  out += ",\"name\":";
  append_json_string(out, record.name);
  out += "}\n";
}

}  // namespace

std::optional<Format> parse_format(std::string_view name) {
  if (name == "tsv") {
    return Format::Tsv;
  }
  if (name == "csv") {
    return Format::Csv;
  }
  if (name == "jsonl") {
    return Format::Jsonl;
  }
  return std::nullopt;
}

void append_header(std::string& out, Format format) {
  append_columns(out, format, kColumns);
}

void append_image_header(std::string& out, Format format) {
  append_columns(out, format, kImageColumns);
}

void append_image_record(std::string& out, Format format, const ImageRecord& record) {
  if (format == Format::Jsonl) {
    out += '{';
    append_json_path(out, record.path, record.members);
    out += ",\"bytes\":";
    append_number(out, record.bytes);
    out += ",\"names\":";
    append_number(out, record.names);
    out += ",\"first_name\":";
    append_json_string(out, record.first_name);
    out += ",\"error\":";
    append_json_string(out, record.error);
    out += "}\n";
    return;
  }
  const auto field = format == Format::Tsv ? append_tsv_field : append_csv_field;
  const char separator = format == Format::Tsv ? '\t' : ',';
  field(out, record.path);
  out += separator;
  append_number(out, record.bytes);
  out += separator;
  append_number(out, record.names);
  out += separator;
  field(out, record.first_name);
  out += separator;
  field(out, record.error);
  out += format == Format::Tsv ? "\n" : "\r\n";
}

void append_record(std::string& out, Format format, const Record& record) {
  if (format == Format::Jsonl) {
    append_jsonl(out, record);
  } else {
    append_separated(out, format, record);
  }
}

void append_tsv_field(std::string& out, std::string_view field) {
  const std::size_t at = out.size();
  out.resize(at + (2 * field.size()));
  out.resize(at + tapnames::render_tsv_field(field, std::span(out).subspan(at)));
}

void append_csv_field(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') {
      out += '"';
    }
    out += c;
  }
  out += '"';
}

void append_json_string(std::string& out, std::string_view text) {
  constexpr std::string_view kHex = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (code < 0x20 || code == 0x7F) {
      out += "\\u00";
      out += kHex[code >> 4U];
      out += kHex[code & 0xFU];
    } else {
      out += c;
    }
  }
  out += '"';
}

bool is_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0FU;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07U;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0U) != 0x80) {
        return false;
      }
      code = (code << 6U) | (next & 0x3FU);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    constexpr std::array<std::uint32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

void append_base64(std::string& out, std::string_view bytes) {
  constexpr std::string_view kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group =
        (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16U) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8U) |
        static_cast<unsigned char>(bytes[i + 2]);
    for (const unsigned shift : {18U, 12U, 6U, 0U}) {
      out += kDigits[(group >> shift) & 0x3FU];
    }
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 0) {
    return;
  }
  std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16U;
  if (rest == 2) {
    group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8U;
  }
  out += kDigits[(group >> 18U) & 0x3FU];
  out += kDigits[(group >> 12U) & 0x3FU];
  out += rest == 2 ? kDigits[(group >> 6U) & 0x3FU] : '=';
  out += '=';
}

}  // namespace catalogue
