// End-to-end: runs the built tapnames binary and checks its standard output,
// standard error and exit status separately.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "demo_tape.h"
#include "tape_builder.h"
#include "version.h"

namespace {

constexpr const char* kBinary = TAPNAMES_BINARY;
constexpr const char* kDemo = TAPNAMES_DEMO;
const std::string kBanner = "tapnames rel " + std::string(tapnames::kRelease) + "\n";

std::string help(const std::string& program) {
  return "Usage: " + program +
         " [option(s)] <tap file>\n\nOptions:\n"
         "   -a: extract all filenames (by default only the first one is extracted)\n"
         "   -e: escape control codes\n";
}

enum class Stdout { Capture, DevFull, Closed, BrokenPipe, BrokenPipeIgnored };

struct Outcome {
  std::string out;
  std::string err;
  int status;
};

std::string slurp(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
    text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

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
  std::vector<char*> argv;
  std::string argv0 = call.argv0;
  if (!call.no_argv) {
    argv.push_back(argv0.data());
    for (const std::string& arg : call.args)
      argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
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
    }
    dup2(fileno(err), 2);
    execve(kBinary, argv.data(), environ);
    _exit(127);
  }
  close(in[0]);
  close(sink[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {slurp(out), slurp(err), code};
}

std::string write_tape(const std::string& name, const std::vector<std::uint8_t>& tape) {
  const std::string path = testing::TempDir() + "tapnames_e2e_" + name;
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

TEST(EndToEnd, CommandLinesAndBadInputsGiveTheirOutputAndStatus) {
  using tapes::TapeBuilder;
  const auto three_tape = TapeBuilder().header("ONE").header("TWO").header("THREE").byte(0).take();
  const std::string three = write_tape("three.tap", three_tape);
  const std::string odd_path = write_tape("tape %s %n 100%.tap", three_tape);
  const std::string empty = write_tape("empty.tap", {});
  const std::string one_byte = write_tape("one.tap", {tapes::kOnePulse});
  const std::string dir = testing::TempDir();
  const auto block = TapeBuilder().header("CUT").take();
  const auto cut = [&](std::size_t length) {
    return write_tape(
        "cut" + std::to_string(length) + ".tap",
        std::vector<std::uint8_t>(block.begin(), block.begin() + static_cast<long>(length)));
  };
  const std::string first = kBanner + "FOUND: \"ONE\"\n";
  const std::string all =
      kBanner + "FOUND (001): \"ONE\"\nFOUND (002): \"TWO\"\nFOUND (003): \"THREE\"\n";
  const std::string demo_lines = "FOUND (001): \"SPACE RACE\"\nFOUND (002): \"";
  const std::string help_text = kBanner + help("tapnames");
  const std::string no_open = "Could not open input file.\n";
  const std::string no_write = "Could not write output.\n";
  const Case cases[] = {
      {"no arguments", {}, help_text, "", 255},
      {"only options", {.args = {"-a", "-e"}}, help_text, "", 255},
      {"program name with %",
       {.args = {"-a"}, .argv0 = "tap%s%n"},
       kBanner + help("tap%s%n"),
       "",
       255},
      {"missing file", {.args = {"/nonexistent/x.tap"}}, kBanner, no_open, 255},
      {"path through a file", {.args = {three + "/x"}}, kBanner, no_open, 255},
      {"directory", {.args = {dir}}, kBanner, "Could not read input file.\n", 255},
      {"empty file", {.args = {empty}}, kBanner, "", 0},
      {"one byte", {.args = {"-a", one_byte}}, kBanner, "", 0},
      {"first name", {.args = {three}}, first, "", 0},
      {"all names", {.args = {"-a", three}}, all, "", 0},
      {"-e -a as -a -e", {.args = {"-e", "-a", three}}, all, "", 0},
      {"option after the path", {.args = {three, "-a"}}, first, "", 0},
      {"path with % and spaces", {.args = {"-a", odd_path}}, all, "", 0},
      {"/dev/stdin from a pipe", {.args = {"-a", "/dev/stdin"}, .in = three_tape}, all, "", 0},
      {"block cut after one pulse", {.args = {cut(1)}}, kBanner, "", 0},
      {"block cut in its pilot", {.args = {cut(4000)}}, kBanner, "", 0},
      {"block cut in its name", {.args = {cut(block.size() - 9)}}, kBanner, "", 0},
      {"block cut before its last pulse", {.args = {cut(block.size() - 1)}}, kBanner, "", 0},
      {"block ending at the end of the file",
       {.args = {cut(block.size())}},
       kBanner + "FOUND: \"CUT\"\n",
       "",
       0},
      {"demo without -e",
       {.args = {"-a", kDemo}},
       kBanner + demo_lines + "TITLE RED\"\nFOUND (003): \"HIGH SCORES\"\n",
       "",
       0},
      {"demo with -e",
       {.args = {"-a", "-e", kDemo}},
       kBanner + demo_lines +
           "{REVERSE ON}TITLE{REVERSE OFF} {RED}RED\"\nFOUND (003): \"HIGH SCORES\"\n",
       "",
       0},
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
  };
  for (const Case& c : cases) {
    const Outcome outcome = run_tool(c.call);
    EXPECT_EQ(outcome.out, c.out) << c.what;
    EXPECT_EQ(outcome.err, c.err) << c.what;
    EXPECT_EQ(outcome.status, c.status) << c.what;
  }
}

TEST(EndToEnd, ReadsAFifo) {
  const std::string fifo = testing::TempDir() + "tapnames_e2e_fifo";
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto tape = tapes::TapeBuilder().slow_pulses(300000, 9).header("PIPED").byte(0).take();
  const pid_t writer = fork();
  if (writer == 0) {
    const int fd = open(fifo.c_str(), O_WRONLY);
    const bool written = write(fd, tape.data(), tape.size()) == static_cast<ssize_t>(tape.size());
    _exit(written ? 0 : 1);
  }
  const Outcome outcome = run_tool({.args = {fifo}});
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_EQ(outcome.out, kBanner + "FOUND: \"PIPED\"\n");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.status, 0);
}

TEST(EndToEnd, RendersEveryByteValue) {
  tapes::TapeBuilder tape;
  for (int row = 0; row < 16; ++row) {
    std::string name;
    for (int column = 0; column < 16; ++column)
      name.push_back(static_cast<char>(row * 16 + column));
    tape.header(name);
  }
  const std::string path = write_tape("every_byte.tap", tape.byte(0).take());
  const std::string dots(16, '.');
  const std::vector<std::string> escaped = {
      "",
      ".{CURS DOWN}{REVERSE ON}{HOME}{INST DEL}.......{RED}{CURS RIGHT}{GREEN}{BLU}",
      " !\"#$%&'()*+,-./",
      "0123456789:;<=>?",
      "@ABCDEFGHIJKLMNO",
      "PQRSTUVWXYZ[\\]..",
      dots,
      dots,
      ".....{F1}{F2}{F3}{F4}{F5}{F6}{F7}{F8}{SHIFT+RETURN}{CAPITAL CHARS}.",
      "{BLACK}{CURS UP}{REVERSE OFF}{CLEAR & HOME}{SHIFT+INST DEL}.......{PURPLE}{CURS LEFT}"
      "{YELLOW}{CYAN}",
      "{SHIFT+SPACE}" + dots.substr(1),
      dots,
      dots,
      dots,
      dots,
      dots};
  std::vector<std::string> plain = escaped;
  plain[1] = plain[6] = plain[7] = plain[8] = plain[9] = "";
  plain[5] = "PQRSTUVWXYZ[\\]";
  plain[10] = dots.substr(1);
  for (const bool escape : {false, true}) {
    std::string expected = kBanner;
    for (std::size_t row = 0; row < 16; ++row) {
      char number[16];
      std::snprintf(number, sizeof number, "%03zu", row + 1);
      expected +=
          "FOUND (" + std::string(number) + "): \"" + (escape ? escaped : plain)[row] + "\"\n";
    }
    const Outcome outcome = run_tool({.args = escape ? std::vector<std::string>{"-a", "-e", path}
                                                     : std::vector<std::string>{"-a", path}});
    EXPECT_EQ(outcome.out, expected) << "escape " << escape;
    EXPECT_EQ(outcome.status, 0);
  }
}

TEST(EndToEnd, EmptyArgumentVectorGetsHelpWithoutReadingPastIt) {
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

TEST(Demo, ShippedImageIsReproducibleFromTheBuilder) {
  std::ifstream file(kDemo, std::ios::binary);
  const std::vector<std::uint8_t> shipped{std::istreambuf_iterator<char>(file), {}};
  EXPECT_EQ(shipped, tapes::demo_tape());
}

}  // namespace
