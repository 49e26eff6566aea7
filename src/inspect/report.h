// SPDX-License-Identifier: MIT
// The formats of tapnames-inspect, appended to a string:
//   text   per image its path, a table of events in tape order, the
//          histogram as bars over the pulse values that occur (the zero
//          and one ranges marked Z and O) and a summary line;
//   jsonl  one object per event ("kind": "name" or "near-miss"), then one
//          "histogram" ("counts": 256 numbers, "ones", "zeros",
//          "out_of_range") and one "summary"; every object carries "path"
//          (or "path_base64", as the catalogue writes a path that is not
//          UTF-8);
//   tsv    the events alone, under a header line, fields escaped as the
//          catalogue's.
// Names are written as the catalogue writes them.
#pragma once

#include <string>
#include <string_view>

#include "inspector.h"
#include "options.h"

namespace inspect {

// The reason of a near miss as the formats write it: "short-pilot", ...
std::string_view reason_name(tapnames::NearMiss reason);

// What is written once, before everything (the tsv header line).
void append_start(std::string& out, Format format);
void append_image_start(std::string& out, Format format, std::string_view path);
void append_event(std::string& out, Format format, bool escape, std::string_view path,
                  const Event& event);
// After an image read to its end: its histogram and summary.
void append_image_end(std::string& out, Format format, std::string_view path,
                      const Inspector& inspector);

}  // namespace inspect
