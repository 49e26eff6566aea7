// SPDX-License-Identifier: MIT
// tapnames-catalogue end to end on POSIX systems: a small collection made
// here, in a temporary folder, holding every kind of image and trouble
// (upper-case names, .tap.gz, a zip with a subfolder, links, a FIFO, a broken
// image, a tab, quotes and a non-UTF-8 byte in paths), catalogued in every
// format under one and two jobs, with standard output, standard error and
// the status checked apart; a second one of archives inside archives and
// compressed images, damaged, nested too deep or a bomb; what standard input
// holds, told by its first bytes; and the walk's limits: a tree far deeper
// than PATH_MAX, names with control codes, a real signal, a full disk, no
// thread to be had, the progress line on a terminal.
// With --db: the database holds the names the records hold, answers its
// questions, reads again only what changed, and stays whole when the run is
// killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#if defined(TAPNAMES_HAVE_DATABASE)
#include <sqlite3.h>
#endif

#include "archive_writer.h"
#include "reader.h"
#include "run_outcome.h"
#include "tape_builder.h"

namespace {

namespace fs = std::filesystem;
using tapes::TapeBuilder;

using support::Outcome;
using support::slurp;

struct How {
  std::string input;                  // on standard input
  bool unprivileged = false;          // as an ordinary user, when the tests run as root
  const char* out_path = nullptr;     // standard output to this file instead
  bool one_process = false;           // no thread can be started (with `unprivileged`)
  const char* terminal = nullptr;     // standard error to this terminal
  bool out_to_terminal = false;       // and standard output too
  std::function<void(pid_t)> during;  // done while it runs
};

// Runs the catalogue in `folder` with `args`, as `how` says. The time in the
// summary is written "T".
// The catalogue's argument vector for exec: the binary, `args`, a null; the
// strings stay in `binary` and `args`.
std::vector<char*> catalogue_argv(std::string& binary, std::vector<std::string>& args) {
  std::vector<char*> argv{binary.data()};
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  return argv;
}

Outcome run_how(const fs::path& folder, std::vector<std::string> args, const How& how) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int in[2];
  if (out == nullptr || err == nullptr || pipe(in) != 0 ||
      write(in[1], how.input.data(), how.input.size()) != static_cast<ssize_t>(how.input.size())) {
    return {};
  }
  close(in[1]);
  std::string binary = TAPNAMES_CATALOGUE_BINARY;
  const std::vector<char*> argv = catalogue_argv(binary, args);
  const pid_t pid = fork();
  if (pid == 0) {
    constexpr uid_t kNobody = 65534;
    if (how.unprivileged && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(126);
    }
    const rlimit single{1, 1};
    if (how.one_process) {
      // A sanitizer's leak check needs a thread of its own at the end.
      setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      if (setrlimit(RLIMIT_NPROC, &single) != 0) {
        _exit(126);
      }
    }
    if (chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    const int out_file = how.out_path != nullptr ? open(how.out_path, O_WRONLY) : fileno(out);
    const int tty = how.terminal != nullptr ? open(how.terminal, O_RDWR | O_NOCTTY) : -1;
    dup2(in[0], 0);
    dup2(how.out_to_terminal ? tty : out_file, 1);
    dup2(tty >= 0 ? tty : fileno(err), 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  if (how.during) {
    how.during(pid);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Outcome outcome{slurp(out), slurp(err), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
  outcome.err =
      std::regex_replace(outcome.err, std::regex(" read in [0-9.]+ s\n"), " read in T s\n");
  return outcome;
}

Outcome run(const fs::path& folder, std::vector<std::string> args, const std::string& input = {},
            bool unprivileged = false) {
  return run_how(folder, std::move(args), {.input = input, .unprivileged = unprivileged});
}

void write_file(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  ASSERT_TRUE(tapes::write_tape_file(path.c_str(), bytes)) << path;
}

std::vector<std::uint8_t> one_name(const char* name) {
  return TapeBuilder().header(name).data_block(100, 1).take();
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "catalogue-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    const fs::path coll = root_ / "coll";
    fs::create_directories(coll / "sub dir");
    // Two names in one image; the second header follows the first at once.
    write_file(coll / "a.tap", TapeBuilder().header("ALPHA").header("BETA", 2).take());
    write_file(coll / "Upper.TAP", one_name("UP"));
    write_file(coll / "-dash \"q\".tap", one_name("C,\"Q\"\\"));
    write_file(coll / "tab\there.tap", one_name("TAB"));
    write_file(coll / "\xff.tap", one_name("FF"));
    write_file(coll / "empty.tap", {});
    write_file(coll / "notes.txt", one_name("NOT AN IMAGE"));
    write_file(coll / "sub dir" / "g.tap.gz", tapes::gzip_bytes(one_name("\x12GZIP\x92")));
    std::vector<std::uint8_t> cut = tapes::gzip_bytes(one_name("CUT"));
    cut.resize(cut.size() / 2);
    write_file(coll / "sub dir" / "bad.tap.gz", cut);
    write_file(coll / "arc.zip",
               tapes::zip_bytes({{"games/Z.TAP", one_name("ZIPPED")},
                                 {"empty.tap", TapeBuilder().slow_pulses(500, 3).take()},
                                 {"readme.txt", one_name("NOT READ")}}));
    fs::create_symlink("a.tap", coll / "link.tap");
    fs::create_directory_symlink(".", coll / "loop");
    ASSERT_EQ(mkfifo((coll / "fifo.tap").c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
};

#if defined(TAPNAMES_HAVE_DATABASE)
constexpr bool kHasDatabase = true;
#else
constexpr bool kHasDatabase = false;
#endif

const std::string kTsv =
    "path\tnumber\toffset\tblock_type\tname\n"
    "coll/-dash \"q\".tap\t1\t8000\t1\tC,\"Q\"\\\\\n"
    "coll/Upper.TAP\t1\t8000\t1\tUP\n"
    "coll/a.tap\t1\t8000\t1\tALPHA\n"
    "coll/a.tap\t2\t16248\t2\tBETA\n"
    "coll/arc.zip!games/Z.TAP\t1\t8000\t1\tZIPPED\n"
    "coll/sub dir/bad.tap.gz\t1\t8000\t1\tCUT\n"  // found before the cut
    "coll/sub dir/g.tap.gz\t1\t8000\t1\tGZIP\n"
    "coll/tab\\there.tap\t1\t8000\t1\tTAB\n"
    "coll/\xff.tap\t1\t8000\t1\tFF\n";

const std::string kErr =
    "tapnames-catalogue: coll/fifo.tap: skipped: a FIFO\n"
    "tapnames-catalogue: coll/sub dir/bad.tap.gz: truncated gzip data (unexpected end of file)\n"
    "tapnames-catalogue: 10 images, 9 names, 2 images without names, 1 skipped, 1 failure, "
    "136019 bytes read in T s\n";

TEST_F(Catalogue, TsvInTheSameOrderWhateverTheJobs) {
  for (const char* jobs : {"1", "2"}) {
    const Outcome got = run(root_, {"-j", jobs, "coll"});
    EXPECT_EQ(got.out, kTsv) << "-j " << jobs;
    EXPECT_EQ(got.err, kErr) << "-j " << jobs;
    EXPECT_EQ(got.status, 1) << "-j " << jobs;
  }
}

TEST_F(Catalogue, EveryFormatWithImagesWithoutNames) {
  const Outcome csv =
      run(root_, {"-j2", "--quiet", "--all-images", "--format", "csv", "-e", "coll"});
  EXPECT_EQ(csv.out,
            "path,number,offset,block_type,name\r\n"
            "\"coll/-dash \"\"q\"\".tap\",1,8000,1,\"C,\"\"Q\"\"\\\"\r\n"
            "coll/Upper.TAP,1,8000,1,UP\r\n"
            "coll/a.tap,1,8000,1,ALPHA\r\n"
            "coll/a.tap,2,16248,2,BETA\r\n"
            "coll/arc.zip!empty.tap,0,,,\r\n"
            "coll/arc.zip!games/Z.TAP,1,8000,1,ZIPPED\r\n"
            "coll/empty.tap,0,,,\r\n"
            "coll/sub dir/bad.tap.gz,1,8000,1,CUT\r\n"
            "coll/sub dir/g.tap.gz,1,8000,1,{REVERSE ON}GZIP{REVERSE OFF}\r\n"
            "coll/tab\there.tap,1,8000,1,TAB\r\n"
            "coll/\xff.tap,1,8000,1,FF\r\n");
  EXPECT_EQ(csv.err,
            "tapnames-catalogue: coll/fifo.tap: skipped: a FIFO\n"
            "tapnames-catalogue: coll/sub dir/bad.tap.gz: truncated gzip data (unexpected end of "
            "file)\n");
  EXPECT_EQ(csv.status, 1);

  const Outcome jsonl = run(root_, {"-j1", "-q", "--all-images", "--format=jsonl", "coll"});
  EXPECT_EQ(
      jsonl.out,
      R"({"path":"coll/-dash \"q\".tap","number":1,"offset":8000,"block_type":1,"name":"C,\"Q\"\\"})"
      "\n"
      R"({"path":"coll/Upper.TAP","number":1,"offset":8000,"block_type":1,"name":"UP"})"
      "\n"
      R"({"path":"coll/a.tap","number":1,"offset":8000,"block_type":1,"name":"ALPHA"})"
      "\n"
      R"({"path":"coll/a.tap","number":2,"offset":16248,"block_type":2,"name":"BETA"})"
      "\n"
      R"({"path":"coll/arc.zip!empty.tap","members":["empty.tap"],"number":0,"offset":null,"block_type":null,"name":""})"
      "\n"
      R"({"path":"coll/arc.zip!games/Z.TAP","members":["games/Z.TAP"],"number":1,"offset":8000,"block_type":1,"name":"ZIPPED"})"
      "\n"
      R"({"path":"coll/empty.tap","number":0,"offset":null,"block_type":null,"name":""})"
      "\n"
      R"({"path":"coll/sub dir/bad.tap.gz","number":1,"offset":8000,"block_type":1,"name":"CUT"})"
      "\n"
      R"({"path":"coll/sub dir/g.tap.gz","number":1,"offset":8000,"block_type":1,"name":"GZIP"})"
      "\n"
      R"({"path":"coll/tab\there.tap","number":1,"offset":8000,"block_type":1,"name":"TAB"})"
      "\n"
      R"({"path_base64":"Y29sbC//LnRhcA==","number":1,"offset":8000,"block_type":1,"name":"FF"})"
      "\n");
  EXPECT_EQ(jsonl.status, 1);
}

TEST_F(Catalogue, FollowsLinksOnlyWhenAsked) {
  // Links named as arguments are followed.
  const Outcome named = run(root_, {"-q", "coll/a.tap", "coll/link.tap"});
  EXPECT_EQ(named.out,
            "path\tnumber\toffset\tblock_type\tname\n"
            "coll/a.tap\t1\t8000\t1\tALPHA\n"
            "coll/a.tap\t2\t16248\t2\tBETA\n"
            "coll/link.tap\t1\t8000\t1\tALPHA\n"
            "coll/link.tap\t2\t16248\t2\tBETA\n");
  EXPECT_EQ(named.status, 0);
  // Met while walking, with --follow: the link to an image is read, the link
  // back to the folder is reported once and not walked.
  const Outcome walked = run(root_, {"-L", "-q", "--format", "csv", "coll"});
  EXPECT_NE(walked.out.find("coll/a.tap,2,16248,2,BETA\r\ncoll/arc.zip"), std::string::npos);
  EXPECT_NE(walked.out.find("coll/link.tap,1,8000,1,ALPHA\r\ncoll/link.tap,2,16248,2,BETA\r\n"),
            std::string::npos);
  EXPECT_EQ(walked.out.find("coll/loop/"), std::string::npos);
  EXPECT_EQ(walked.err,
            "tapnames-catalogue: coll/fifo.tap: skipped: a FIFO\n"
            "tapnames-catalogue: coll/loop: link to a folder that contains it, not followed\n"
            "tapnames-catalogue: coll/sub dir/bad.tap.gz: truncated gzip data (unexpected end of "
            "file)\n");
  // Never into /proc or /sys through a link (when they are file systems of
  // their own), with the link named.
  struct stat root {};
  struct stat proc {};
  if (stat("/", &root) == 0 && stat("/proc", &proc) == 0 && proc.st_dev != root.st_dev) {
    fs::create_directory(root_ / "special");
    fs::create_directory_symlink("/proc", root_ / "special" / "proc");
    const Outcome special = run(root_, {"-L", "-q", "special"});
    EXPECT_EQ(special.err,
              "tapnames-catalogue: special/proc: link into /proc or /sys, not followed\n");
    EXPECT_EQ(special.status, 0);
  }
}

TEST_F(Catalogue, StatusesAndMessages) {
  const Outcome clean = run(root_, {"coll/a.tap", "coll/sub dir/g.tap.gz"});
  EXPECT_EQ(clean.status, 0);
  EXPECT_EQ(clean.err,
            "tapnames-catalogue: 2 images, 3 names, 0 images without names, 0 skipped, 0 "
            "failures, 33624 bytes read in T s\n");

  const Outcome missing = run(root_, {"-q", "nowhere", "coll/Upper.TAP"});
  EXPECT_EQ(missing.out,
            "path\tnumber\toffset\tblock_type\tname\ncoll/Upper.TAP\t1\t8000\t1\tUP\n");
  EXPECT_EQ(missing.err, "tapnames-catalogue: nowhere: No such file or directory\n");
  EXPECT_EQ(missing.status, 1);

  // A file named on the command line is read whatever its name.
  const Outcome named = run(root_, {"-q", "coll/notes.txt"});
  EXPECT_EQ(named.out,
            "path\tnumber\toffset\tblock_type\tname\ncoll/notes.txt\t1\t8000\t1\tNOT AN IMAGE\n");
  EXPECT_EQ(named.status, 0);

  for (const std::vector<std::string>& usage : {std::vector<std::string>{"--format", "xml"},
                                                {"-j", "0"},
                                                {"-x"},
                                                {"--jobs"},
                                                {"--quiet=yes"},
                                                {"--stats"},
                                                {"--db", "c.db", "--search", "A", "coll"},
                                                {"--db", "c.db", "--stats", "--duplicates"},
                                                {"--db", "c.db", "--hashes", "crc32,sha256"},
                                                {"--db="}}) {
    const Outcome got = run(root_, usage);
    EXPECT_EQ(got.status, 2) << usage[0];
    EXPECT_EQ(got.out, "");
    EXPECT_NE(got.err.find("Try 'tapnames-catalogue --help'"), std::string::npos);
  }
  // With no path, what is in the current folder is named alike, without "./",
  // files and the contents of folders, and sorted as one.
  const Outcome here = run(root_ / "coll", {"-q", "--exclude", "[-at\xff]*"});
  EXPECT_EQ(here.out,
            "path\tnumber\toffset\tblock_type\tname\n"
            "Upper.TAP\t1\t8000\t1\tUP\n"
            "sub dir/bad.tap.gz\t1\t8000\t1\tCUT\n"
            "sub dir/g.tap.gz\t1\t8000\t1\tGZIP\n");

  // An empty path (an unset variable) is a usage error, not the current folder.
  const Outcome empty = run(root_, {"coll/a.tap", ""});
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.out, "");

  // "-" is standard input, read as one image, in its place in path order.
  const Outcome input = run(root_, {"-q", "coll/Upper.TAP", "-"}, {'\0'});
  EXPECT_EQ(input.status, 0);
  EXPECT_EQ(input.out, "path\tnumber\toffset\tblock_type\tname\ncoll/Upper.TAP\t1\t8000\t1\tUP\n");
  const auto tape = one_name("PIPED");
  const Outcome piped = run(root_, {"-q", "--images", "-"}, std::string(tape.begin(), tape.end()));
  EXPECT_EQ(piped.out, "path\tbytes\tnames\tfirst_name\terror\n-\t" + std::to_string(tape.size()) +
                           "\t1\tPIPED\t\n");
  EXPECT_EQ(run(root_, {"--files-from", "-", "-"}, "coll/a.tap\n").status, 2);

  const Outcome help = run(root_, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: tapnames-catalogue", 0), 0U);
  EXPECT_EQ(help.out.find("has no database") == std::string::npos, kHasDatabase);
  EXPECT_EQ(run(root_, {"-V"}).out.rfind("tapnames-catalogue ", 0), 0U);
}

TEST_F(Catalogue, ReadsListsOfPaths) {
  const Outcome nul = run(root_, {"-q", "-0", "--files-from", "-"},
                          std::string("coll/Upper.TAP\0coll/tab\there.tap\0", 33));
  EXPECT_EQ(nul.out,
            "path\tnumber\toffset\tblock_type\tname\n"
            "coll/Upper.TAP\t1\t8000\t1\tUP\n"
            "coll/tab\\there.tap\t1\t8000\t1\tTAB\n");
  EXPECT_EQ(nul.status, 0);
  const Outcome lines =
      run(root_, {"-q", "--files-from=-"}, "coll/Upper.TAP\r\n\ncoll/empty.tap\n");
  EXPECT_EQ(lines.out, "path\tnumber\toffset\tblock_type\tname\ncoll/Upper.TAP\t1\t8000\t1\tUP\n");
  EXPECT_EQ(run(root_, {"--files-from", "no-list"}).status, 2);
}

TEST_F(Catalogue, ReportsAFolderItCannotRead) {
  // Root reads every folder, so the catalogue then runs as nobody.
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  if (geteuid() == 0 && run(root_, {"-V"}, {}, true).status != 0) {
    GTEST_SKIP() << "nobody cannot enter the folders of the build tree or of " << root_;
  }
  fs::create_directory(root_ / "coll" / "locked");
  fs::permissions(root_ / "coll" / "locked", fs::perms::none);
  const Outcome got = run(root_, {"-q", "coll"}, {}, true);
  fs::permissions(root_ / "coll" / "locked", fs::perms::owner_all);
  EXPECT_EQ(got.err,
            "tapnames-catalogue: coll/fifo.tap: skipped: a FIFO\n"
            "tapnames-catalogue: coll/locked: cannot read folder: Permission denied\n"
            "tapnames-catalogue: coll/sub dir/bad.tap.gz: truncated gzip data (unexpected end of "
            "file)\n");
  EXPECT_EQ(got.out, kTsv);
  EXPECT_EQ(got.status, 1);
}

// One record per image in every format: path, bytes, names, the first name
// and the error, empty when it was read whole; failed images are records too.
TEST_F(Catalogue, ImageRecordsInEveryFormat) {
  const std::string bad = "truncated gzip data (unexpected end of file)";
  struct Row {
    const char* format;
    std::string expected;
  };
  for (
      const Row& row : std::vector<Row>{
          {"tsv",
           "path\tbytes\tnames\tfirst_name\terror\n"
           "coll/a.tap\t16496\t2\tALPHA\t\n"
           "coll/arc.zip!empty.tap\t500\t0\t\t\n"
           "coll/arc.zip!games/Z.TAP\t17128\t1\tZIPPED\t\n"
           "coll/empty.tap\t0\t0\t\t\n"
           "coll/sub dir/bad.tap.gz\t16255\t1\tCUT\t" +
               bad + "\n"},
          {"csv",
           "path,bytes,names,first_name,error\r\n"
           "coll/a.tap,16496,2,ALPHA,\r\n"
           "coll/arc.zip!empty.tap,500,0,,\r\n"
           "coll/arc.zip!games/Z.TAP,17128,1,ZIPPED,\r\n"
           "coll/empty.tap,0,0,,\r\n"
           "coll/sub dir/bad.tap.gz,16255,1,CUT," +
               bad + "\r\n"},
          {"jsonl",
           R"({"path":"coll/a.tap","bytes":16496,"names":2,"first_name":"ALPHA","error":""})"
           "\n"
           R"({"path":"coll/arc.zip!empty.tap","members":["empty.tap"],"bytes":500,"names":0,"first_name":"","error":""})"
           "\n"
           R"({"path":"coll/arc.zip!games/Z.TAP","members":["games/Z.TAP"],"bytes":17128,"names":1,"first_name":"ZIPPED","error":""})"
           "\n"
           R"({"path":"coll/empty.tap","bytes":0,"names":0,"first_name":"","error":""})"
           "\n"
           R"({"path":"coll/sub dir/bad.tap.gz","bytes":16255,"names":1,"first_name":"CUT","error":")" +
               bad + "\"}\n"}}) {
    const Outcome got = run(root_, {"-q", "-j2", "--images", "--format", row.format, "--exclude",
                                    "[-Ut\xff]*", "--exclude", "g.tap.gz", "coll"});
    EXPECT_EQ(got.out, row.expected) << row.format;
    EXPECT_EQ(got.status, 1) << row.format;
  }
  // An archive that cannot be read is a record as well, in its place.
  write_file(root_ / "coll" / "sub dir" / "junk.zip", {'n', 'o', 't'});
  const Outcome junk = run(root_, {"-q", "--images", "coll/sub dir"});
  EXPECT_EQ(junk.out,
            "path\tbytes\tnames\tfirst_name\terror\n"
            "coll/sub dir/bad.tap.gz\t16255\t1\tCUT\t" +
                bad +
                "\n"
                "coll/sub dir/g.tap.gz\t17128\t1\tGZIP\t\n"
                "coll/sub dir/junk.zip\t0\t0\t\tUnrecognized archive format\n");
  EXPECT_EQ(junk.status, 1);
}

// --exclude against names met while walking (never the paths given), and
// --max-depth below each path given; --one-file-system on one file system
// changes nothing.
TEST_F(Catalogue, WalkLimits) {
  struct Row {
    std::vector<std::string> args;
    std::string paths;  // the path of each record, one a line
  };
  for (const Row& row : std::vector<Row>{
           // Case counts: "*.tap" is not "Upper.TAP".
           {{"--exclude", "*.zip", "--exclude", "[!s]*.tap", "coll"},
            "coll/Upper.TAP\ncoll/sub dir/bad.tap.gz\ncoll/sub dir/g.tap.gz\n"},
           {{"--exclude", "sub?dir", "--exclude", "*[a-z].tap", "coll"},
            "coll/-dash \"q\".tap\ncoll/Upper.TAP\ncoll/arc.zip!games/Z.TAP\ncoll/\xff.tap\n"},
           {{"--exclude", "coll", "--exclude", "\\-*", "--exclude", "*.TAP", "coll/a.tap",
             "coll/-dash \"q\".tap", "coll/sub dir"},
            "coll/-dash \"q\".tap\ncoll/a.tap\ncoll/a.tap\ncoll/sub dir/bad.tap.gz\n"
            "coll/sub dir/g.tap.gz\n"},
           {{"--max-depth", "0", "coll", "coll/Upper.TAP"}, "coll/Upper.TAP\n"},
           {{"--max-depth=1", "--exclude=[-ta]*", "--exclude", "*.zip", "coll"},
            "coll/Upper.TAP\ncoll/\xff.tap\n"},
           {{"--max-depth", "2", "--one-file-system", "--exclude", "[^sg]*", "coll"},
            "coll/sub dir/g.tap.gz\n"}}) {
    std::vector<std::string> args = {"-q", "--format", "csv"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Outcome got = run(root_, args);
    std::string paths;
    const std::regex record(R"((^|\n)("(?:[^"]|"")*"|[^,\n]*),[1-9])");
    for (auto it = std::sregex_iterator(got.out.begin(), got.out.end(), record);
         it != std::sregex_iterator(); ++it) {
      std::string path = (*it)[2];
      if (path.starts_with('"')) {
        path = std::regex_replace(path.substr(1, path.size() - 2), std::regex("\"\""), "\"");
      }
      paths += path + "\n";
    }
    EXPECT_EQ(paths, row.paths) << row.args[0] << " " << row.args[1];
  }
  EXPECT_EQ(run(root_, {"--max-depth", "-1", "coll"}).status, 2);
}

// Paths with control codes are escaped alike in records and in messages,
// so that each stays one line.
TEST_F(Catalogue, EscapesNamesOnStandardOutputAndError) {
  struct Row {
    std::string name;
    std::string escaped;
  };
  // In the order of their bytes, as they are written.
  const std::vector<Row> rows = {{"back\\", "back\\\\"},
                                 {"cr\r", "cr\\r"},
                                 {"new\nline", "new\\nline"},
                                 {"tab\there", "tab\\there"}};
  fs::create_directory(root_ / "odd");
  std::vector<std::uint8_t> cut = tapes::gzip_bytes(one_name("CUT"));
  cut.resize(cut.size() / 2);
  for (const Row& row : rows) {
    write_file(root_ / "odd" / (row.name + ".tap.gz"), cut);
  }
  const Outcome got = run(root_, {"odd"});
  std::string out = "path\tnumber\toffset\tblock_type\tname\n";
  std::string err;
  for (const Row& row : rows) {
    out += "odd/" + row.escaped + ".tap.gz\t1\t8000\t1\tCUT\n";
    err += "tapnames-catalogue: odd/" + row.escaped +
           ".tap.gz: truncated gzip data (unexpected end of file)\n";
  }
  EXPECT_EQ(got.out, out);
  EXPECT_EQ(got.err, err +
                         "tapnames-catalogue: 4 images, 4 names, 0 images without names, 0 "
                         "skipped, 4 failures, 65020 bytes read in T s\n");
  EXPECT_EQ(got.status, 1);
}

// An image 600 folders down, its path far past PATH_MAX, is found and read,
// while the process may hold no more than 64 files open at once.
TEST_F(Catalogue, WalksFarPastPathMax) {
  constexpr int kDepth = 600;
  std::string path = "deep";
  fs::create_directory(root_ / path);
  int folder = open((root_ / path).c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < kDepth && folder >= 0; ++level) {
    const std::string name = "folder-" + std::to_string(level);
    path += "/" + name;
    ASSERT_EQ(mkdirat(folder, name.c_str(), 0755), 0);
    const int next = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(folder);
    folder = next;
  }
  ASSERT_GE(folder, 0);
  const auto tape = one_name("DEEP");
  const auto put = [folder](const char* name, const std::vector<std::uint8_t>& bytes) {
    const int file = openat(folder, name, O_WRONLY | O_CREAT, 0644);
    EXPECT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(file);
  };
  put("x.tap", tape);
  put("y.zip", tapes::zip_bytes({{"in.tap", one_name("ZIPPED DEEP")}}));
  put("z.tap.gz", tapes::gzip_bytes(one_name("GZIPPED DEEP")));
  close(folder);
  ASSERT_GT(path.size(), std::size_t{PATH_MAX});

  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit low = old;
  low.rlim_cur = 64;
  setrlimit(RLIMIT_NOFILE, &low);
  const Outcome walked = run(root_, {"-j2", "deep"});
  const Outcome named = run(root_, {"-q", "--images", path + "/x.tap", path + "/y.zip"});
  const Outcome shallow = run(root_, {"-q", "--max-depth", std::to_string(kDepth), "deep"});
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(walked.out, "path\tnumber\toffset\tblock_type\tname\n" + path +
                            "/x.tap\t1\t8000\t1\tDEEP\n" + path +
                            "/y.zip!in.tap\t1\t8000\t1\tZIPPED DEEP\n" + path +
                            "/z.tap.gz\t1\t8000\t1\tGZIPPED DEEP\n");
  EXPECT_EQ(walked.err,
            "tapnames-catalogue: 3 images, 3 names, 0 images without names, 0 skipped, "
            "0 failures, 51384 bytes read in T s\n");
  EXPECT_EQ(walked.status, 0);
  EXPECT_EQ(named.out, "path\tbytes\tnames\tfirst_name\terror\n" + path +
                           "/x.tap\t17128\t1\tDEEP\t\n" + path +
                           "/y.zip!in.tap\t17128\t1\tZIPPED DEEP\t\n");
  EXPECT_EQ(named.status, 0);
  EXPECT_EQ(shallow.out, "path\tnumber\toffset\tblock_type\tname\n");
}

// On SIGINT or SIGTERM the records of the images read before it are written
// whole, the summary counts them, "interrupted" is said, and the status is
// 130, even while a worker is blocked reading a FIFO.
TEST_F(Catalogue, InterruptedByASignal) {
  for (const int number : {SIGINT, SIGTERM}) {
    const fs::path fifo = root_ / "coll" / "fifo.tap";
    int writer = -1;  // held open till the catalogue has ended: no end of file for it
    const Outcome got = run_how(root_, {"-j1", "coll/a.tap", "coll/fifo.tap"},
                                {.during = [&fifo, &writer, number](pid_t pid) {
                                  // Opened once the catalogue reads it, after a.tap.
                                  writer = open(fifo.c_str(), O_WRONLY);
                                  kill(pid, number);
                                }});
    close(writer);
    EXPECT_EQ(got.out,
              "path\tnumber\toffset\tblock_type\tname\n"
              "coll/a.tap\t1\t8000\t1\tALPHA\n"
              "coll/a.tap\t2\t16248\t2\tBETA\n")
        << number;
    EXPECT_EQ(got.err,
              "tapnames-catalogue: 1 image, 2 names, 0 images without names, 0 skipped, 0 "
              "failures, 16496 bytes read in T s\n"
              "tapnames-catalogue: interrupted\n")
        << number;
    EXPECT_EQ(got.status, 130) << number;
  }
}

// When no thread can be started, the records, messages and status are those
// of any number of jobs.
TEST_F(Catalogue, ReadsAloneWhenNoThreadStarts) {
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  if (geteuid() == 0 && run(root_, {"-V"}, {}, true).status != 0) {
    GTEST_SKIP() << "nobody cannot enter the folders of the build tree or of " << root_;
  }
  if (run_how(root_, {"-V"}, {.unprivileged = true, .one_process = true}).status != 0) {
    GTEST_SKIP() << "no program starts with one process allowed here (under an emulator)";
  }
  const Outcome got =
      run_how(root_, {"-j", "4", "coll"}, {.unprivileged = true, .one_process = true});
  EXPECT_EQ(got.out, kTsv);
  EXPECT_EQ(got.err, kErr);
  EXPECT_EQ(got.status, 1);
}

// The progress line is drawn on a terminal only when standard output is not
// that terminal too (then the records are the progress), and never with -q.
TEST_F(Catalogue, ProgressOnlyWhereItCannotMeetTheRecords) {
  struct Row {
    bool out_to_terminal;
    bool quiet;
    bool drawn;
  };
  for (const Row& row :
       std::vector<Row>{{false, false, true}, {true, false, false}, {false, true, false}}) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    std::vector<std::string> args = {"-j1", "coll/a.tap", "coll/fifo.tap"};
    if (row.quiet) {
      args.emplace_back("-q");
    }
    const fs::path fifo = root_ / "coll" / "fifo.tap";
    std::string screen;
    const Outcome got = run_how(root_, args,
                                {.terminal = terminal.c_str(),
                                 .out_to_terminal = row.out_to_terminal,
                                 .during = [&fifo, master, &screen](pid_t) {
                                   // The FIFO holds the run up long enough for the line to be
                                   // drawn.
                                   const int writer = open(fifo.c_str(), O_WRONLY);
                                   usleep(500000);
                                   close(writer);
                                   // What the terminal got, until the catalogue has closed it
                                   // (EIO).
                                   fcntl(master, F_SETFL, O_NONBLOCK);
                                   std::array<char, 4096> chunk{};
                                   for (int tries = 0; tries < 500; ++tries) {
                                     const ssize_t count = read(master, chunk.data(), chunk.size());
                                     if (count > 0) {
                                       screen.append(chunk.data(), static_cast<std::size_t>(count));
                                     } else if (count < 0 && errno != EAGAIN) {
                                       break;
                                     } else {
                                       usleep(10000);
                                     }
                                   }
                                 }});
    close(master);
    EXPECT_EQ(
        screen.find("\r1/2 files, 1 image, 2 names, 0 skipped, 0 failures") != std::string::npos,
        row.drawn)
        << screen;
    EXPECT_EQ(got.out.find('\r'), std::string::npos);
    if (row.out_to_terminal) {
      EXPECT_NE(screen.find("coll/a.tap\t2\t16248\t2\tBETA"), std::string::npos) << screen;
    }
  }
}

// Output that cannot be written is a failure, named and counted.
TEST_F(Catalogue, CountsAFailedWrite) {
  if (access("/dev/full", W_OK) != 0) {
    GTEST_SKIP() << "no /dev/full";
  }
  const Outcome got = run_how(root_, {"coll/a.tap"}, {.out_path = "/dev/full"});
  EXPECT_EQ(got.err,
            "tapnames-catalogue: cannot write output: No space left on device\n"
            "tapnames-catalogue: 1 image, 2 names, 0 images without names, 0 skipped, 1 failure, "
            "16496 bytes read in T s\n");
  EXPECT_EQ(got.status, 1);
}

// A zip whose member `name` has its compressed bytes overwritten near their
// start, so that it cannot be inflated.
std::vector<std::uint8_t> damage_member(std::vector<std::uint8_t> zip, const std::string& name) {
  constexpr std::size_t kLocalHeader = 30;  // before the name; the extra field's length at 28
  const auto found = std::search(zip.begin(), zip.end(), name.begin(), name.end());
  const auto header = static_cast<std::size_t>(found - zip.begin()) - kLocalHeader;
  const std::size_t data = header + kLocalHeader + name.size() + zip[header + 28] +
                           (std::size_t{zip[header + 29]} << 8U);
  std::fill_n(zip.begin() + static_cast<std::ptrdiff_t>(data) + 2, 16, std::uint8_t{0xFF});
  return zip;
}

// Archives nested `levels` deep, each "n.zip" in the one before; the
// innermost holds x.tap, the eighth also 8.tap.
std::vector<std::uint8_t> nested_zips(int levels) {
  std::vector<tapes::Member> members = {{"x.tap", one_name("TOO DEEP")}};
  for (int level = levels; level > 1; --level) {
    if (level == 8) {
      members.push_back({"8.tap", one_name("EIGHT DEEP")});
    }
    members = {{"n.zip", tapes::zip_bytes(members)}};
  }
  return tapes::zip_bytes(members);
}

TEST_F(Catalogue, ReadsArchivesInArchivesAndCompressedImagesAsStreams) {
  using tapes::Packing;
  const auto zip_of = [](const char* name, const char* image) {
    return tapes::zip_bytes({{name, one_name(image)}});
  };
  const auto one = [](const std::string& path, const std::string& name) {
    return "nest/" + path + ",1,8000,1," + name + "\r\n";
  };
  const auto failed = [](const std::string& path, const std::string& reason) {
    return "tapnames-catalogue: nest/" + path + ": " + reason + "\n";
  };
  std::vector<std::uint8_t> cut = tapes::gzip_bytes(one_name("CUT SHORT"));
  cut.resize(cut.size() / 2);
  std::vector<std::uint8_t> padded = tapes::gzip_bytes(one_name("PADDED"));
  padded.resize(padded.size() + 4096);  // zero bytes, as gzip accepts them
  const std::vector<std::uint8_t> three = damage_member(
      tapes::zip_bytes(
          {{"a.tap", one_name("A")}, {"b.tap", one_name("B")}, {"c.tap", one_name("C")}}),
      "b.tap");
  // Zeros in a tar in a zip in a zip: a bomb of archives inside archives.
  const std::vector<std::uint8_t> bomb = tapes::zip_bytes(
      {{"mid.zip",
        tapes::zip_bytes({{"big.tar", tapes::tar_bytes({{"zeros", std::vector<std::uint8_t>(
                                                                      std::size_t{96} << 20U)},
                                                        {"after.tap", one_name("AFTER")}})}})}});
  struct File {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string out;  // its records
    std::string err;  // its messages
  };
  // In the order of their names.
  const File files[] = {
      {"bomb.zip", bomb, "",
       failed("bomb.zip!mid.zip!big.tar",
              "not read on: the archives inside the file expand past 1024 times its size and "
              "64 MiB")},
      {"i.TAP.XZ", tapes::pack_bytes(Packing::Xz, {{"", one_name("XZ")}}), one("i.TAP.XZ", "XZ"),
       ""},
      {"i.tap.bz2", tapes::pack_bytes(Packing::Bzip2, {{"", one_name("BZIP2")}}),
       one("i.tap.bz2", "BZIP2"), ""},
      {"i.tap.zst", tapes::pack_bytes(Packing::Zstd, {{"", one_name("ZSTD")}}),
       one("i.tap.zst", "ZSTD"), ""},
      // Eight archives deep are read, the ninth is named.
      {"nine.zip", nested_zips(9),
       one("nine.zip!n.zip!n.zip!n.zip!n.zip!n.zip!n.zip!n.zip!8.tap", "EIGHT DEEP"),
       failed("nine.zip!n.zip!n.zip!n.zip!n.zip!n.zip!n.zip!n.zip!n.zip",
              "not read: archives nested more than 8 deep")},
      {"outer.zip",
       tapes::zip_bytes(
           {{"g.tap.gz", tapes::gzip_bytes(one_name("GZ IN ZIP"))},
            {"inner.zip", tapes::zip_bytes({{"x.tap", one_name("INNER")},
                                            {"deep.tar.gz",
                                             tapes::pack_bytes(Packing::TarGz,
                                                               {{"d/y.TAP", one_name("DEEP")}})}})},
            {"b.tap.bz2", tapes::pack_bytes(Packing::Bzip2, {{"", one_name("BZ IN ZIP")}})},
            {"cut.tap.gz", cut},
            {"plain.tap.xz", one_name("NOT XZ")},
            {"three.zip", three}}),
       one("outer.zip!b.tap.bz2", "BZ IN ZIP") + one("outer.zip!cut.tap.gz", "CUT SHORT") +
           one("outer.zip!g.tap.gz", "GZ IN ZIP") +
           one("outer.zip!inner.zip!deep.tar.gz!d/y.TAP", "DEEP") +
           one("outer.zip!inner.zip!x.tap", "INNER") + one("outer.zip!three.zip!a.tap", "A"),
       failed("outer.zip!cut.tap.gz", "truncated gzip data (unexpected end of file)") +
           failed("outer.zip!plain.tap.xz", "not compressed data (gzip, bzip2, xz or zstd)") +
           failed("outer.zip!three.zip!b.tap", "ZIP decompression failed (-3)") +
           failed("outer.zip!three.zip", "cannot read on after a damaged member")},
      {"p.7z", tapes::pack_bytes(Packing::SevenZip, {{"z.zip", zip_of("z.tap", "IN 7Z")}}),
       one("p.7z!z.zip!z.tap", "IN 7Z"), ""},
      {"p.cpio", tapes::pack_bytes(Packing::Cpio, {{"z.zip", zip_of("z.tap", "IN CPIO")}}),
       one("p.cpio!z.zip!z.tap", "IN CPIO"), ""},
      {"p.iso", tapes::pack_bytes(Packing::Iso, {{"z.zip", zip_of("z.tap", "IN ISO")}}),
       one("p.iso!z.zip!z.tap", "IN ISO"), ""},
      {"p.tar.gz", tapes::pack_bytes(Packing::TarGz, {{"z.zip", zip_of("z.tap", "IN TAR GZ")}}),
       one("p.tar.gz!z.zip!z.tap", "IN TAR GZ"), ""},
      {"p.tar.xz", tapes::pack_bytes(Packing::TarXz, {{"z.zip", zip_of("z.tap", "IN TAR XZ")}}),
       one("p.tar.xz!z.zip!z.tap", "IN TAR XZ"), ""},
      {"padded.tap.gz", padded, one("padded.tap.gz", "PADDED"), ""},
      // A damaged member is named, and the members after it still read.
      {"three.zip", three, one("three.zip!a.tap", "A") + one("three.zip!c.tap", "C"),
       failed("three.zip!b.tap", "ZIP decompression failed (-3)")},
  };
  const fs::path nest = root_ / "nest";
  fs::create_directory(nest);
  std::string out = "path,number,offset,block_type,name\r\n";
  std::string err;
  for (const File& file : files) {
    ASSERT_FALSE(file.bytes.empty()) << file.name;
    write_file(nest / file.name, file.bytes);
    out += file.out;
    err += file.err;
  }
  const Outcome got = run(root_, {"-j2", "--format=csv", "-q", "nest"});
  EXPECT_EQ(got.out, out);
  EXPECT_EQ(got.err, err);
  EXPECT_EQ(got.status, 1);
}

// Standard input is told by its first bytes: each image the reader begins,
// with its chain, and the bytes it gives, which must be the image's own.
class StreamSink final : public catalogue::ImageSink {
 public:
  void begin(std::span<const std::string> members) override {
    text += catalogue::member_path("-", members);
    bytes.clear();
  }
  bool piece(std::span<const std::uint8_t> pulses) override {
    bytes.insert(bytes.end(), pulses.begin(), pulses.end());
    return true;
  }
  void end(std::string_view error) override {
    text += bytes == one_name("STREAM") ? " whole" : " " + std::to_string(bytes.size()) + " bytes";
    text += error.empty() ? std::string("\n") : ": " + std::string(error) + "\n";
  }
  void fail(std::span<const std::string> members, std::string_view error) override {
    text += catalogue::member_path("-", members) + " failed: " + std::string(error) + "\n";
  }
  std::string text;
  std::vector<std::uint8_t> bytes;
};

TEST(CatalogueStream, WhatStandardInputHoldsIsToldByItsFirstBytes) {
  using tapes::Packing;
  const std::vector<std::uint8_t> image = one_name("STREAM");
  const std::vector<std::uint8_t> big_prefix = TapeBuilder().slow_pulses(70000, 5).take();
  std::vector<std::uint8_t> cut_zip = tapes::zip_bytes({{"a.tap", image}});
  cut_zip.resize(cut_zip.size() - 100);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::string read;
  };
  const Case cases[] = {
      {"a plain image", image, "- whole\n"},
      {"nothing", {}, "- 0 bytes\n"},
      {"a plain image longer than the first bytes read", big_prefix, "- 70000 bytes\n"},
      {"gzip", tapes::gzip_bytes(image), "- whole\n"},
      {"bzip2", tapes::pack_bytes(Packing::Bzip2, {{"", image}}), "- whole\n"},
      {"xz", tapes::pack_bytes(Packing::Xz, {{"", image}}), "- whole\n"},
      {"zstd", tapes::pack_bytes(Packing::Zstd, {{"", image}}), "- whole\n"},
      {"a zip", tapes::zip_bytes({{"a.tap", image}, {"b.txt", image}}), "-!a.tap whole\n"},
      {"a tar.gz with a zip",
       tapes::pack_bytes(Packing::TarGz, {{"in.zip", tapes::zip_bytes({{"a.tap", image}})}}),
       "-!in.zip!a.tap whole\n"},
      {"a 7z", tapes::pack_bytes(Packing::SevenZip, {{"a.tap", image}}),
       "- failed: not read: a 7z archive is read only as a file, not inside another archive or "
       "from standard input\n"},
      {"an ISO", tapes::pack_bytes(Packing::Iso, {{"a.tap", big_prefix}, {"b.tap", image}}),
       "-!a.tap 70000 bytes\n-!b.tap whole\n"},
      {"a cut zip", cut_zip,
       "-!a.tap 0 bytes: Truncated ZIP end-of-file record\n"
       "- failed: cannot read on after a damaged member\n"},
  };
  for (const Case& c : cases) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(c.bytes.empty() ||
                std::fwrite(c.bytes.data(), 1, c.bytes.size(), file) == c.bytes.size());
    std::rewind(file);
    StreamSink sink;
    const auto buffer = std::make_unique<catalogue::PieceBuffer>();
    catalogue::read_stream(file, sink, buffer->bytes);
    std::fclose(file);
    EXPECT_EQ(sink.text, c.read) << c.what;
  }
}

#if defined(TAPNAMES_HAVE_DATABASE)

// Starts the catalogue in `folder` with `args`, its output thrown away.
pid_t start(const fs::path& folder, std::vector<std::string> args) {
  std::string binary = TAPNAMES_CATALOGUE_BINARY;
  const std::vector<char*> argv = catalogue_argv(binary, args);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (chdir(folder.c_str()) != 0 || null < 0) {
      _exit(127);
    }
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The rows of `sql` on the database in `file`: columns joined by tabs, rows
// ended by newlines, NULL written as "NULL".
std::string query(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string rows;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open";
  }
  const auto add = [](void* out, int count, char** values, char** /*names*/) {
    std::string& text = *static_cast<std::string*>(out);
    for (int i = 0; i < count; ++i) {
      text += i == 0 ? "" : "\t";
      text += values[i] != nullptr ? values[i] : "NULL";
    }
    text += '\n';
    return 0;
  };
  if (sqlite3_exec(db, sql.c_str(), add, &rows, nullptr) != SQLITE_OK) {
    rows += sqlite3_errmsg(db);
  }
  sqlite3_close(db);
  return rows;
}

// Everything a database holds but its row numbers and the times of the scans.
std::string content(const fs::path& file) {
  return query(file, "SELECT path, size, mtime, hashes, error FROM sources ORDER BY path") +
         query(file,
               "SELECT path, size, mtime, hash, crc32, md5, sha1, names, error FROM images "
               "ORDER BY path") +
         query(file,
               "SELECT i.path, n.number, n.\"offset\", n.block_type, n.name, hex(n.name_bytes) "
               "FROM names n JOIN images i ON i.id = n.image_id ORDER BY i.path, n.number");
}

// What md5sum or sha1sum says of `file`.
std::string tool_hash(const std::string& tool, const fs::path& file) {
  const std::string command = tool + " '" + file.string() + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string text;
  for (int c = std::fgetc(pipe); c != EOF && c != ' '; c = std::fgetc(pipe)) {
    text += static_cast<char>(c);
  }
  pclose(pipe);
  return text;
}

// The lines of `text` holding `part`.
std::string lines_with(const std::string& text, const std::string& part) {
  std::string found;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start) + 1;
    const std::string line = text.substr(start, end - start);
    found += line.find(part) != std::string::npos ? line : "";
    start = end;
  }
  return found;
}

constexpr const char* kHeader = "path\tnumber\toffset\tblock_type\tname\n";

// The same image as a .tap, gzipped and in a zip, beside two others.
class CatalogueDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "catalogue-db-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    coll_ = root_ / "coll";
    db_ = root_ / "c.db";
    fs::create_directories(coll_ / "copies");
    game_ = TapeBuilder()
                .header("SPACE RACE")
                .data_block(300, 7)
                .header("\x12TITLE\x92 HIGH", 2)
                .take();
    write_file(coll_ / "game.tap", game_);
    write_file(coll_ / "copies" / "game.tap.gz", tapes::gzip_bytes(game_));
    write_file(coll_ / "copies" / "pack.zip",
               tapes::zip_bytes({{"games/GAME.TAP", game_}, {"other.tap", one_name("OTHER")}}));
    write_file(coll_ / "solo.tap", one_name("SOLO"));
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
  fs::path coll_;
  fs::path db_;
  std::vector<std::uint8_t> game_;
};

TEST_F(CatalogueDatabase, HoldsTheRecordsNamesAndAnswersFromThem) {
  const Outcome tsv = run(root_, {"-q", "coll"});
  const Outcome escaped = run(root_, {"-q", "-e", "--format", "csv", "coll"});
  ASSERT_EQ(tsv.status, 0);
  const Outcome stored = run(root_, {"-q", "--db", "c.db", "coll"});
  EXPECT_EQ(stored.out, "");
  EXPECT_EQ(stored.err, "");
  EXPECT_EQ(stored.status, 0);
  EXPECT_EQ(kHeader + query(db_,
                            "SELECT i.path, n.number, n.\"offset\", n.block_type, n.name FROM "
                            "names n JOIN images i ON i.id = n.image_id ORDER BY i.path, n.number"),
            tsv.out);

  // A file's time in nanoseconds, as stat gives it.
  struct stat status {};
  ASSERT_EQ(stat((coll_ / "game.tap").c_str(), &status), 0);
  EXPECT_EQ(
      query(db_, "SELECT mtime, size FROM images WHERE path = 'coll/game.tap'"),
      std::to_string(std::int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec) +
          "\t" + std::to_string(game_.size()) + "\n");

  std::string hash = query(db_, "SELECT hash FROM images WHERE path = 'coll/game.tap'");
  hash.pop_back();
  EXPECT_EQ(hash.size(), 32U);
  const std::string others = std::to_string(one_name("OTHER").size() + one_name("SOLO").size());
  struct Question {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Question> questions = {
      {{"--duplicates"},
       "hash\tcount\tpath\n" + hash + "\t3\tcoll/copies/game.tap.gz\n" + hash +
           "\t3\tcoll/copies/pack.zip!games/GAME.TAP\n" + hash + "\t3\tcoll/game.tap\n"},
      {{"--search", "aCe r"}, kHeader + lines_with(tsv.out, "SPACE RACE")},
      {{"--search", "title h"}, kHeader + lines_with(tsv.out, "TITLE HIGH")},
      {{"-e", "--search", "reverse on}TITLE", "--format", "csv"},
       "path,number,offset,block_type,name\r\n" + lines_with(escaped.out, "{REVERSE ON}")},
      {{"--search", "nowhere"}, kHeader},
      {{"--stats", "--format", "jsonl"},
       "{\"images\":5,\"names\":8,\"bytes\":" +
           std::to_string(3 * game_.size() + std::stoul(others)) +
           ",\"failures\":0,\"duplicates\":2}\n"},
  };
  for (const Question& question : questions) {
    std::vector<std::string> args = {"--db", "c.db"};
    args.insert(args.end(), question.args.begin(), question.args.end());
    const Outcome got = run(root_, args);
    EXPECT_EQ(got.out, question.out) << question.args[0];
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
  }

  // Hashes not kept before: every image is read again for them.
  const Outcome hashed = run(root_, {"--db", "c.db", "--hashes", "sha1,crc32,md5", "coll"});
  EXPECT_EQ(hashed.err,
            "tapnames-catalogue: 5 images, 8 names, 0 images without names, 0 skipped, 0 "
            "failures, 115184 bytes read in T s\n"
            "tapnames-catalogue: c.db: 5 images read, 0 unchanged, 0 removed\n");
  for (const fs::path& image : {coll_ / "game.tap", coll_ / "solo.tap"}) {
    std::vector<std::uint8_t> bytes(fs::file_size(image));
    std::FILE* file = std::fopen(image.c_str(), "rb");
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    std::array<char, 16> crc{};
    std::snprintf(crc.data(), crc.size(), "%08lx",
                  crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
    EXPECT_EQ(query(db_,
                    "SELECT DISTINCT crc32, md5, sha1 FROM images WHERE hash = (SELECT hash "
                    "FROM images WHERE path = 'coll/" +
                        image.filename().string() + "')"),
              std::string(crc.data()) + "\t" + tool_hash("md5sum", image) + "\t" +
                  tool_hash("sha1sum", image) + "\n")
        << image;
  }

  // Another -e writes the kept names again, from their bytes, reading nothing.
  const Outcome escape = run(root_, {"--db", "c.db", "-e", "coll"});
  EXPECT_EQ(escape.err,
            "tapnames-catalogue: 0 images, 0 names, 0 images without names, 0 skipped, 0 "
            "failures, 0 bytes read in T s\n"
            "tapnames-catalogue: c.db: 0 images read, 5 unchanged, 0 removed\n");
  EXPECT_EQ(query(db_, "SELECT DISTINCT name FROM names WHERE number = 2"),
            "{REVERSE ON}TITLE{REVERSE OFF} HIGH\n");

  // XXH3-128 as its authors publish it for no bytes at all, high half first.
  write_file(root_ / "empty.tap", {});
  ASSERT_EQ(run(root_, {"-q", "--db", "empty.db", "empty.tap"}).status, 0);
  EXPECT_EQ(query(root_ / "empty.db", "SELECT hash, size, names FROM images"),
            "99aa06d3014798d86001c324468d497f\t0\t0\n");
}

TEST_F(CatalogueDatabase, ReadsAgainOnlyWhatChanged) {
  // A broken image is not read again either, but its failure is told again
  // and counted, as if it had been.
  std::vector<std::uint8_t> cut = tapes::gzip_bytes(one_name("CUT"));
  cut.resize(cut.size() / 2);
  write_file(coll_ / "bad.tap.gz", cut);
  const std::string broken =
      "tapnames-catalogue: coll/bad.tap.gz: truncated gzip data (unexpected end of file)\n";
  const Outcome first = run(root_, {"--db", "c.db", "coll"});
  EXPECT_EQ(first.err, broken +
                           "tapnames-catalogue: 6 images, 9 names, 0 images without names, 0 "
                           "skipped, 1 failure, 131439 bytes read in T s\n"
                           "tapnames-catalogue: c.db: 6 images read, 0 unchanged, 0 removed\n");
  const std::string rows = "SELECT id, path, scanned FROM images ORDER BY path";
  const std::string before = query(db_, rows);
  const Outcome again = run(root_, {"--db", "c.db", "coll"});
  EXPECT_EQ(again.err, broken +
                           "tapnames-catalogue: 0 images, 0 names, 0 images without names, 0 "
                           "skipped, 1 failure, 0 bytes read in T s\n"
                           "tapnames-catalogue: c.db: 0 images read, 6 unchanged, 0 removed\n");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(query(db_, rows), before);

  // One image changed (its size the same, its time later), one removed.
  const fs::file_time_type time = fs::last_write_time(coll_ / "solo.tap");
  write_file(coll_ / "solo.tap", one_name("SOLO 2"));
  fs::last_write_time(coll_ / "solo.tap", time + std::chrono::seconds(1));
  fs::remove(coll_ / "copies" / "game.tap.gz");
  const Outcome changed = run(root_, {"--db", "c.db", "coll"});
  EXPECT_EQ(changed.err, broken +
                             "tapnames-catalogue: 1 image, 1 name, 0 images without names, 0 "
                             "skipped, 1 failure, 17128 bytes read in T s\n"
                             "tapnames-catalogue: c.db: 1 image read, 4 unchanged, 1 removed\n");
  EXPECT_EQ(query(db_,
                  "SELECT path, name FROM images JOIN names ON image_id = images.id WHERE "
                  "path LIKE '%solo%'"),
            "coll/solo.tap\tSOLO 2\n");
  std::string untouched;
  for (const std::string& line : {lines_with(before, "bad.tap.gz"), lines_with(before, "pack.zip"),
                                  lines_with(before, "coll/game")}) {
    untouched += line;
  }
  EXPECT_EQ(query(db_,
                  "SELECT id, path, scanned FROM images WHERE path != 'coll/solo.tap' ORDER "
                  "BY path"),
            untouched);

  // Another root leaves these alone; a root that cannot be found keeps its rows.
  fs::create_directory(root_ / "more");
  write_file(root_ / "more" / "m.tap", one_name("MORE"));
  EXPECT_EQ(run(root_, {"-q", "--db", "c.db", "more"}).status, 0);
  fs::rename(coll_, root_ / "moved");
  const Outcome gone = run(root_, {"--db", "c.db", "coll", "more"});
  EXPECT_EQ(gone.err,
            "tapnames-catalogue: coll: No such file or directory\n"
            "tapnames-catalogue: 0 images, 0 names, 0 images without names, 0 skipped, 1 "
            "failure, 0 bytes read in T s\n"
            "tapnames-catalogue: c.db: 0 images read, 1 unchanged, 0 removed\n");
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(query(db_, "SELECT count(*) FROM images"), "6\n");
}

TEST_F(CatalogueDatabase, StaysWholeWhenKilled) {
  // Enough images that a kill falls inside the run.
  fs::create_directory(coll_ / "many");
  std::vector<tapes::Member> members;
  for (int i = 0; i < 200; ++i) {
    std::vector<std::uint8_t> image = TapeBuilder()
                                          .header("IMAGE " + std::to_string(i))
                                          .data_block(20000, static_cast<std::uint_fast32_t>(i))
                                          .header("END", 2)
                                          .take();
    if (i % 10 == 0) {
      members.push_back({"m" + std::to_string(i) + ".tap", image});
    }
    write_file(coll_ / "many" / (std::to_string(i) + ".tap"), image);
  }
  write_file(coll_ / "many" / "members.zip", tapes::zip_bytes(members));
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(run(root_, {"-q", "--db", "whole.db", "coll"}).status, 0);
  const auto whole = std::chrono::steady_clock::now() - started;

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<std::int64_t> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count());
  const fs::path killed = root_ / "killed.db";
  for (int kill_number = 0; kill_number < 5; ++kill_number) {
    const auto delay = std::chrono::microseconds(moment(random));
    SCOPED_TRACE("killed after " + std::to_string(delay.count()) + " us");
    for (const char* suffix : {"", "-wal", "-shm"}) {
      fs::remove(killed.string() + suffix);
    }
    const pid_t pid = start(root_, {"-q", "--db", "killed.db", "coll"});
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (fs::exists(killed)) {
      // A question first, as a user may ask right after; then SQLite's check.
      // Killed before its tables were made, the file is no catalogue yet.
      const Outcome asked = run(root_, {"--db", "killed.db", "--stats"});
      const bool made = query(killed, "PRAGMA user_version") == "1\n";
      EXPECT_EQ(asked.status, made ? 0 : 1) << asked.err;
      EXPECT_EQ(query(killed, "PRAGMA integrity_check"), "ok\n");
      if (made) {
        // Each image with all of its names, or not at all.
        EXPECT_EQ(query(killed,
                        "SELECT count(*) FROM images i WHERE names != "
                        "(SELECT count(*) FROM names WHERE image_id = i.id)"),
                  "0\n");
      }
    }
    ASSERT_EQ(run(root_, {"-q", "--db", "killed.db", "coll"}).status, 0);
    EXPECT_EQ(content(killed), content(root_ / "whole.db"));
  }
}

TEST_F(CatalogueDatabase, RefusesWhatIsNotItsDatabase) {
  const auto make = [this](const char* name, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((root_ / name).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  };
  make("newer.db",
       "PRAGMA application_id = 1413566531; PRAGMA user_version = 2; CREATE TABLE t(x)");
  make("other.db", "CREATE TABLE t(x)");
  write_file(root_ / "text.db", std::vector<std::uint8_t>(1000, 'x'));
  struct Refusal {
    std::string file;
    std::string reason;
  };
  const std::vector<Refusal> refusals = {
      {"newer.db",
       "the database is of version 2, newer than this tapnames-catalogue knows (1): use a newer "
       "tapnames-catalogue"},
      {"other.db", "not a tapnames-catalogue database"},
      {"text.db", "file is not a database"},
      {"none.db", "unable to open database file"},  // a question makes none
  };
  for (const Refusal& refusal : refusals) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--db", refusal.file, "coll"},
          {"--db", refusal.file, "--stats"}}) {
      if (refusal.file == "none.db" && args[2] == "coll") {
        continue;
      }
      const Outcome got = run(root_, args);
      EXPECT_EQ(got.out, "") << refusal.file;
      EXPECT_EQ(got.err, "tapnames-catalogue: " + refusal.file + ": " + refusal.reason + "\n");
      EXPECT_EQ(got.status, 1);
    }
  }
  EXPECT_EQ(query(root_ / "other.db", "SELECT name FROM sqlite_schema"), "t\n");
  EXPECT_FALSE(fs::exists(root_ / "none.db"));
}

#endif  // TAPNAMES_HAVE_DATABASE

}  // namespace
