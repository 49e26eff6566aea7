// SPDX-License-Identifier: MIT
// tapnames-catalogue: every name in a whole collection of tape images, one
// record per name. Wires the modules together: options, walk, run, summary.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "options.h"
#include "platform.h"
#include "progress.h"
#include "run.h"
#include "version.h"
#include "walk.h"
#include "wildcards.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

void message(std::string_view path, std::string_view reason) {
  std::string text;
  catalogue::append_message(text, path, reason);
  tapnames::write_text(stderr, text);
}

// `argv` ends in a null pointer; its strings live for the run.
int catalogue_main(int argc, const char* const* argv) {
  tapnames::use_binary_output();
  const std::vector<std::string_view> views(argv + std::min(argc, 1), argv + argc);
  catalogue::Parsed parsed = catalogue::parse_options(views);
  catalogue::Options& options = parsed.options;
  switch (parsed.action) {
    case catalogue::Action::Help:
      tapnames::write_text(stdout, catalogue::help_text());
      return std::fflush(stdout) == 0 && !tapnames::output_failed(stdout) ? 0 : kFailure;
    case catalogue::Action::Version:
      tapnames::write_text(stdout, "tapnames-catalogue " + std::string(tapnames::kRelease) + "\n");
      return std::fflush(stdout) == 0 && !tapnames::output_failed(stdout) ? 0 : kFailure;
    case catalogue::Action::UsageError:
      tapnames::write_text(stderr, "tapnames-catalogue: " + parsed.error +
                                       "\nTry 'tapnames-catalogue --help' for more "
                                       "information.\n");
      return kUsageError;
    case catalogue::Action::Run:
      break;
  }
  options.paths = catalogue::expand_wildcards(options.paths);
  const bool lists_read = std::all_of(
      options.files_from.begin(), options.files_from.end(), [&options](const std::string& list) {
        std::string error;
        if (!catalogue::read_path_list(list, options.null_separated, options.paths, error)) {
          message(list, error);
          return false;
        }
        return true;
      });
  if (!lists_read) {
    return kUsageError;
  }
  if (options.paths.empty() && options.files_from.empty()) {
    options.paths.emplace_back();  // the current folder
  }
  if (options.jobs == 0) {
    options.jobs = std::max(1U, std::thread::hardware_concurrency());
  }

  std::uint64_t walk_failures = 0;
  const std::vector<catalogue::Source> sources =
      catalogue::find_sources(options.paths, options.follow,
                              [&](std::string_view path, std::string_view reason, bool failure) {
                                message(path, reason);
                                walk_failures += failure ? 1 : 0;
                              });

  static std::array<char, std::size_t{1} << 16U> out_buffer;  // fewer, larger writes
  std::setvbuf(stdout, out_buffer.data(), _IOFBF, out_buffer.size());
  std::string header;
  catalogue::append_header(header, options.format);
  tapnames::write_text(stdout, header);
  catalogue::RunResult result = catalogue::run_catalogue(sources,
                                                         {.format = options.format,
                                                          .escape = options.escape,
                                                          .all_images = options.all_images,
                                                          .jobs = options.jobs,
                                                          .progress = !options.quiet},
                                                         stdout, stderr);
  result.summary.failures += walk_failures;
  if (!options.quiet) {
    catalogue::print_summary(result.summary, stderr);
  }
  return result.write_failed || result.summary.failures != 0 ? kFailure : 0;
}

}  // namespace

#if defined(_WIN32)
// Arguments arrive as UTF-16 and are kept as UTF-8, as paths are printed.
int wmain(int argc, wchar_t** argv) {
  const tapnames::Utf8Arguments arguments = tapnames::utf8_arguments(argc, argv);
  return catalogue_main(arguments.argc, arguments.argv);
}
#else
int main(int argc, char** argv) {
  return catalogue_main(argc, argv);
}
#endif
