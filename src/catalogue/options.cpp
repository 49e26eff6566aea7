// SPDX-License-Identifier: MIT
// The command line of tapnames-catalogue, parsed the way most tools do:
// short options may be bundled (-e0), values follow as the next argument or
// joined (-j4, --jobs=4), and "--" ends the options.
#include "options.h"

#include <charconv>
#include <optional>

#include "platform.h"

namespace catalogue {
namespace {

constexpr unsigned kMaxJobs = 256;

constexpr std::string_view kHelp =
    "Usage: tapnames-catalogue [OPTION]... [PATH]...\n"
    "Lists every name in the tape images under each PATH (folders are walked;\n"
    "images, compressed images and archives may be named directly), one record\n"
    "per name. With no PATH and no --files-from, the current folder; '-' is\n"
    "standard input (plain, compressed or an archive, told by its content).\n"
    "\n"
    "Images: *.tap, *.tap.gz, *.tap.bz2, *.tap.xz, *.tap.zst, in any case, and\n"
    "such members of archives (.zip, .7z, .tar, .tar.gz, .rar and others) and of\n"
    "archives inside them, 8 deep, read in place (ARCHIVE!MEMBER!MEMBER).\n"
    "\n"
    "Options:\n"
    "  -e, --escape           write control codes in names by name\n"
    "  -j, --jobs N           read N images at once (default: one per CPU)\n"
    "  -L, --follow           follow symbolic links met while walking (never into\n"
    "                         /proc or /sys; name those to read them)\n"
    "      --max-depth N      enter folders at most N levels below each PATH\n"
    "      --exclude GLOB     leave out files and folders whose name matches GLOB\n"
    "                         (*, ?, [...]; may be given more than once)\n"
    "      --one-file-system  enter no folder on another file system\n"
    "      --files-from FILE  read paths from FILE, one a line ('-': standard input)\n"
    "  -0, --null             the lists of --files-from are separated by NUL\n"
    "      --format FORMAT    tsv (default), csv or jsonl\n"
    "      --all-images       a record (number 0) for each image without names\n"
    "      --images           one record per image instead: path, bytes, names,\n"
    "                         first name, error (empty when read whole)\n"
    "  -q, --quiet            no progress line and no summary on standard error\n"
    "                         (the progress line is drawn only when standard\n"
    "                         error is a terminal and standard output is not)\n"
    "      --db FILE          keep the catalogue in the SQLite database FILE instead\n"
    "                         of writing records: only new and changed images are\n"
    "                         read, and those gone from under each PATH removed\n"
    "      --hashes LIST      with --db, also crc32, md5 and/or sha1 of each image\n"
    "      --duplicates       from --db: images with the same bytes, grouped\n"
    "      --search TEXT      from --db: the names holding TEXT, in any case\n"
    "      --stats            from --db: images, names, bytes, failures, duplicates\n"
    "  -h, --help             show this help and exit (on Windows also /?)\n"
    "  -V, --version          show the version and exit\n"
    "\n"
    "Paths in messages are escaped as in TSV records. On SIGINT or SIGTERM the\n"
    "records completed are written, \"interrupted\" is said, and the status is 130.\n"
    "On Windows, * and ? in a PATH's last part are expanded here, in name order.\n"
    "\n"
    "Exit status: 0 when everything was read, 1 when anything failed, 2 for a\n"
    "usage error (an empty PATH too), 130 when interrupted.\n";

// A count for --max-depth: 0 or more.
std::optional<unsigned> parse_count(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

constexpr std::string_view kNoDatabase =
    "\nThis build of tapnames-catalogue has no database: --db, --hashes,\n"
    "--duplicates, --search and --stats are refused.\n";

// "crc32,md5" and the like, in any order; nothing for an unknown name.
std::optional<HashChoice> parse_hashes(std::string_view list) {
  HashChoice choice;
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    if (name == "crc32") {
      choice.crc32 = true;
    } else if (name == "md5") {
      choice.md5 = true;
    } else if (name == "sha1") {
      choice.sha1 = true;
    } else {
      return std::nullopt;
    }
    if (comma == std::string_view::npos) {
      return choice;
    }
    list.remove_prefix(comma + 1);
  }
}

std::optional<unsigned> parse_jobs(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value == 0 || value > kMaxJobs) {
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
      if (!options_ended && tapnames::asks_for_help(arg)) {
        parsed_.action = Action::Help;  // "/?" on Windows
      } else if (arg.empty()) {
        fail("empty path (an unset variable?); '.' is the current folder");
      } else if (options_ended || arg.size() < 2 || arg[0] != '-') {
        parsed_.options.paths.emplace_back(arg);
      } else if (arg == "--") {
        options_ended = true;
      } else if (arg.starts_with("--")) {
        long_option(arg.substr(2));
      } else {
        short_options(arg.substr(1));
      }
    }
    check_database();
    return std::move(parsed_);
  }

 private:
  void fail(std::string message) {
    if (parsed_.action == Action::Run) {
      parsed_.action = Action::UsageError;
      parsed_.error = std::move(message);
    }
  }

  // The value of an option: joined to it, or the next argument.
  std::optional<std::string_view> value(std::string_view option,
                                        std::optional<std::string_view> joined) {
    if (joined) {
      return joined;
    }
    if (index_ < args_.size()) {
      return args_[index_++];
    }
    fail("option '" + std::string(option) + "' needs a value");
    return std::nullopt;
  }

  void set_jobs(std::string_view text) {
    if (const auto jobs = parse_jobs(text)) {
      parsed_.options.jobs = *jobs;
    } else {
      fail("invalid number of jobs '" + std::string(text) + "' (1 to 256)");
    }
  }

  // --db and its questions: a question reads no images, and needs --db.
  void check_database() {
    const Options& options = parsed_.options;
    const bool asked = options.question != Question::None;
    if (parsed_.action != Action::Run ||
        (options.database.empty() && !asked && !options.hashes.crc32 && !options.hashes.md5 &&
         !options.hashes.sha1)) {
      return;
    }
    if (!has_database()) {
      fail("this build of tapnames-catalogue has no database (--db)");
    } else if (options.database.empty()) {
      fail("--hashes, --duplicates, --search and --stats need --db FILE");
    } else if (asked && (!options.paths.empty() || !options.files_from.empty())) {
      fail("--duplicates, --search and --stats read no images: give no PATH");
    }
  }

  void ask(Question question) {
    if (parsed_.options.question != Question::None && parsed_.options.question != question) {
      fail("one of --duplicates, --search and --stats at a time");
    }
    parsed_.options.question = question;
  }

  void long_option(std::string_view body) {
    Options& options = parsed_.options;
    std::optional<std::string_view> joined;
    if (const std::size_t equals = body.find('='); equals != std::string_view::npos) {
      joined = body.substr(equals + 1);
      body = body.substr(0, equals);
    }
    const std::string option = "--" + std::string(body);
    const bool takes_value = body == "jobs" || body == "format" || body == "files-from" ||
                             body == "max-depth" || body == "exclude" || body == "db" ||
                             body == "hashes" || body == "search";
    if (joined && !takes_value) {
      fail("option '" + option + "' takes no value");
      return;
    }
    if (body == "escape") {
      options.escape = true;
    } else if (body == "follow") {
      options.follow = true;
    } else if (body == "null") {
      options.null_separated = true;
    } else if (body == "one-file-system") {
      options.one_file_system = true;
    } else if (body == "all-images") {
      options.all_images = true;
    } else if (body == "images") {
      options.images = true;
    } else if (body == "quiet") {
      options.quiet = true;
    } else if (body == "duplicates") {
      ask(Question::Duplicates);
    } else if (body == "stats") {
      ask(Question::Stats);
    } else if (body == "help") {
      parsed_.action = Action::Help;
    } else if (body == "version") {
      parsed_.action = Action::Version;
    } else if (!takes_value) {
      fail("unknown option '" + option + "'");
    } else if (const auto text = value(option, joined)) {
      if (body == "jobs") {
        set_jobs(*text);
      } else if (body == "files-from") {
        options.files_from.emplace_back(*text);
      } else if (body == "exclude") {
        options.excludes.emplace_back(*text);
      } else if (body == "max-depth") {
        options.max_depth = parse_count(*text);
        if (!options.max_depth) {
          fail("invalid depth '" + std::string(*text) + "' (0 or more)");
        }
      } else if (body == "db" && text->empty()) {
        fail("option '" + option + "' needs a file name");
      } else if (body == "db") {
        options.database = *text;
      } else if (body == "search") {
        ask(Question::Search);
        options.search = *text;
      } else if (body == "hashes") {
        if (const auto hashes = parse_hashes(*text)) {
          options.hashes = *hashes;
        } else {
          fail("unknown hashes '" + std::string(*text) + "' (crc32, md5, sha1, joined by commas)");
        }
      } else if (const auto format = parse_format(*text)) {
        options.format = *format;
      } else {
        fail("unknown format '" + std::string(*text) + "' (tsv, csv or jsonl)");
      }
    }
  }

  void short_options(std::string_view letters) {
    Options& options = parsed_.options;
    for (std::size_t i = 0; i < letters.size(); ++i) {
      switch (letters[i]) {
        case 'e':
          options.escape = true;
          break;
        case 'L':
          options.follow = true;
          break;
        case '0':
          options.null_separated = true;
          break;
        case 'q':
          options.quiet = true;
          break;
        case 'h':
          parsed_.action = Action::Help;
          return;
        case 'V':
          parsed_.action = Action::Version;
          return;
        case 'j': {
          const std::string_view rest = letters.substr(i + 1);
          if (const auto text = value(
                  "-j", rest.empty() ? std::nullopt : std::optional<std::string_view>(rest))) {
            set_jobs(*text);
          }
          return;
        }
        default:
          fail("unknown option '-" + std::string(1, letters[i]) + "'");
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
  static const std::string text =
      std::string(kHelp) + std::string(has_database() ? std::string_view() : kNoDatabase);
  return text;
}

}  // namespace catalogue
