// Fuzz target: the whole scan (decoder, result lines and name rendering) over
// arbitrary bytes, in every combination of -a and -e. Checks what a user of
// the output relies on: every line is a well-formed result line, names are
// printable and no longer than 16 codes can render to, numbering runs from 001
// without gaps, first-name mode gives at most one line, and -e changes how
// names are written but never how many are found.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "render/name_render.h"
#include "results.h"
#include "scan.h"

namespace {

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Runs the scan and returns the number of result lines, after checking them.
std::size_t check_scan(std::span<const std::uint8_t> pulses, bool extract_all, bool escape) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  require(stream != nullptr);
  tapnames::ResultPrinter printer(extract_all, escape, stream);
  tapnames::NameScanner scanner(extract_all, printer);
  scanner.feed(pulses);
  scanner.finish();
  require(std::fclose(stream) == 0);

  std::string_view output(text, size);
  require(output.empty() || output.back() == '\n');
  std::size_t lines = 0;
  while (!output.empty()) {
    const std::size_t end = output.find('\n');
    std::string_view line = output.substr(0, end);
    output.remove_prefix(end + 1);
    ++lines;
    if (extract_all) {
      char expected[32];
      std::snprintf(expected, sizeof expected, "FOUND (%03zu): \"", lines);
      require(line.starts_with(expected));
      line.remove_prefix(std::string_view(expected).size());
    } else {
      require(line.starts_with("FOUND: \""));
      line.remove_prefix(8);
    }
    require(line.ends_with('"'));
    line.remove_suffix(1);
    require(line.size() <= tapnames::kMaxRenderedName);
    for (const char c : line) {
      require(c >= 0x20 && c <= 0x7E);
      require(escape || (c != '{' && c != '}'));
    }
  }
  require(extract_all || lines <= 1);
  std::free(text);  // NOLINT(cppcoreguidelines-no-malloc): from open_memstream
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> pulses(data, size);
  const std::size_t all_plain = check_scan(pulses, true, false);
  const std::size_t all_escaped = check_scan(pulses, true, true);
  require(all_plain == all_escaped);
  require(check_scan(pulses, false, false) == (all_plain > 0 ? 1U : 0U));
  require(check_scan(pulses, false, true) == (all_plain > 0 ? 1U : 0U));
  return 0;
}
