// SPDX-License-Identifier: MIT
// tapnames-catalogue end to end on POSIX systems: a small collection made
// here, in a temporary folder, holding every kind of image and trouble
// (upper-case names, .tap.gz, a zip with a subfolder, links, a FIFO, a broken
// image, a tab, quotes and a non-UTF-8 byte in paths), catalogued in every
// format under one and two jobs, with standard output, standard error and
// the status checked apart. With --db: the database holds the names the
// records hold, answers its questions, reads again only what changed, and
// stays whole when the run is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(TAPNAMES_HAVE_DATABASE)
#include <sqlite3.h>
#endif

#include "archive_writer.h"
#include "run_outcome.h"
#include "tape_builder.h"

namespace {

namespace fs = std::filesystem;
using tapes::TapeBuilder;

using support::Outcome;
using support::slurp;

// Runs the catalogue in `folder` with `args`, `input` on standard input; as
// an ordinary user with `unprivileged`, when the tests run as root.
Outcome run(const fs::path& folder, std::vector<std::string> args, const std::string& input = {},
            bool unprivileged = false) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int in[2];
  if (out == nullptr || err == nullptr || pipe(in) != 0 ||
      write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    return {};
  }
  close(in[1]);
  std::string binary = TAPNAMES_CATALOGUE_BINARY;
  std::vector<char*> argv{binary.data()};
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    constexpr uid_t kNobody = 65534;
    if (unprivileged && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(126);
    }
    if (chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    dup2(in[0], 0);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {slurp(out), slurp(err), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
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
    "tapnames-catalogue: 10 images, 9 names, 2 images without names, 1 failure\n";

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
      R"({"path":"coll/arc.zip!empty.tap","number":0,"offset":null,"block_type":null,"name":""})"
      "\n"
      R"({"path":"coll/arc.zip!games/Z.TAP","number":1,"offset":8000,"block_type":1,"name":"ZIPPED"})"
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
}

TEST_F(Catalogue, StatusesAndMessages) {
  const Outcome clean = run(root_, {"coll/a.tap", "coll/sub dir/g.tap.gz"});
  EXPECT_EQ(clean.status, 0);
  EXPECT_EQ(clean.err,
            "tapnames-catalogue: 2 images, 3 names, 0 images without names, 0 failures\n");

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

#if defined(TAPNAMES_HAVE_DATABASE)

// Starts the catalogue in `folder` with `args`, its output thrown away.
pid_t start(const fs::path& folder, std::vector<std::string> args) {
  std::string binary = TAPNAMES_CATALOGUE_BINARY;
  std::vector<char*> argv{binary.data()};
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
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
            "tapnames-catalogue: 5 images, 8 names, 0 images without names, 0 failures\n"
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
            "tapnames-catalogue: 0 images, 0 names, 0 images without names, 0 failures\n"
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
                           "tapnames-catalogue: 6 images, 9 names, 0 images without names, 1 "
                           "failure\n"
                           "tapnames-catalogue: c.db: 6 images read, 0 unchanged, 0 removed\n");
  const std::string rows = "SELECT id, path, scanned FROM images ORDER BY path";
  const std::string before = query(db_, rows);
  const Outcome again = run(root_, {"--db", "c.db", "coll"});
  EXPECT_EQ(again.err, broken +
                           "tapnames-catalogue: 0 images, 0 names, 0 images without names, 1 "
                           "failure\n"
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
                             "tapnames-catalogue: 1 image, 1 name, 0 images without names, 1 "
                             "failure\n"
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
            "tapnames-catalogue: 0 images, 0 names, 0 images without names, 1 failure\n"
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
