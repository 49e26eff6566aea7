// End-to-end: runs the built tapnames binary and checks its standard output,
// standard error and exit status separately.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "demo_tape.h"
#include "tape_builder.h"

namespace {

constexpr const char* kBinary = TAPNAMES_BINARY;
constexpr const char* kDemo = TAPNAMES_DEMO;
const std::string kBanner = "tapnames rel 1.1\n";

std::string help(const std::string& program) {
  return "Usage: " + program +
         " [option(s)] <tap file>\n\nOptions:\n"
         "   -a: extract all filenames (by default only the first one is extracted)\n"
         "   -e: escape control codes\n";
}

enum class Stdout { Capture, DevFull, Closed };

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

// Runs the tool with argv[0] "tapnames" and `args`; with `no_argv` the
// argument vector is empty.
Outcome run_tool(const std::vector<std::string>& args, Stdout mode = Stdout::Capture,
                 bool no_argv = false) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::vector<char*> argv;
  std::string program = "tapnames";
  if (!no_argv) {
    argv.push_back(program.data());
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (mode == Stdout::Capture)
      dup2(fileno(out), 1);
    if (mode == Stdout::DevFull)
      dup2(open("/dev/full", O_WRONLY), 1);
    if (mode == Stdout::Closed)
      close(1);
    dup2(fileno(err), 2);
    execve(kBinary, argv.data(), environ);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {slurp(out), slurp(err), code};
}

std::string write_tape(const std::string& name, const std::vector<std::uint8_t>& tape) {
  const std::string path = testing::TempDir() + "tapnames_e2e_" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(tape.data()), static_cast<std::streamsize>(tape.size()));
  return path;
}

struct Case {
  const char* what;
  std::vector<std::string> args;
  Stdout mode;
  std::string out;
  std::string err;
  int status;
};

TEST(EndToEnd, CommandLinesGiveTheirOutputAndStatus) {
  using tapes::TapeBuilder;
  const std::string three = write_tape(
      "three.tap", TapeBuilder().header("ONE").header("TWO").header("THREE").byte(0).take());
  const std::string empty = write_tape("empty.tap", {});
  const std::string dir = testing::TempDir();
  const std::string first = kBanner + "FOUND: \"ONE\"\n";
  const std::string all =
      kBanner + "FOUND (001): \"ONE\"\nFOUND (002): \"TWO\"\nFOUND (003): \"THREE\"\n";
  const std::string demo_lines = "FOUND (001): \"SPACE RACE\"\nFOUND (002): \"";
  const Case cases[] = {
      {"no arguments", {}, Stdout::Capture, kBanner + help("tapnames"), "", 255},
      {"only options", {"-a", "-e"}, Stdout::Capture, kBanner + help("tapnames"), "", 255},
      {"missing file",
       {"/nonexistent/x.tap"},
       Stdout::Capture,
       kBanner,
       "Could not open input file.\n",
       255},
      {"directory", {dir}, Stdout::Capture, kBanner, "Could not read input file.\n", 255},
      {"empty file", {empty}, Stdout::Capture, kBanner, "", 0},
      {"first name", {three}, Stdout::Capture, first, "", 0},
      {"all names", {"-a", three}, Stdout::Capture, all, "", 0},
      {"-e -a as -a -e", {"-e", "-a", three}, Stdout::Capture, all, "", 0},
      {"option after the path", {three, "-a"}, Stdout::Capture, first, "", 0},
      {"demo without -e",
       {"-a", kDemo},
       Stdout::Capture,
       kBanner + demo_lines + "TITLE RED\"\nFOUND (003): \"HIGH SCORES\"\n",
       "",
       0},
      {"demo with -e",
       {"-a", "-e", kDemo},
       Stdout::Capture,
       kBanner + demo_lines +
           "{REVERSE ON}TITLE{REVERSE OFF} {RED}RED\"\nFOUND (003): \"HIGH SCORES\"\n",
       "",
       0},
      {"stdout full", {"-a", three}, Stdout::DevFull, "", "Could not write output.\n", 255},
      {"stdout closed", {"-a", three}, Stdout::Closed, "", "Could not write output.\n", 255},
  };
  for (const Case& c : cases) {
    const Outcome outcome = run_tool(c.args, c.mode);
    EXPECT_EQ(outcome.out, c.out) << c.what;
    EXPECT_EQ(outcome.err, c.err) << c.what;
    EXPECT_EQ(outcome.status, c.status) << c.what;
  }
}

TEST(EndToEnd, EmptyArgumentVectorGetsHelpWithoutReadingPastIt) {
  const Outcome outcome = run_tool({}, Stdout::Capture, true);
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
  const Outcome outcome = run_tool({"-a", write_tape("many.tap", tape.take())});
  EXPECT_EQ(outcome.out, expected);
  EXPECT_EQ(outcome.status, 0);
}

TEST(Demo, ShippedImageIsReproducibleFromTheBuilder) {
  std::ifstream file(kDemo, std::ios::binary);
  const std::vector<std::uint8_t> shipped{std::istreambuf_iterator<char>(file), {}};
  EXPECT_EQ(shipped, tapes::demo_tape());
}

}  // namespace
