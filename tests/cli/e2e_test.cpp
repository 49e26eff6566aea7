// SPDX-License-Identifier: MIT
// End to end on POSIX systems: runs the built tapnames binary by fork and
// exec and checks its standard output, standard error and exit status
// separately, where only POSIX can arrange the conditions: standard output
// closed, full or a pipe without a reader, FIFOs, signals, an empty argument
// vector, both streams on one pipe. What every platform can run is in
// run_case.cmake.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "list_names.h"
#include "run_outcome.h"
#include "tape_builder.h"
#include "version.h"

namespace {

constexpr const char* kBinary = TAPNAMES_BINARY;
// The emulator of a cross build, its arguments separated by commas; or "".
constexpr std::string_view kEmulator = TAPNAMES_EMULATOR;
const std::string kBanner = "tapnames rel " + std::string(tapnames::kRelease) + "\n";

std::string help(const std::string& program) {
  return "Usage: " + program +
         " [option(s)] <tap file>\n\nOptions:\n"
         "   -a: extract all filenames (by default only the first one is extracted)\n"
         "   -e: escape control codes\n";
}

enum class Stdout { Capture, DevFull, Closed, BrokenPipe, BrokenPipeIgnored, SameAsStderr };

// The words that start the tool: the emulator's, if any, then the binary.
std::vector<std::string> launcher() {
  std::vector<std::string> words;
  std::string_view rest = kEmulator;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    words.emplace_back(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
  }
  words.emplace_back(kBinary);
  return words;
}

using support::Outcome;
using support::slurp;

struct Invocation {
  std::vector<std::string> args;
  Stdout mode = Stdout::Capture;
  std::string argv0 = "tapnames";
  bool no_argv = false;          // an empty argument vector
  std::vector<std::uint8_t> in;  // sent through a pipe on standard input
};

Outcome run_tool(const Invocation& call) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::vector<std::string> words = launcher();
  const std::string path = words.back();
  if (words.size() == 1) {
    words.back() = call.argv0;  // without an emulator, argv[0] is ours to choose
  }
  std::vector<char*> argv;
  if (!call.no_argv) {
    for (std::string& word : words)
      argv.push_back(word.data());
    for (const std::string& arg : call.args)
      argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const std::string program = kEmulator.empty() ? path : launcher().front();
  int in[2];
  int sink[2];
  if (pipe(in) != 0 || pipe(sink) != 0)
    return {"", "pipe failed", -1};
  // The whole input fits in the pipe's buffer, so it is written up front.
  if (write(in[1], call.in.data(), call.in.size()) != static_cast<ssize_t>(call.in.size())) {
    return {"", "input too large for a pipe", -1};
  }
  close(in[1]);
  close(sink[0]);  // a reader that has gone away
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    signal(SIGPIPE, call.mode == Stdout::BrokenPipeIgnored ? SIG_IGN : SIG_DFL);
    switch (call.mode) {
      case Stdout::Capture:
        dup2(fileno(out), 1);
        break;
      case Stdout::DevFull:
        dup2(open("/dev/full", O_WRONLY), 1);
        break;
      case Stdout::Closed:
        close(1);
        break;
      case Stdout::BrokenPipe:
      case Stdout::BrokenPipeIgnored:
        dup2(sink[1], 1);
        break;
      case Stdout::SameAsStderr:
        dup2(fileno(err), 1);
        break;
    }
    dup2(fileno(err), 2);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  close(in[0]);
  close(sink[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {slurp(out), slurp(err), code};
}

// The folder of this run's scratch files, made on first use under the system's
// temporary folder with a name of its own, so that runs at once (by other
// users too) never meet, and removed with everything in it at exit.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = testing::TempDir() + "tapnames-e2e-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      // Nowhere else is safe to write: stop rather than scatter files.
      std::fprintf(stderr, "cannot make a scratch folder in %s\n", testing::TempDir().c_str());
      std::exit(1);
    }
    path_ = pattern + "/";
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string scratch_path(const std::string& name) {
  static const ScratchFolder folder;
  return folder.path() + name;
}

std::string write_tape(const std::string& name, const std::vector<std::uint8_t>& tape) {
  const std::string path = scratch_path(name);
  EXPECT_TRUE(tapes::write_tape_file(path.c_str(), tape)) << path;
  return path;
}

struct Case {
  const char* what;
  Invocation call;
  std::string out;
  std::string err;
  int status;
};

bool emulated() {
  return !kEmulator.empty();
}

TEST(EndToEnd, CommandLinesAndBadInputsGiveTheirOutputAndStatus) {
  using tapes::TapeBuilder;
  const auto three_tape = TapeBuilder().header("ONE").header("TWO").header("THREE").byte(0).take();
  const std::string three = write_tape("three.tap", three_tape);
  const std::string odd_path = write_tape("tape %s %n 100%.tap", three_tape);
  const std::string one_byte = write_tape("one.tap", {tapes::kOnePulse});
  const std::string first = kBanner + "FOUND: \"ONE\"\n";
  const std::string all =
      kBanner + "FOUND (001): \"ONE\"\nFOUND (002): \"TWO\"\nFOUND (003): \"THREE\"\n";
  const std::string no_open = "Could not open input file.\n";
  const std::string no_write = "Could not write output.\n";
  const Case cases[] = {
      {"path through a file", {.args = {three + "/x"}}, kBanner, no_open, 255},
      {"one byte", {.args = {"-a", one_byte}}, kBanner, "", 0},
      {"first name", {.args = {three}}, first, "", 0},
      {"path with % and spaces", {.args = {"-a", odd_path}}, all, "", 0},
      {"/dev/stdin from a pipe", {.args = {"-a", "/dev/stdin"}, .in = three_tape}, all, "", 0},
      {"stdout full", {.args = {"-a", three}, .mode = Stdout::DevFull}, "", no_write, 255},
      {"stdout closed", {.args = {"-a", three}, .mode = Stdout::Closed}, "", no_write, 255},
      {"stdout a closed pipe",
       {.args = {"-a", three}, .mode = Stdout::BrokenPipe},
       "",
       "",
       128 + SIGPIPE},
      {"stdout a closed pipe, SIGPIPE ignored",
       {.args = {"-a", three}, .mode = Stdout::BrokenPipeIgnored},
       "",
       no_write,
       255},
      // With both streams on one file, standard output comes first.
      {"one log: missing file",
       {.args = {"/nonexistent/x.tap"}, .mode = Stdout::SameAsStderr},
       "",
       kBanner + no_open,
       255},
      {"one log: help", {.args = {"-a"}, .mode = Stdout::SameAsStderr}, "", "", 255},
  };
  for (const Case& c : cases) {
    const Outcome outcome = run_tool(c.call);
    EXPECT_EQ(outcome.out, c.out) << c.what;
    if (c.call.mode == Stdout::SameAsStderr && c.err.empty()) {
      EXPECT_TRUE(outcome.err.starts_with(kBanner + "Usage: ")) << c.what;
    } else {
      EXPECT_EQ(outcome.err, c.err) << c.what;
    }
    EXPECT_EQ(outcome.status, c.status) << c.what;
  }
}

TEST(EndToEnd, ProgramNameWithPercentIsPrintedAsIs) {
  if (emulated()) {
    GTEST_SKIP() << "the emulator sets argv[0]";
  }
  const Outcome outcome = run_tool({.args = {"-a"}, .argv0 = "tap%s%n"});
  EXPECT_EQ(outcome.out, kBanner + help("tap%s%n"));
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.status, 255);
}

// A FIFO fed by a child process with `repeats` copies of `data`, for as long
// as its reader takes them. finish() waits for the writer and returns how many
// bytes it wrote.
class FifoWriter {
 public:
  FifoWriter(const std::string& name, const std::vector<std::uint8_t>& data, std::size_t repeats)
      : path_(scratch_path(name)) {
    if (mkfifo(path_.c_str(), 0600) != 0 || pipe(report_) != 0) {
      return;
    }
    writer_ = fork();
    if (writer_ == 0) {
      signal(SIGPIPE, SIG_IGN);
      close(report_[0]);
      const int fd = open(path_.c_str(), O_WRONLY);
      std::size_t written = 0;
      for (std::size_t i = 0; i < repeats; ++i) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n <= 0) {
          break;
        }
        written += static_cast<std::size_t>(n);
      }
      const bool sent = write(report_[1], &written, sizeof written) == sizeof written;
      _exit(sent ? 0 : 1);
    }
    close(report_[1]);
  }
  [[nodiscard]] const std::string& path() const { return path_; }
  std::size_t finish() {
    std::size_t written = 0;
    if (writer_ <= 0 || read(report_[0], &written, sizeof written) != sizeof written) {
      ADD_FAILURE() << "the FIFO writer did not report";
    }
    close(report_[0]);
    waitpid(writer_, nullptr, 0);
    return written;
  }

 private:
  std::string path_;
  int report_[2] = {-1, -1};
  pid_t writer_ = -1;
};

TEST(EndToEnd, ReadsAFifo) {
  const auto tape = tapes::TapeBuilder().slow_pulses(300000, 9).header("PIPED").byte(0).take();
  FifoWriter fifo("fifo", tape, 1);
  const Outcome outcome = run_tool({.args = {fifo.path()}});
  EXPECT_EQ(fifo.finish(), tape.size());
  EXPECT_EQ(outcome.out, kBanner + "FOUND: \"PIPED\"\n");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.status, 0);
}

// Once standard output has failed, the scan reads no more of the image: a
// FIFO fed with 64 MiB of headers is left almost all unread.
TEST(EndToEnd, StopsReadingOnceOutputFails) {
  tapes::TapeBuilder builder;
  while (builder.tape().size() < (std::size_t{1} << 20)) {
    builder.header("MANY NAMES");
  }
  const auto segment = builder.take();
  constexpr std::size_t kSegments = 64;
  FifoWriter fifo("long_fifo", segment, kSegments);
  const Outcome outcome = run_tool({.args = {"-a", fifo.path()}, .mode = Stdout::DevFull});
  const std::size_t written = fifo.finish();
  EXPECT_EQ(outcome.err, "Could not write output.\n");
  EXPECT_EQ(outcome.status, 255);
  EXPECT_LT(written, segment.size() * kSegments / 8) << "bytes taken from the FIFO";
}

#if defined(__GLIBC__)
// Reads that fail: after two names the scan reports the failure and keeps
// the names it wrote (the run then flushes them before its message); a read
// interrupted by a signal is tried again and nothing is lost.
TEST(Scan, FailedAndInterruptedReads) {
  struct Source {
    std::vector<std::uint8_t> tape;
    int error;  // what the read after the first returns
    std::size_t at = 0;
    int reads = 0;
  };
  const auto tape = tapes::TapeBuilder().header("ONE").header("TWO").byte(0).take();
  const std::string two = "FOUND (001): \"ONE\"\nFOUND (002): \"TWO\"\n";
  for (const int error : {EIO, EINTR}) {
    Source source{tape, error};
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
      auto& from = *static_cast<Source*>(cookie);
      const bool fail = from.error == EINTR ? ++from.reads == 2 : from.at == from.tape.size();
      if (fail) {
        errno = from.error;
        return -1;
      }
      const std::size_t n = std::min({size, from.tape.size() - from.at, std::size_t{9000}});
      std::copy_n(from.tape.begin() + static_cast<long>(from.at), n, buffer);
      from.at += n;
      return static_cast<ssize_t>(n);
    };
    std::FILE* image = fopencookie(&source, "rb", io);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(image, nullptr);
    const auto status = tapnames::list_names(image, {true, false}, out);
    std::fclose(image);
    EXPECT_EQ(status,
              error == EIO ? tapnames::ListStatus::ReadError : tapnames::ListStatus::Complete);
    EXPECT_EQ(slurp(out), two) << "error " << error;
  }
}
#endif

TEST(EndToEnd, EmptyArgumentVectorGetsHelpWithoutReadingPastIt) {
  if (emulated()) {
    GTEST_SKIP() << "the emulator needs an argument vector";
  }
  const Outcome outcome = run_tool({.no_argv = true});
  EXPECT_EQ(outcome.out, kBanner + help("tapnames"));
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.status, 255);
}

TEST(EndToEnd, NumbersWidenPastNineHundredNinetyNine) {
  tapes::TapeBuilder tape;
  std::string expected = kBanner;
  for (int i = 1; i <= 1001; ++i) {
    tape.header("N" + std::to_string(i), 1, 960);
    char line[64];
    std::snprintf(line, sizeof line, "FOUND (%03d): \"N%d\"\n", i, i);
    expected += line;
  }
  const Outcome outcome = run_tool({.args = {"-a", write_tape("many.tap", tape.take())}});
  EXPECT_EQ(outcome.out, expected);
  EXPECT_EQ(outcome.status, 0);
}

}  // namespace
