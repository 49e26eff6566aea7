// SPDX-License-Identifier: MIT
// The command line of tapnames-inspect, parsed as the catalogue's is: short
// options may be bundled, values follow as the next argument or joined
// (--format=tsv), and "--" ends the options.
#include "options.h"

#include <charconv>
#include <optional>

namespace inspect {
namespace {

// Longer pilots than this count as bytes no image holds.
constexpr std::int32_t kLargestMinPilot = 1000000000;

constexpr std::string_view kHelp =
    "Usage: tapnames-inspect [OPTION]... IMAGE...\n"
    "Tells why a tape image gives the names it gives, and no others: each name\n"
    "with its pilot, each pilot of at least --min-pilot bytes that came to\n"
    "nothing with the reason, and a histogram of the pulse lengths.\n"
    "IMAGE may be an image, a gzipped image, an archive or a folder, read as\n"
    "tapnames-catalogue reads them.\n"
    "\n"
    "Options:\n"
    "      --format FORMAT  text (default), jsonl or tsv (the events alone)\n"
    "      --min-pilot N    tell of pilots of N bytes or more (default 64)\n"
    "  -a, --all            tell of every pilot, however short\n"
    "  -e, --escape         write control codes in names by name\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Exit status: 0 when everything was read, 1 when anything failed, 2 for a\n"
    "usage error.\n";

std::optional<std::int32_t> parse_count(std::string_view text) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < 1 ||
      value > kLargestMinPilot) {
    return std::nullopt;
  }
  return value;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string_view>& args) : args_(args) {}

  Parsed run() {
    bool options_ended = false;
    while (index_ < args_.size() && parsed_.action == Action::Run) {
      const std::string_view arg = args_[index_++];
      if (options_ended || arg.size() < 2 || arg[0] != '-') {
        parsed_.options.paths.emplace_back(arg);
      } else if (arg == "--") {
        options_ended = true;
      } else if (arg.starts_with("--")) {
        long_option(arg.substr(2));
      } else {
        short_options(arg.substr(1));
      }
    }
    if (parsed_.action == Action::Run && parsed_.options.paths.empty()) {
      fail("no image named");
    }
    return std::move(parsed_);
  }

 private:
  void fail(std::string message) {
    if (parsed_.action == Action::Run) {
      parsed_.action = Action::UsageError;
      parsed_.error = std::move(message);
    }
  }

  void long_option(std::string_view body) {
    Options& options = parsed_.options;
    std::optional<std::string_view> joined;
    if (const std::size_t equals = body.find('='); equals != std::string_view::npos) {
      joined = body.substr(equals + 1);
      body = body.substr(0, equals);
    }
    const std::string option = "--" + std::string(body);
    const bool takes_value = body == "format" || body == "min-pilot";
    if (joined && !takes_value) {
      fail("option '" + option + "' takes no value");
      return;
    }
    if (body == "all") {
      options.settings.all = true;
    } else if (body == "escape") {
      options.escape = true;
    } else if (body == "help") {
      parsed_.action = Action::Help;
    } else if (body == "version") {
      parsed_.action = Action::Version;
    } else if (!takes_value) {
      fail("unknown option '" + option + "'");
    } else if (!joined && index_ == args_.size()) {
      fail("option '" + option + "' needs a value");
    } else {
      const std::string_view text = joined ? *joined : args_[index_++];
      if (body == "min-pilot") {
        set_min_pilot(text);
      } else if (text == "text") {
        options.format = Format::Text;
      } else if (text == "jsonl") {
        options.format = Format::Jsonl;
      } else if (text == "tsv") {
        options.format = Format::Tsv;
      } else {
        fail("unknown format '" + std::string(text) + "' (text, jsonl or tsv)");
      }
    }
  }

  void set_min_pilot(std::string_view text) {
    if (const auto count = parse_count(text)) {
      parsed_.options.settings.min_pilot = *count;
    } else {
      fail("invalid pilot length '" + std::string(text) + "' (1 to 1000000000 bytes)");
    }
  }

  void short_options(std::string_view letters) {
    for (const char letter : letters) {
      switch (letter) {
        case 'a':
          parsed_.options.settings.all = true;
          break;
        case 'e':
          parsed_.options.escape = true;
          break;
        case 'h':
          parsed_.action = Action::Help;
          return;
        case 'V':
          parsed_.action = Action::Version;
          return;
        default:
          fail("unknown option '-" + std::string(1, letter) + "'");
          return;
      }
    }
  }

  const std::vector<std::string_view>& args_;
  std::size_t index_ = 0;
  Parsed parsed_;
};

}  // namespace

Parsed parse_options(const std::vector<std::string_view>& args) {
  return Parser(args).run();
}

std::string_view help_text() {
  return kHelp;
}

}  // namespace inspect
