// SPDX-License-Identifier: MIT
// Command-line handling and the run: prints the banner and help text, opens
// the tape image, runs the scan and reports every failure on standard error.
#include "cli.h"

#include <cstdio>

#include "platform.h"
#include "version.h"

namespace tapnames {
namespace {

// 255 on every system: POSIX keeps the low eight bits of a status anyway, and
// on Windows a negative status would pass "if errorlevel 1" as success.
constexpr int kFailure = 255;

// Standard output goes first, so that in a log that holds both streams the
// message follows the banner and the names found before it.
void report(const char* message) {
  std::fflush(stdout);
  write_text(stderr, message);
}

// Flushes standard output; a failure to write anything turns the status into
// a failure with a message, so a truncated list is never taken for success.
int finish(int status) {
  if (std::fflush(stdout) != 0 || output_failed(stdout)) {
    write_text(stderr, "Could not write output.\n");
    return kFailure;
  }
  return status;
}

}  // namespace

Options parse_options(int argc, const char* const* argv) noexcept {
  Options options;
  for (int index = 1; index < argc; ++index) {
    const char* argument = argv[index];
    if (argument[0] != '-') {
      options.path = argument;
      break;
    }
    if (argument[1] == 'a') {
      options.list.extract_all = true;
    } else if (argument[1] == 'e') {
      options.list.escape = true;
    }
  }
  return options;
}

const char* program_name(int argc, const char* const* argv) noexcept {
  if (argc < 1 || argv[0] == nullptr || argv[0][0] == '\0') {
    return "tapnames";
  }
  return argv[0];
}

void print_help(const char* program_name) noexcept {
  write_text(stdout, "Usage: ");
  write_text(stdout, program_name);
  write_text(stdout, " [option(s)] <tap file>\n");
  write_text(stdout, "\nOptions:\n");
  write_text(stdout, "   -a: extract all filenames (by default only the first one is extracted)\n");
  write_text(stdout, "   -e: escape control codes\n");
}

int run(int argc, const char* const* argv) noexcept {
  use_binary_output();
  write_text(stdout, "tapnames rel ");
  write_text(stdout, kRelease);
  write_text(stdout, "\n");
  const Options options = parse_options(argc, argv);
  // "/?" on Windows: the help, with the status it has without a path.
  if (options.path == nullptr || asks_for_help(options.path)) {
    print_help(program_name(argc, argv));
    return finish(kFailure);
  }

  const OpenedImage image = open_image(options.path);
  if (image.file == nullptr) {
    report(image.is_directory ? "Could not read input file.\n" : "Could not open input file.\n");
    return finish(kFailure);
  }
  const ListStatus status = list_names(image.file, options.list, stdout);
  std::fclose(image.file);
  if (status == ListStatus::ReadError) {
    report("Could not read input file.\n");
    return finish(kFailure);
  }
  return finish(0);
}

}  // namespace tapnames
