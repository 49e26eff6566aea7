// SPDX-License-Identifier: MIT
// Worker threads take the next source from a shared index, read it through
// their own scan core and buffer, and leave its records and messages in its
// slot; the calling thread writes the slots in order as they complete, and
// draws the progress line between waits, never while holding the lock the
// workers need. A thread that cannot be started leaves its share to the
// others; when none can, the calling thread reads each source in turn.
#include "run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "name_render.h"
#include "platform.h"
#include "reader.h"
#include "scanner.h"

namespace catalogue {
namespace {

// How long the writer waits for a slot before it looks at the progress line
// and for an interruption again.
constexpr auto kTick = std::chrono::milliseconds(100);

// What one source gave: its records, its messages and its counts.
struct Slot {
  std::string out;
  std::string err;
  Summary summary;
  bool done = false;
  bool cut = false;  // reading stopped at an interruption: not written
};

// Turns the images of one source into records.
class RecordSink final : public ImageSink {
 public:
  RecordSink(tapnames::Scanner& scanner, const RunSettings& settings, const std::atomic<bool>& stop,
             SourceFeed* feed)
      : scanner_(scanner), settings_(settings), stop_(stop), feed_(feed) {}

  // Starts a new source, whose records go to `slot`.
  void start(const Source& source, Slot& slot) {
    source_ = &source;
    slot_ = &slot;
    members_.clear();
    if (feed_ != nullptr) {
      feed_->start(source);
    }
  }

  // Ends the source: archive members in the order of their chains of names.
  void finish_source() {
    std::stable_sort(members_.begin(), members_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& member : members_) {
      slot_->out += member.second;
    }
    members_.clear();
    if (feed_ != nullptr) {
      feed_->finish();
    }
  }

  void member_time(std::int64_t nanoseconds) override {
    if (feed_ != nullptr) {
      feed_->member_time(nanoseconds);
    }
  }

  void begin(std::span<const std::string> members) override {
    chain_.assign(members.begin(), members.end());
    path_ = member_path(source_->path, members);
    scanner_.reset(tapnames::ScanMode::AllNames);
    records_.clear();
    first_name_.clear();
    bytes_ = 0;
    if (feed_ != nullptr) {
      feed_->begin(path_, !chain_.empty());
    }
  }

  bool piece(std::span<const std::uint8_t> pulses) override {
    bytes_ += pulses.size();
    if (feed_ != nullptr) {
      feed_->piece(pulses);
    }
    scanner_.scan(pulses, [this](const tapnames::NameResult& result) { add_record(result); });
    return !stopping();
  }

  // The run is stopping (output failed, or a signal came): images are left.
  [[nodiscard]] bool stopping() const {
    return stop_.load() || (settings_.interrupt != nullptr && settings_.interrupt->load());
  }

  void end(std::string_view error) override {
    Summary& summary = slot_->summary;
    ++summary.images;
    summary.bytes += bytes_;
    if (error.empty()) {
      scanner_.finish([this](const tapnames::NameResult& result) { add_record(result); });
    } else {
      append_message(slot_->err, path_, error);
      ++summary.failures;
    }
    summary.names += scanner_.names_found();
    if (feed_ != nullptr) {
      feed_->end(error, scanner_.names_found());
    }
    const bool without_names = error.empty() && scanner_.names_found() == 0;
    summary.without_names += without_names ? 1 : 0;
    if (settings_.images) {
      append_image_record(records_, settings_.format,
                          {.path = path_,
                           .members = chain_,
                           .bytes = bytes_,
                           .names = scanner_.names_found(),
                           .first_name = first_name_,
                           .error = error});
    } else if (without_names && settings_.all_images) {
      append_record(records_, settings_.format,
                    Record{.path = path_, .members = chain_, .name = {}});
    }
    place(chain_, std::move(records_));
    records_ = std::string();
  }

  void fail(std::span<const std::string> members, std::string_view error) override {
    const std::vector<std::string> chain(members.begin(), members.end());
    const std::string path = member_path(source_->path, members);
    append_message(slot_->err, path, error);
    ++slot_->summary.failures;
    if (feed_ != nullptr) {
      feed_->fail(error);
    }
    if (settings_.images) {
      std::string record;
      append_image_record(record, settings_.format,
                          {.path = path, .members = chain, .first_name = {}, .error = error});
      place(chain, std::move(record));
    }
  }

 private:
  // The records of an image: at once for the source itself, else with the
  // other members, to be put in order at the end of the source.
  void place(const std::vector<std::string>& chain, std::string records) {
    if (chain.empty()) {
      slot_->out += records;
    } else {
      members_.emplace_back(chain, std::move(records));
    }
  }

  void add_record(const tapnames::NameResult& result) {
    std::array<char, tapnames::kMaxRenderedName> name{};
    const std::size_t length = tapnames::render_name(result.name, settings_.escape, name);
    if (feed_ != nullptr) {
      feed_->name(result, std::string_view(name.data(), length));
      return;
    }
    if (settings_.images) {
      if (result.number == 1) {
        first_name_.assign(name.data(), length);
      }
      return;
    }
    append_record(records_, settings_.format,
                  {.path = path_,
                   .members = chain_,
                   .number = result.number,
                   .offset = result.offset,
                   .block_type = result.block_type,
                   .name = std::string_view(name.data(), length)});
  }

  tapnames::Scanner& scanner_;
  const RunSettings& settings_;
  const std::atomic<bool>& stop_;
  SourceFeed* feed_;  // --db: where the images go besides the counts
  const Source* source_ = nullptr;
  Slot* slot_ = nullptr;
  std::vector<std::string> chain_;  // of the image being read: its member names, outermost first
  std::string path_;
  std::string records_;  // of the image being read
  std::string first_name_;
  std::uint64_t bytes_ = 0;
  std::vector<std::pair<std::vector<std::string>, std::string>> members_;  // chain, records
};

class Run {
 public:
  Run(const std::vector<Source>& sources, const RunSettings& settings)
      : sources_(sources), settings_(settings), slots_(sources.size()) {}

  RunResult go(std::FILE* out, std::FILE* err) {
    const std::uint64_t total_bytes =
        std::accumulate(sources_.begin(), sources_.end(), std::uint64_t{0},
                        [](std::uint64_t sum, const Source& source) { return sum + source.size; });
    Progress progress(settings_.progress, out, err, sources_.size(), total_bytes);
    const unsigned jobs =
        std::max(1U, std::min<unsigned>(settings_.jobs, static_cast<unsigned>(sources_.size())));
    for (unsigned i = 0; i < jobs; ++i) {
      try {
        workers_.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        break;  // the threads started read it all
      }
    }
    std::unique_ptr<Reader> own;  // when no thread could start
    if (workers_.empty() && !sources_.empty()) {
      own = std::make_unique<Reader>(settings_, stop_);
    }
    RunResult result;
    result.summary = settings_.walked;
    int write_error = 0;
    bool left_early = false;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (interrupted()) {
        stop_ = true;  // the workers leave their images; what is done is written
      }
      if (own) {
        own->read(sources_[i], slots_[i]);
        slots_[i].done = true;
        files_done_ += 1;
        bytes_done_ += sources_[i].size;
      }
      Slot slot;
      bool taken = false;
      while (!(taken = take(i, slot, !interrupted())) && !interrupted()) {
        progress.update(files_done_.load(), bytes_done_.load(), result.summary);
      }
      if (!taken || slot.cut) {
        left_early = true;
        break;
      }
      if (!tapnames::write_text(out, slot.out)) {
        write_error = errno;
      }
      if (!slot.err.empty()) {
        progress.clear();
        // Records first, so that a log holding both streams reads in order.
        if (std::fflush(out) != 0 && write_error == 0) {
          write_error = errno;
        }
        tapnames::write_text(err, slot.err);
      }
      add(result.summary, slot.summary);
      if (write_error != 0 || tapnames::output_failed(out)) {
        left_early = true;
        break;
      }
      progress.update(files_done_.load(), bytes_done_.load(), result.summary);
    }
    progress.clear();
    if (std::fflush(out) != 0 && write_error == 0) {
      write_error = errno;
    }
    stop_ = true;
    if (write_error != 0 || tapnames::output_failed(out)) {
      result.write_failed = true;
      ++result.summary.failures;
      std::string message;
      append_message(message, "cannot write output",
                     write_error != 0 ? error_text(write_error) : "write error");
      tapnames::write_text(err, message);
    }
    result.interrupted = interrupted();
    for (std::thread& worker : workers_) {
      if (left_early && result.interrupted) {
        worker.detach();  // it may be blocked in a read; the process ends without it
      } else {
        worker.join();
      }
    }
    return result;
  }

 private:
  // One scan core, one buffer and one sink, made once, reset for each image.
  class Reader {
   public:
    Reader(const RunSettings& settings, const std::atomic<bool>& stop)
        : scanner_(std::make_unique<tapnames::Scanner>()),
          buffer_(std::make_unique<PieceBuffer>()),
          feed_(settings.database != nullptr ? settings.database->feed() : nullptr),
          sink_(*scanner_, settings, stop, feed_.get()) {}

    void read(const Source& source, Slot& slot) {
      sink_.start(source, slot);
      read_source(source, sink_, buffer_->bytes);
      sink_.finish_source();
      slot.cut = sink_.stopping();
    }

   private:
    std::unique_ptr<tapnames::Scanner> scanner_;
    std::unique_ptr<PieceBuffer> buffer_;  // on a page: see PieceBuffer
    std::unique_ptr<SourceFeed> feed_;     // --db: where the images go
    RecordSink sink_;
  };

  [[nodiscard]] bool interrupted() const {
    return settings_.interrupt != nullptr && settings_.interrupt->load();
  }

  // Takes slot `index` once it is done, waiting a tick at most if `wait`.
  bool take(std::size_t index, Slot& slot, bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) {
      ready_.wait_for(lock, kTick, [this, index] { return slots_[index].done; });
    }
    if (!slots_[index].done) {
      return false;
    }
    slot = std::move(slots_[index]);
    slots_[index] = Slot();
    return true;
  }

  void work() {
    Reader reader(settings_, stop_);
    for (;;) {
      const std::size_t index = next_.fetch_add(1);
      if (index >= sources_.size() || stop_) {
        return;
      }
      Slot slot;
      reader.read(sources_[index], slot);
      slot.done = true;
      {
        const std::lock_guard lock(mutex_);
        slots_[index] = std::move(slot);
      }
      files_done_ += 1;
      bytes_done_ += sources_[index].size;
      ready_.notify_all();
    }
  }

  const std::vector<Source>& sources_;
  const RunSettings settings_;  // a copy: a worker left reading may outlive the caller's
  std::vector<Slot> slots_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::uint64_t> files_done_{0};
  std::atomic<std::uint64_t> bytes_done_{0};
  std::atomic<bool> stop_{false};
};

}  // namespace

void append_message(std::string& text, std::string_view path, std::string_view reason) {
  text += "tapnames-catalogue: ";
  append_tsv_field(text, path);
  text += ": ";
  append_tsv_field(text, reason);
  text += '\n';
}

std::string error_text(int error) {
  return std::generic_category().message(error);
}

RunResult run_catalogue(const std::vector<Source>& sources, const RunSettings& settings,
                        std::FILE* out, std::FILE* err) {
  auto run = std::make_unique<Run>(sources, settings);
  RunResult result = run->go(out, err);
  if (result.interrupted) {
    static_cast<void>(run.release());  // workers left reading may still use it
  }
  return result;
}

}  // namespace catalogue
