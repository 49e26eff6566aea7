// SPDX-License-Identifier: MIT
// tapnames-catalogue: every name in a whole collection of tape images, one
// record per name. Wires the modules together: options, walk, run, summary,
// and the signals that interrupt a run.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
#include "wildcards.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr int kInterrupted = 130;  // as a shell reports SIGINT

// Set by SIGINT or SIGTERM; the walk and the run look at it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void on_signal(int number) {
  interrupted.store(true);
  static_cast<void>(std::signal(number, SIG_DFL));  // a second one ends the process at once
}

void message(std::string_view path, std::string_view reason) {
  std::string text;
  catalogue::append_message(text, path, reason);
  tapnames::write_text(stderr, text);
}

// `argv` ends in a null pointer; its strings live for the run.
int catalogue_main(int argc, const char* const* argv) {
  const auto started = std::chrono::steady_clock::now();
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
  const bool list_on_stdin = std::find(options.files_from.begin(), options.files_from.end(), "-") !=
                             options.files_from.end();
  if (list_on_stdin &&
      std::find(options.paths.begin(), options.paths.end(), "-") != options.paths.end()) {
    std::fputs("tapnames-catalogue: standard input cannot hold both a list of paths and an image\n",
               stderr);
    return kUsageError;
  }
  if (options.paths.empty() && options.files_from.empty()) {
    options.paths.emplace_back();  // the current folder
  }
  if (options.jobs == 0) {
    options.jobs = std::max(1U, std::thread::hardware_concurrency());
  }
  static_cast<void>(std::signal(SIGINT, on_signal));
  static_cast<void>(std::signal(SIGTERM, on_signal));

  catalogue::Summary walked;
  std::vector<std::string> unread;  // what the walk could not read: kept in the database
  const std::vector<catalogue::Source> sources = catalogue::find_sources(
      options.paths,
      {.follow = options.follow,
       .one_file_system = options.one_file_system,
       .max_depth = options.max_depth,
       .excludes = options.excludes,
       .stop = &interrupted},
      [&walked, &unread](std::string_view path, std::string_view reason, bool failure) {
        message(path, reason);
        (failure ? walked.failures : walked.skipped) += 1;
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
    walked.failures += plan.failures.size();
    store->start();
  }

  static std::array<char, std::size_t{1} << 16U> out_buffer;  // fewer, larger writes
  std::setvbuf(stdout, out_buffer.data(), _IOFBF, out_buffer.size());
  std::string header;
  if (store) {
    // the database takes the records
  } else if (options.images) {
    catalogue::append_image_header(header, options.format);
  } else {
    catalogue::append_header(header, options.format);
  }
  tapnames::write_text(stdout, header);
  catalogue::RunResult result;
  if (interrupted.load()) {
    result.summary = walked;
    result.interrupted = true;
    std::fflush(stdout);
  } else {
    result = catalogue::run_catalogue(store ? plan.to_read : sources,
                                      {.format = options.format,
                                       .escape = options.escape,
                                       .all_images = options.all_images && !store,
                                       .images = options.images && !store,
                                       .jobs = options.jobs,
                                       .progress = !options.quiet,
                                       .walked = walked,
                                       .interrupt = &interrupted,
                                       .database = store.get()},
                                      stdout, stderr);
  }
  if (result.interrupted) {
    // Every record written is whole; workers may still be blocked in a read,
    // so the process ends here rather than through the threads' destructors.
    // A database keeps what its writer has committed: each source's rows are
    // replaced in one transaction, and the next run reads the rest.
    if (!options.quiet) {
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
      catalogue::print_summary(result.summary, elapsed.count(), stderr);
    }
    std::fputs("tapnames-catalogue: interrupted\n", stderr);
    std::fflush(stderr);
    std::_Exit(kInterrupted);
  }
  bool stored = true;
  if (store) {
    std::string error;
    stored = store->finish(error);
    if (!stored) {
      message(options.database, "cannot write: " + error);
    }
  }
  if (!options.quiet) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    catalogue::print_summary(result.summary, elapsed.count(), stderr);
    if (store) {
      std::array<char, 128> counts{};
      std::snprintf(counts.data(), counts.size(),
                    ": %" PRIu64 " image%s read, %" PRIu64 " unchanged, %" PRIu64 " removed\n",
                    result.summary.images, result.summary.images == 1 ? "" : "s", plan.unchanged,
                    plan.removed);
      tapnames::write_text(stderr, "tapnames-catalogue: " + options.database + counts.data());
    }
  }
  return !stored || result.summary.failures != 0 ? kFailure : 0;
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
