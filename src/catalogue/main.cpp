// SPDX-License-Identifier: MIT
// tapnames-catalogue: every name in a whole collection of tape images, one
// record per name. Wires the modules together: options, walk, run, summary.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "database.h"
#include "options.h"
#include "platform.h"
#include "progress.h"
#include "run.h"
#include "version.h"
#include "walk.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

void message(std::string_view path, std::string_view reason) {
  std::string text;
  catalogue::append_message(text, path, reason);
  std::fputs(text.c_str(), stderr);
}

// `argv` ends in a null pointer; its strings live for the run.
int catalogue_main(int argc, const char* const* argv) {
  tapnames::use_binary_output();
  const std::vector<std::string_view> views(argv + std::min(argc, 1), argv + argc);
  catalogue::Parsed parsed = catalogue::parse_options(views);
  catalogue::Options& options = parsed.options;
  switch (parsed.action) {
    case catalogue::Action::Help:
      std::fputs(catalogue::help_text().data(), stdout);
      return std::fflush(stdout) == 0 ? 0 : kFailure;
    case catalogue::Action::Version:
      std::printf("tapnames-catalogue %.*s\n", static_cast<int>(tapnames::kRelease.size()),
                  tapnames::kRelease.data());
      return std::fflush(stdout) == 0 ? 0 : kFailure;
    case catalogue::Action::UsageError:
      std::fprintf(stderr,
                   "tapnames-catalogue: %s\nTry 'tapnames-catalogue --help' for more "
                   "information.\n",
                   parsed.error.c_str());
      return kUsageError;
    case catalogue::Action::Run:
      break;
  }
  // --db: the database opened (the store), and a question answered from it alone.
  std::unique_ptr<catalogue::Database> store;
  if (!options.database.empty()) {
    std::string error;
    const bool asked = options.question != catalogue::Question::None;
    store = catalogue::open_database(options.database, !asked, error);
    if (!store) {
      message(options.database, error);
      return kFailure;
    }
    if (asked) {
      if (!store->ask(options.question, options.search, options.format, options.escape, stdout,
                      error)) {
        message(options.database, error);
        return kFailure;
      }
      return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : kFailure;
    }
  }
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
  std::vector<std::string> unread;  // what the walk could not read: kept in the database
  const std::vector<catalogue::Source> sources =
      catalogue::find_sources(options.paths, options.follow,
                              [&](std::string_view path, std::string_view reason, bool failure) {
                                message(path, reason);
                                walk_failures += failure ? 1 : 0;
                                if (failure) {
                                  unread.emplace_back(path);
                                }
                              });

  // --db: only the sources new or changed are read, into the database.
  catalogue::Plan plan;
  if (store) {
    std::string error;
    if (!store->plan(sources, options.paths, unread, options.hashes, options.escape, plan, error)) {
      message(options.database, error);
      return kFailure;
    }
    for (const catalogue::Failure& failure : plan.failures) {
      message(failure.path, failure.reason);
    }
    walk_failures += plan.failures.size();
    store->start();
  }

  static std::array<char, std::size_t{1} << 16U> out_buffer;  // fewer, larger writes
  std::setvbuf(stdout, out_buffer.data(), _IOFBF, out_buffer.size());
  std::string header;
  if (!store) {
    catalogue::append_header(header, options.format);
  }
  std::fputs(header.c_str(), stdout);
  catalogue::RunResult result =
      catalogue::run_catalogue(store ? plan.to_read : sources,
                               {.format = options.format,
                                .escape = options.escape,
                                .all_images = options.all_images && !store,
                                .jobs = options.jobs,
                                .progress = !options.quiet,
                                .database = store.get()},
                               stdout, stderr);
  result.summary.failures += walk_failures;
  bool stored = true;
  if (store) {
    std::string error;
    stored = store->finish(error);
    if (!stored) {
      message(options.database, "cannot write: " + error);
    }
  }
  if (!options.quiet) {
    catalogue::print_summary(result.summary, stderr);
    if (store) {
      std::fprintf(stderr,
                   "tapnames-catalogue: %s: %" PRIu64 " image%s read, %" PRIu64
                   " unchanged, %" PRIu64 " removed\n",
                   options.database.c_str(), result.summary.images,
                   result.summary.images == 1 ? "" : "s", plan.unchanged, plan.removed);
    }
  }
  return result.write_failed || !stored || result.summary.failures != 0 ? kFailure : 0;
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
