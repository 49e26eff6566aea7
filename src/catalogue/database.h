// SPDX-License-Identifier: MIT
// The collection kept in an SQLite database (--db FILE): the schema and its
// version, which sources a run must read (size and modification time
// changed, or hashes asked that were not taken) and which are gone, the one
// writer thread that the workers feed, and the questions answered from the
// database alone (--duplicates, --search, --stats). Built only with SQLite,
// libxxhash and libcrypto; otherwise open_database() says that this build
// has none.
//
// Schema, version 1 (PRAGMA user_version; application_id 0x54415043):
//   sources  id, path (as printed), size, mtime (ns; NULL: not opened, so
//            tried again), hashes ("crc32,md5,sha1" as asked), error (outside
//            images, a line each)
//   images   id, source_id, path (ARCHIVE!MEMBER for a member), size (bytes
//            read), mtime (ns; a member's own time), hash (XXH3-128), crc32,
//            md5, sha1 (hex; NULL unless asked, or not read whole), names,
//            error (NULL when read whole), scanned (UTC, ISO 8601)
//   names    image_id, number, offset, block_type, name (as the records write
//            it with the run's -e), name_bytes (the 16 bytes)
//   settings key, value ("escape": the -e the names are written with)
// A source's rows change in one transaction: a killed run leaves each source
// with its old rows or its new ones.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hashes.h"
#include "records.h"
#include "scanner.h"
#include "source.h"

namespace catalogue {

// True when this build keeps catalogues in a database.
bool has_database();

// What a worker hands the database of each source it reads, in the order
// the reader calls its sink. One per worker thread.
class SourceFeed {
 public:
  SourceFeed() = default;
  SourceFeed(const SourceFeed&) = delete;
  SourceFeed& operator=(const SourceFeed&) = delete;
  SourceFeed(SourceFeed&&) = delete;
  SourceFeed& operator=(SourceFeed&&) = delete;
  virtual ~SourceFeed() = default;

  virtual void start(const Source& source) = 0;
  // The next member's own modification time, when its archive keeps one.
  virtual void member_time(std::int64_t nanoseconds) = 0;
  // An image begins: its path as printed; `member` when inside an archive.
  virtual void begin(std::string_view path, bool member) = 0;
  virtual void piece(std::span<const std::uint8_t> bytes) = 0;
  virtual void name(const tapnames::NameResult& result, std::string_view rendered) = 0;
  virtual void end(std::string_view error, std::uint64_t names) = 0;
  virtual void fail(std::string_view error) = 0;
  // The source is done: its rows go to the writer (waiting while the
  // writer is far behind, so that memory stays bounded).
  virtual void finish() = 0;
};

// A failure kept from an earlier run: the path as printed, and the reason.
struct Failure {
  std::string path;
  std::string reason;
};

// What a run must do.
struct Plan {
  std::vector<Source> to_read;    // new or changed sources, in the walk's order
  std::uint64_t unchanged = 0;    // images of the sources left as they are
  std::uint64_t removed = 0;      // images of the sources found gone
  std::vector<Failure> failures;  // of the sources left: told again, and counted
};

enum class Question { None, Duplicates, Search, Stats };

class Database {
 public:
  Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  Database(Database&&) = delete;
  Database& operator=(Database&&) = delete;
  virtual ~Database() = default;

  // Compares the sources found under `roots` with those kept: a source whose
  // size and modification time are those kept, and whose hashes cover
  // `hashes`, is left; the others are to be read. A kept source under a root
  // that the walk did not find is removed, unless under a path in `kept`
  // (paths the walk could not read: a missing root, a locked folder). The
  // failures kept of the sources left go to plan.failures. Names kept with
  // another -e are written again from their bytes. False, with the reason in
  // `error`, when the database cannot be read or written.
  virtual bool plan(const std::vector<Source>& found, const std::vector<std::string>& roots,
                    const std::vector<std::string>& kept, const HashChoice& hashes, bool escape,
                    Plan& plan, std::string& error) = 0;
  // Starts the writer thread; feeds made after this hand it their sources.
  virtual void start() = 0;
  virtual std::unique_ptr<SourceFeed> feed() = 0;
  // Waits until everything fed is written and stops the writer. False, with
  // the reason, when anything could not be written.
  virtual bool finish(std::string& error) = 0;

  // Writes the answer to `question` in `format`. False, with the reason in
  // `error`, when the database cannot be read; `out` is checked by the caller.
  virtual bool ask(Question question, std::string_view text, Format format, bool escape,
                   std::FILE* out, std::string& error) = 0;
};

// Opens (and with `create`, makes or upgrades) the database in `file`.
// Nothing, with the reason in `error`, when it cannot be opened, is not a
// catalogue, or is of a newer version than this program knows.
std::unique_ptr<Database> open_database(const std::string& file, bool create, std::string& error);

}  // namespace catalogue
