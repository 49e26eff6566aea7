// Command-line handling and the run: prints the banner and help text, opens
// the tape image, runs the scan and reports every failure on standard error.
#include "cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "results.h"
#include "scan.h"
#include "version.h"

namespace tapnames {
namespace {

constexpr int kFailure = -1;

// Flushes standard output; a failure to write anything turns the status into
// a failure with a message, so a truncated list is never taken for success.
int finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("Could not write output.\n", stderr);
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
      options.extract_all = true;
    } else if (argument[1] == 'e') {
      options.escape = true;
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
  std::printf("Usage: %s [option(s)] <tap file>\n", program_name);
  std::fputs("\nOptions:\n", stdout);
  std::fputs("   -a: extract all filenames (by default only the first one is extracted)\n", stdout);
  std::fputs("   -e: escape control codes\n", stdout);
}

int run(int argc, const char* const* argv) noexcept {
  std::printf("tapnames rel %.*s\n", static_cast<int>(kRelease.size()), kRelease.data());
  const Options options = parse_options(argc, argv);
  if (options.path == nullptr) {
    print_help(program_name(argc, argv));
    return finish(kFailure);
  }

  const int fd = ::open(options.path, O_RDONLY | O_CLOEXEC);  // NOLINT: POSIX varargs
  if (fd < 0) {
    std::fputs("Could not open input file.\n", stderr);
    return finish(kFailure);
  }
  // Only a hint for read-ahead; the scan does not depend on it.
  static_cast<void>(::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL));

  ResultPrinter printer(options.extract_all, options.escape, stdout);
  NameScanner scanner(options.extract_all, printer);
  const ScanStatus status = scan_descriptor(fd, scanner);
  ::close(fd);
  if (status == ScanStatus::ReadError) {
    std::fputs("Could not read input file.\n", stderr);
    return finish(kFailure);
  }
  return finish(0);
}

}  // namespace tapnames
