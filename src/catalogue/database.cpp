// SPDX-License-Identifier: MIT
// The database through SQLite's C interface, in WAL mode: readers never
// wait for the writer, and a transaction cut short by a crash or a kill is
// rolled back when the database is next opened. One connection: the main
// thread plans the run and asks the questions, and during the run only the
// writer thread uses it.
#include "database.h"

#include <sqlite3.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "name_render.h"
#include "walk.h"

namespace catalogue {
namespace {

namespace fs = std::filesystem;

// The schema's version, kept in PRAGMA user_version, and the mark that tells
// a catalogue from any other SQLite database ("TAPC").
constexpr int kVersion = 1;
constexpr int kApplicationId = 0x54415043;

// kMigrations[v] takes a database of version v to version v + 1; a new
// version adds its step here and never changes an earlier one.
constexpr std::array<std::string_view, kVersion> kMigrations = {R"sql(
CREATE TABLE settings(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE sources(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  size INTEGER NOT NULL,
  mtime INTEGER,
  hashes TEXT NOT NULL,
  error TEXT);
CREATE TABLE images(
  id INTEGER PRIMARY KEY,
  source_id INTEGER NOT NULL REFERENCES sources(id) ON DELETE CASCADE,
  path TEXT NOT NULL,
  size INTEGER NOT NULL,
  mtime INTEGER,
  hash TEXT,
  crc32 TEXT,
  md5 TEXT,
  sha1 TEXT,
  names INTEGER NOT NULL,
  error TEXT,
  scanned TEXT NOT NULL);
CREATE INDEX images_source ON images(source_id);
CREATE INDEX images_path ON images(path);
CREATE INDEX images_hash ON images(hash);
CREATE TABLE names(
  image_id INTEGER NOT NULL REFERENCES images(id) ON DELETE CASCADE,
  number INTEGER NOT NULL,
  "offset" INTEGER NOT NULL,
  block_type INTEGER NOT NULL,
  name TEXT NOT NULL,
  name_bytes BLOB NOT NULL,
  PRIMARY KEY(image_id, number)) WITHOUT ROWID;
)sql"};

// Sources waiting for the writer, at most: the workers wait beyond it.
constexpr std::size_t kMaxQueued = 64;

// How long the writer gathers sources into one transaction.
constexpr auto kCommitEvery = std::chrono::milliseconds(200);

// How long a second writer waits for the first before giving up.
constexpr int kBusyMilliseconds = 10000;

class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail_with(sqlite3* db) {
  throw DatabaseError(db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail_with(db);
  }
}

// A prepared statement, kept for the connection's life and reset after use.
// Text and blobs are bound without a copy: they must live until the
// statement is reset.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &raw_, nullptr) != SQLITE_OK) {
      fail_with(db);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&&) = delete;
  Statement& operator=(Statement&&) = delete;
  ~Statement() { sqlite3_finalize(raw_); }

  Statement& bind(int index, std::int64_t value) {
    check(sqlite3_bind_int64(raw_, index, value));
    return *this;
  }
  Statement& bind(int index, std::string_view text) {
    // A null pointer would bind NULL: an empty text is still text.
    check(sqlite3_bind_text64(raw_, index, text.empty() ? "" : text.data(), text.size(), nullptr,
                              SQLITE_UTF8));
    return *this;
  }
  Statement& bind(int index, const std::optional<std::string>& text) {
    return text ? bind(index, std::string_view(*text)) : bind_null(index);
  }
  Statement& bind(int index, const std::optional<std::int64_t>& value) {
    return value ? bind(index, *value) : bind_null(index);
  }
  Statement& bind_blob(int index, std::span<const std::uint8_t> bytes) {
    check(sqlite3_bind_blob64(raw_, index, bytes.data(), bytes.size(), nullptr));
    return *this;
  }
  Statement& bind_null(int index) {
    check(sqlite3_bind_null(raw_, index));
    return *this;
  }

  // The next row: true while there is one; the statement is reset at the end.
  bool step() {
    const int status = sqlite3_step(raw_);
    if (status == SQLITE_ROW) {
      return true;
    }
    sqlite3_reset(raw_);
    if (status != SQLITE_DONE) {
      fail_with(db_);
    }
    return false;
  }
  // Runs a statement that gives no rows, or only the first is wanted.
  void run() {
    while (step()) {
    }
  }
  void reset() {
    sqlite3_reset(raw_);
    sqlite3_clear_bindings(raw_);
  }

  [[nodiscard]] std::int64_t integer(int column) const {
    return sqlite3_column_int64(raw_, column);
  }
  [[nodiscard]] bool is_null(int column) const {
    return sqlite3_column_type(raw_, column) == SQLITE_NULL;
  }
  [[nodiscard]] std::string_view text(int column) const {
    const unsigned char* bytes = sqlite3_column_text(raw_, column);
    if (bytes == nullptr) {
      return {};
    }
    return {reinterpret_cast<const char*>(bytes),
            static_cast<std::size_t>(sqlite3_column_bytes(raw_, column))};
  }

 private:
  void check(int status) const {
    if (status != SQLITE_OK) {
      fail_with(db_);
    }
  }

  sqlite3* db_;
  sqlite3_stmt* raw_ = nullptr;
};

std::int64_t pragma(sqlite3* db, const char* sql) {
  Statement statement(db, sql);
  std::int64_t value = 0;
  if (statement.step()) {
    value = statement.integer(0);
    statement.run();
  }
  return value;
}

// tapnames_name(name_bytes, escape): a name as the records write it, for
// writing the names again with another -e and for the search.
void render_function(sqlite3_context* context, int /*count*/, sqlite3_value** values) {
  const auto* blob = static_cast<const std::uint8_t*>(sqlite3_value_blob(values[0]));
  if (blob == nullptr ||
      sqlite3_value_bytes(values[0]) != static_cast<int>(tapnames::kNameLength)) {
    sqlite3_result_null(context);
    return;
  }
  std::array<std::uint8_t, tapnames::kNameLength> bytes{};
  std::memcpy(bytes.data(), blob, bytes.size());
  std::array<char, tapnames::kMaxRenderedName> text{};
  const std::size_t length = tapnames::render_name(bytes, sqlite3_value_int(values[1]) != 0, text);
  auto* copy = static_cast<char*>(sqlite3_malloc64(length + 1));
  if (copy == nullptr) {
    sqlite3_result_error_nomem(context);
    return;
  }
  std::memcpy(copy, text.data(), length);
  sqlite3_result_text64(context, copy, length, sqlite3_free, SQLITE_UTF8);
}

struct Stamp {
  std::uint64_t size = 0;
  std::optional<std::int64_t> mtime;  // nanoseconds since 1970; none when unknown
};

// A file's size and modification time; no time for anything but a regular
// file, or one that cannot be asked.
Stamp stamp_of(const std::string& path) {
  Stamp stamp;
#if defined(_WIN32)
  std::error_code error;
  const fs::path file = from_printable(path);
  const std::uintmax_t size = fs::file_size(file, error);
  if (error) {
    return stamp;
  }
  const fs::file_time_type time = fs::last_write_time(file, error);
  if (error) {
    return stamp;
  }
  stamp.size = size;
  stamp.mtime = std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::file_clock::to_sys(time).time_since_epoch())
                    .count();
#else
  // One stat call, where std::filesystem would make two.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return stamp;
  }
  constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
  stamp.size = static_cast<std::uint64_t>(status.st_size);
#if defined(__APPLE__)
  const timespec& time = status.st_mtimespec;
#else
  const timespec& time = status.st_mtim;
#endif
  stamp.mtime = std::int64_t{time.tv_sec} * kNanosecondsPerSecond + time.tv_nsec;
#endif
  return stamp;
}

std::string hash_names(const HashChoice& choice) {
  std::string names;
  for (const auto& [asked, name] : {std::pair{choice.crc32, "crc32"}, std::pair{choice.md5, "md5"},
                                    std::pair{choice.sha1, "sha1"}}) {
    if (asked) {
      names += names.empty() ? "" : ",";
      names += name;
    }
  }
  return names;
}

HashChoice hash_choice(std::string_view names) {
  return {.crc32 = names.find("crc32") != std::string_view::npos,
          .md5 = names.find("md5") != std::string_view::npos,
          .sha1 = names.find("sha1") != std::string_view::npos};
}

bool is_separator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// Whether `path` (as printed) lies under `root` (a path given, as printed;
// empty or "." for the current folder, whose contents have relative paths).
bool under(std::string_view path, std::string_view root) {
  while (root.size() > 1 && is_separator(root.back())) {
    root.remove_suffix(1);
  }
  if (root.empty() || root == ".") {
    return !path.empty() && !is_separator(path.front()) && !path.starts_with("..");
  }
  if (path == root) {
    return true;
  }
  return path.starts_with(root) && (is_separator(root.back()) || is_separator(path[root.size()]));
}

bool under_any(std::string_view path, const std::vector<std::string>& roots) {
  return std::any_of(roots.begin(), roots.end(),
                     [path](const std::string& root) { return under(path, root); });
}

std::string now_utc() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
#if defined(_WIN32)
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  std::array<char, 32> text{};
  const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return {text.data(), length};
}

struct NameRow {
  std::uint64_t number = 0;
  std::uint64_t offset = 0;
  std::uint8_t block_type = 0;
  std::string name;
  std::array<std::uint8_t, tapnames::kNameLength> bytes{};
};

struct ImageRow {
  std::string path;
  std::uint64_t size = 0;
  std::optional<std::int64_t> mtime;
  std::optional<HashValues> hashes;  // none when not read whole
  std::uint64_t names = 0;
  std::optional<std::string> error;
  std::vector<NameRow> rows;
};

// Everything one source gave, written in one transaction.
struct Batch {
  std::string path;
  Stamp stamp;
  std::string hashes;
  std::optional<std::string> error;
  std::string scanned;
  std::vector<ImageRow> images;
};

// One row of an answer, its columns in order; numbers are written bare.
struct Field {
  std::string_view column;
  std::string_view text;
  bool number = false;
};

void append_columns(std::string& out, Format format, std::span<const Field> fields) {
  if (format == Format::Jsonl) {
    return;
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out += i == 0 ? "" : format == Format::Tsv ? "\t" : ",";
    out += fields[i].column;
  }
  out += format == Format::Tsv ? "\n" : "\r\n";
}

void append_row(std::string& out, Format format, std::span<const Field> fields) {
  if (format == Format::Jsonl) {
    char separator = '{';
    for (const Field& field : fields) {
      out += separator;
      separator = ',';
      if (field.column == "path" && !is_utf8(field.text)) {
        out += "\"path_base64\":\"";
        append_base64(out, field.text);
        out += '"';
        continue;
      }
      append_json_string(out, field.column);
      out += ':';
      if (field.number) {
        out += field.text;
      } else {
        append_json_string(out, field.text);
      }
    }
    out += "}\n";
    return;
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out += i == 0 ? "" : format == Format::Tsv ? "\t" : ",";
    if (format == Format::Tsv) {
      append_tsv_field(out, fields[i].text);
    } else {
      append_csv_field(out, fields[i].text);
    }
  }
  out += format == Format::Tsv ? "\n" : "\r\n";
}

// Writes `text` out once it is large, and at the end.
void drain(std::string& text, std::FILE* out, bool last) {
  constexpr std::size_t kChunk = std::size_t{64} << 10U;
  if (last || text.size() >= kChunk) {
    std::fwrite(text.data(), 1, text.size(), out);
    text.clear();
  }
}

class SqliteDatabase;

class Feed final : public SourceFeed {
 public:
  explicit Feed(SqliteDatabase& database) : database_(database) {}

  void start(const Source& source) override;
  void member_time(std::int64_t nanoseconds) override { member_time_ = nanoseconds; }
  void begin(std::string_view path, bool member) override;
  void piece(std::span<const std::uint8_t> bytes) override {
    hasher_.add(bytes);
    image_.size += bytes.size();
  }
  void name(const tapnames::NameResult& result, std::string_view rendered) override {
    image_.rows.push_back({.number = result.number,
                           .offset = result.offset,
                           .block_type = result.block_type,
                           .name = std::string(rendered),
                           .bytes = result.name});
  }
  void end(std::string_view error, std::uint64_t names) override {
    image_.names = names;
    if (error.empty()) {
      image_.hashes = hasher_.take();
    } else {
      image_.error = std::string(error);
    }
    batch_.images.push_back(std::move(image_));
    image_ = ImageRow();
  }
  void fail(std::string_view error) override {
    if (batch_.error) {
      *batch_.error += '\n';
      *batch_.error += error;
    } else {
      batch_.error = std::string(error);
    }
  }
  void finish() override;

 private:
  SqliteDatabase& database_;
  Hasher hasher_;
  Batch batch_;
  ImageRow image_;
  std::optional<std::int64_t> member_time_;
};

class SqliteDatabase final : public Database {
 public:
  SqliteDatabase(const std::string& file, bool create) {
    // A question makes no database, but opens it for writing where it may:
    // the log of a killed run is rolled back by the first to open it so.
    sqlite3* raw = nullptr;
    int status = sqlite3_open_v2(
        file.c_str(), &raw, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0), nullptr);
    if (status != SQLITE_OK && !create) {
      sqlite3_close_v2(raw);
      raw = nullptr;
      status = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    }
    db_.reset(raw);
    if (status != SQLITE_OK) {
      fail_with(raw);
    }
    sqlite3_busy_timeout(raw, kBusyMilliseconds);
    if (sqlite3_create_function_v2(raw, "tapnames_name", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, render_function, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
      fail_with(raw);
    }
    exec(raw, "PRAGMA foreign_keys = ON");
    check_version(create);
    if (create) {
      Statement wal(raw, "PRAGMA journal_mode = WAL");
      if (!wal.step() || wal.text(0) != "wal") {
        throw DatabaseError("cannot keep a write-ahead log beside it");
      }
      wal.run();
      exec(raw, "PRAGMA synchronous = NORMAL");
      upgrade();
    }
  }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;
  SqliteDatabase(SqliteDatabase&&) = delete;
  SqliteDatabase& operator=(SqliteDatabase&&) = delete;
  ~SqliteDatabase() override {
    if (writer_.joinable()) {
      std::string ignored;
      finish(ignored);
    }
  }

  bool plan(const std::vector<Source>& found, const std::vector<std::string>& roots,
            const std::vector<std::string>& kept, const HashChoice& hashes, bool escape, Plan& plan,
            std::string& error) override {
    hashes_ = hashes;
    hash_names_ = hash_names(hashes);
    try {
      struct Known {
        std::int64_t id = 0;
        Stamp stamp;
        HashChoice hashes;
        std::uint64_t images = 0;
      };
      std::unordered_map<std::string, Known> known;
      Statement sources(db(),
                        "SELECT s.id, s.path, s.size, s.mtime, s.hashes, "
                        "(SELECT count(*) FROM images i WHERE i.source_id = s.id) FROM sources s");
      while (sources.step()) {
        Known& entry = known[std::string(sources.text(1))];
        entry.id = sources.integer(0);
        entry.stamp.size = static_cast<std::uint64_t>(sources.integer(2));
        if (!sources.is_null(3)) {
          entry.stamp.mtime = sources.integer(3);
        }
        entry.hashes = hash_choice(sources.text(4));
        entry.images = static_cast<std::uint64_t>(sources.integer(5));
      }
      std::unordered_set<std::string_view> seen;
      std::unordered_set<std::string_view> unchanged;
      for (const Source& source : found) {
        seen.insert(source.path);
        const Stamp now = stamp_of(source.path);
        const auto it = known.find(source.path);
        if (it != known.end() && now.mtime && it->second.stamp.mtime == now.mtime &&
            it->second.stamp.size == now.size && it->second.hashes.covers(hashes)) {
          plan.unchanged += it->second.images;
          unchanged.insert(source.path);
          continue;
        }
        plan.to_read.push_back(source);
        stamps_[source.path] = now;
      }
      kept_failures(unchanged, plan);
      std::vector<std::int64_t> gone;
      for (const auto& [path, entry] : known) {
        if (!seen.contains(path) && under_any(path, roots) && !under_any(path, kept)) {
          gone.push_back(entry.id);
          plan.removed += entry.images;
        }
      }
      // Nothing is written when nothing changes: no transaction, no sync.
      if (gone.empty() && kept_escape() == escape) {
        return true;
      }
      exec(db(), "BEGIN IMMEDIATE");
      Statement remove(db(), "DELETE FROM sources WHERE id = ?1");
      for (const std::int64_t id : gone) {
        remove.bind(1, id).run();
      }
      write_names_with(escape);
      exec(db(), "COMMIT");
      return true;
    } catch (const DatabaseError& failure) {
      sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
      error = failure.what();
      return false;
    }
  }

  void start() override {
    writer_ = std::thread([this] { write_loop(); });
  }

  std::unique_ptr<SourceFeed> feed() override { return std::make_unique<Feed>(*this); }

  bool finish(std::string& error) override {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    if (writer_.joinable()) {
      writer_.join();
    }
    error = write_error_;
    return write_error_.empty();
  }

  bool ask(Question question, std::string_view text, Format format, bool escape, std::FILE* out,
           std::string& error) override {
    try {
      std::string answer;
      switch (question) {
        case Question::Duplicates:
          duplicates(answer, format, out);
          break;
        case Question::Search:
          search(answer, text, format, escape, out);
          break;
        case Question::Stats:
          stats(answer, format);
          break;
        case Question::None:
          break;
      }
      drain(answer, out, true);
      return true;
    } catch (const DatabaseError& failure) {
      error = failure.what();
      return false;
    }
  }

  // For the feeds.
  [[nodiscard]] Stamp stamp(const std::string& path) const {
    const auto it = stamps_.find(path);
    return it != stamps_.end() ? it->second : Stamp();
  }
  [[nodiscard]] const HashChoice& hashes() const { return hashes_; }
  [[nodiscard]] const std::string& hash_list() const { return hash_names_; }

  // Queues a source for the writer, which is woken only when the queue is
  // half full: otherwise it takes what has come at its next commit, so that
  // a source costs no wake-up of its own.
  void push(Batch&& batch) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kMaxQueued; });
    queue_.push_back(std::move(batch));
    const bool wake = queue_.size() == kMaxQueued / 2;
    lock.unlock();
    if (wake) {
      ready_.notify_one();
    }
  }

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };

  [[nodiscard]] sqlite3* db() const { return db_.get(); }

  void check_version(bool create) {
    const std::int64_t version = pragma(db(), "PRAGMA user_version");
    if (version > kVersion) {
      throw DatabaseError("the database is of version " + std::to_string(version) +
                          ", newer than this tapnames-catalogue knows (" +
                          std::to_string(kVersion) + "): use a newer tapnames-catalogue");
    }
    const bool empty = pragma(db(), "SELECT count(*) FROM sqlite_schema") == 0;
    const bool ours = pragma(db(), "PRAGMA application_id") == kApplicationId;
    if ((version == 0 && !(empty && create)) || (version != 0 && !ours)) {
      throw DatabaseError("not a tapnames-catalogue database");
    }
  }

  // Brings the schema to kVersion, one step a version, in one transaction
  // (and again inside it, in case another run got there first).
  void upgrade() {
    if (pragma(db(), "PRAGMA user_version") == kVersion) {
      return;
    }
    exec(db(), "BEGIN IMMEDIATE");
    try {
      for (auto version = pragma(db(), "PRAGMA user_version"); version < kVersion; ++version) {
        exec(db(), std::string(kMigrations.at(static_cast<std::size_t>(version))).c_str());
        exec(db(), ("PRAGMA user_version = " + std::to_string(version + 1)).c_str());
      }
      exec(db(), ("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
      exec(db(), "COMMIT");
    } catch (const DatabaseError&) {
      sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  // The names are kept as the records write them with one -e: with
  // another, they are written again from their bytes.
  // The failures kept of the sources left unchanged: each image not read
  // whole, then what failed outside the images, as the run that read them
  // told them.
  void kept_failures(const std::unordered_set<std::string_view>& unchanged, Plan& plan) {
    Statement failures(db(),
                       "SELECT s.path, i.path, i.error FROM images i JOIN sources s "
                       "ON s.id = i.source_id WHERE i.error IS NOT NULL "
                       "UNION ALL SELECT path, path, error FROM sources WHERE error IS NOT NULL "
                       "ORDER BY 2");
    while (failures.step()) {
      if (!unchanged.contains(failures.text(0))) {
        continue;
      }
      std::string_view reasons = failures.text(2);
      while (!reasons.empty()) {  // several failures outside images, a line each
        const std::size_t end = std::min(reasons.find('\n'), reasons.size());
        plan.failures.push_back(
            {std::string(failures.text(1)), std::string(reasons.substr(0, end))});
        reasons.remove_prefix(std::min(end + 1, reasons.size()));
      }
    }
  }

  std::optional<bool> kept_escape() {
    Statement kept(db(), "SELECT value FROM settings WHERE key = 'escape'");
    std::optional<bool> escape;
    if (kept.step()) {
      escape = kept.integer(0) != 0;
      kept.run();
    }
    return escape;
  }

  void write_names_with(bool escape) {
    const std::optional<bool> kept = kept_escape();
    if (kept == escape) {
      return;
    }
    if (kept) {
      Statement rewrite(db(), "UPDATE names SET name = tapnames_name(name_bytes, ?1)");
      rewrite.bind(1, std::int64_t{escape}).run();
    }
    Statement store(db(), "INSERT OR REPLACE INTO settings(key, value) VALUES('escape', ?1)");
    store.bind(1, std::int64_t{escape}).run();
  }

  // Writes what the workers queue, waking every kCommitEvery (or when the
  // queue is half full, or the run is over). A transaction gathers the
  // sources of kCommitEvery, so that the pages that every source touches
  // (the indexes' last pages) are logged once a commit rather than once a
  // source; a kill loses at most that much work.
  void write_loop() {
    bool open = false;
    auto began = std::chrono::steady_clock::now();
    for (;;) {
      std::deque<Batch> taken;
      bool stop = false;
      {
        std::unique_lock lock(mutex_);
        const auto deadline = (open ? began : std::chrono::steady_clock::now()) + kCommitEvery;
        ready_.wait_until(lock, deadline,
                          [this] { return queue_.size() >= kMaxQueued / 2 || stopping_; });
        taken.swap(queue_);
        stop = stopping_ && taken.empty();
      }
      room_.notify_all();
      if (write_error_.empty()) {
        try {
          if (!taken.empty() && !open) {
            exec(db(), "BEGIN IMMEDIATE");
            open = true;
            began = std::chrono::steady_clock::now();
          }
          for (const Batch& batch : taken) {
            write(batch);
          }
          if (open && (stop || std::chrono::steady_clock::now() - began >= kCommitEvery)) {
            open = false;
            exec(db(), "COMMIT");
          }
        } catch (const DatabaseError& failure) {
          write_error_ = failure.what();  // the rest is dropped; the run reports it
          sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
          open = false;
        }
      }
      if (stop) {
        return;
      }
    }
  }

  // One source, inside the writer's transaction: it replaces all that was
  // kept of it.
  void write(const Batch& batch) {
    if (!insert_source_) {
      insert_source_ = std::make_unique<Statement>(
          db(),
          "INSERT INTO sources(path, size, mtime, hashes, error) VALUES(?1, ?2, ?3, ?4, ?5) "
          "ON CONFLICT(path) DO UPDATE SET size = excluded.size, mtime = excluded.mtime, "
          "hashes = excluded.hashes, error = excluded.error RETURNING id");
      clear_source_ = std::make_unique<Statement>(db(), "DELETE FROM images WHERE source_id = ?1");
      insert_image_ = std::make_unique<Statement>(
          db(),
          "INSERT INTO images(source_id, path, size, mtime, hash, crc32, md5, sha1, names, "
          "error, scanned) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
      insert_name_ = std::make_unique<Statement>(
          db(),
          "INSERT INTO names(image_id, number, \"offset\", block_type, name, name_bytes) "
          "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    }
    Statement& source = *insert_source_;
    source.bind(1, std::string_view(batch.path))
        .bind(2, static_cast<std::int64_t>(batch.stamp.size))
        .bind(3, batch.stamp.mtime)
        .bind(4, std::string_view(batch.hashes))
        .bind(5, batch.error);
    const std::int64_t source_id = source.step() ? source.integer(0) : 0;
    source.run();
    source.reset();
    clear_source_->bind(1, source_id).run();
    for (const ImageRow& image : batch.images) {
      write_image(source_id, image, batch.scanned);
    }
  }

  void write_image(std::int64_t source_id, const ImageRow& image, const std::string& scanned) {
    Statement& insert = *insert_image_;
    insert.bind(1, source_id)
        .bind(2, std::string_view(image.path))
        .bind(3, static_cast<std::int64_t>(image.size))
        .bind(4, image.mtime)
        .bind(9, static_cast<std::int64_t>(image.names))
        .bind(10, image.error)
        .bind(11, std::string_view(scanned));
    if (image.hashes) {
      insert.bind(5, std::string_view(image.hashes->xxh128))
          .bind(6, image.hashes->crc32)
          .bind(7, image.hashes->md5)
          .bind(8, image.hashes->sha1);
    } else {
      insert.bind_null(5).bind_null(6).bind_null(7).bind_null(8);
    }
    insert.run();
    insert.reset();
    const std::int64_t image_id = sqlite3_last_insert_rowid(db());
    Statement& name = *insert_name_;
    for (const NameRow& row : image.rows) {
      name.bind(1, image_id)
          .bind(2, static_cast<std::int64_t>(row.number))
          .bind(3, static_cast<std::int64_t>(row.offset))
          .bind(4, std::int64_t{row.block_type})
          .bind(5, std::string_view(row.name))
          .bind_blob(6, row.bytes)
          .run();
      name.reset();
    }
  }

  // Groups of images with the same bytes, the most copies first.
  void duplicates(std::string& answer, Format format, std::FILE* out) {
    Statement query(db(),
                    "SELECT i.hash, g.copies, i.path FROM images i JOIN "
                    "(SELECT hash, count(*) AS copies, max(size) AS size FROM images "
                    "WHERE hash IS NOT NULL GROUP BY hash HAVING count(*) > 1) g "
                    "ON g.hash = i.hash ORDER BY g.copies DESC, g.size DESC, i.hash, i.path, i.id");
    bool first = true;
    while (query.step()) {
      const std::string copies = std::to_string(query.integer(1));
      const std::array<Field, 3> fields = {
          Field{"hash", query.text(0)}, Field{"count", copies, true}, Field{"path", query.text(2)}};
      if (first) {
        append_columns(answer, format, fields);
        first = false;
      }
      append_row(answer, format, fields);
      drain(answer, out, false);
    }
    if (first) {
      append_columns(
          answer, format,
          std::array<Field, 3>{Field{"hash", {}}, Field{"count", {}}, Field{"path", {}}});
    }
  }

  // Names holding `text`, in any case, written with this run's -e.
  void search(std::string& answer, std::string_view text, Format format, bool escape,
              std::FILE* out) {
    Statement query(db(),
                    "SELECT i.path, n.number, n.\"offset\", n.block_type, "
                    "tapnames_name(n.name_bytes, ?1) FROM names n JOIN images i "
                    "ON i.id = n.image_id WHERE instr(lower(tapnames_name(n.name_bytes, ?1)), "
                    "lower(?2)) > 0 ORDER BY i.path, i.id, n.number");
    query.bind(1, std::int64_t{escape}).bind(2, text);
    append_header(answer, format);
    while (query.step()) {
      append_record(answer, format,
                    {.path = query.text(0),
                     .members = {},
                     .number = static_cast<std::uint64_t>(query.integer(1)),
                     .offset = static_cast<std::uint64_t>(query.integer(2)),
                     .block_type = static_cast<std::uint8_t>(query.integer(3)),
                     .name = query.text(4)});
      drain(answer, out, false);
    }
  }

  void stats(std::string& answer, Format format) {
    Statement query(db(),
                    "SELECT (SELECT count(*) FROM images), (SELECT count(*) FROM names), "
                    "(SELECT coalesce(sum(size), 0) FROM images), "
                    "(SELECT count(*) FROM images WHERE error IS NOT NULL) + "
                    "(SELECT count(*) FROM sources WHERE error IS NOT NULL), "
                    "(SELECT count(*) - count(DISTINCT hash) FROM images WHERE hash IS NOT NULL)");
    std::array<std::string, 5> values;
    if (query.step()) {
      for (std::size_t i = 0; i < values.size(); ++i) {
        values.at(i) = std::to_string(query.integer(static_cast<int>(i)));
      }
      query.run();
    }
    const std::array<Field, 5> fields = {
        Field{"images", values[0], true}, Field{"names", values[1], true},
        Field{"bytes", values[2], true}, Field{"failures", values[3], true},
        Field{"duplicates", values[4], true}};
    append_columns(answer, format, fields);
    append_row(answer, format, fields);
  }

  std::unique_ptr<sqlite3, Close> db_;
  HashChoice hashes_;
  std::string hash_names_;
  std::unordered_map<std::string, Stamp> stamps_;  // of the sources to read; read-only in the run

  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable ready_;  // a batch is queued, or the run is over
  std::condition_variable room_;   // the queue has room
  std::deque<Batch> queue_;
  bool stopping_ = false;
  std::string write_error_;  // the writer's; read after it has stopped
  std::unique_ptr<Statement> insert_source_;
  std::unique_ptr<Statement> clear_source_;
  std::unique_ptr<Statement> insert_image_;
  std::unique_ptr<Statement> insert_name_;
};

void Feed::start(const Source& source) {
  batch_ = Batch();
  batch_.path = source.path;
  batch_.stamp = database_.stamp(source.path);
  batch_.hashes = database_.hash_list();
  member_time_.reset();
}

void Feed::begin(std::string_view path, bool member) {
  image_ = ImageRow();
  image_.path = path;
  image_.mtime = member ? member_time_ : batch_.stamp.mtime;
  member_time_.reset();
  hasher_.start(database_.hashes());
}

void Feed::finish() {
  // A file that could not be read at all (not opened, not an archive) is
  // tried again by the next run; one that failed in its contents is kept,
  // failures and all, until it changes.
  if (batch_.images.empty() && batch_.error) {
    batch_.stamp.mtime.reset();
  }
  batch_.scanned = now_utc();
  database_.push(std::move(batch_));
  batch_ = Batch();
}

}  // namespace

bool has_database() {
  return true;
}

std::unique_ptr<Database> open_database(const std::string& file, bool create, std::string& error) {
  try {
    return std::make_unique<SqliteDatabase>(file, create);
  } catch (const DatabaseError& failure) {
    error = failure.what();
    return nullptr;
  }
}

}  // namespace catalogue
