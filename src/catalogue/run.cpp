// SPDX-License-Identifier: MIT
// Worker threads take the next source from a shared index, read it through
// their own scan core and buffer, and leave its records and messages in its
// slot; the calling thread writes the slots in order as they complete.
#include "run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <utility>

#include "name_render.h"
#include "reader.h"
#include "scanner.h"

namespace catalogue {
namespace {

// What one source gave: its records, its messages and its counts.
struct Slot {
  std::string out;
  std::string err;
  Summary summary;
  bool done = false;
};

// Turns the images of one source into records.
class RecordSink final : public ImageSink {
 public:
  RecordSink(tapnames::Scanner& scanner, const RunSettings& settings, SourceFeed* feed)
      : scanner_(scanner), settings_(settings), feed_(feed) {}

  // Starts a new source, whose records go to `slot`.
  void start(const Source& source, Slot& slot) {
    source_ = &source;
    slot_ = &slot;
    members_.clear();
    if (feed_ != nullptr) {
      feed_->start(source);
    }
  }

  // Ends the source: archive members in the order of their names.
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

  void begin(std::string_view member) override {
    scanner_.reset(tapnames::ScanMode::AllNames);
    member_ = member;
    path_ = source_->path;
    if (!member.empty()) {
      path_ += '!';
      path_ += member;
    }
    records_.clear();
    if (feed_ != nullptr) {
      feed_->begin(path_, !member.empty());
    }
  }

  bool piece(std::span<const std::uint8_t> pulses) override {
    if (feed_ != nullptr) {
      feed_->piece(pulses);
    }
    scanner_.scan(pulses, [this](const tapnames::NameResult& result) { add_record(result); });
    return true;
  }

  void end(std::string_view error) override {
    Summary& summary = slot_->summary;
    ++summary.images;
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
    if (error.empty() && scanner_.names_found() == 0) {
      ++summary.without_names;
      if (settings_.all_images) {
        append_record(records_, settings_.format, Record{.path = path_, .name = {}});
      }
    }
    if (member_.empty()) {
      slot_->out += records_;
    } else {
      members_.emplace_back(member_, std::move(records_));
    }
    records_ = std::string();
  }

  void fail(std::string_view error) override {
    append_message(slot_->err, source_->path, error);
    ++slot_->summary.failures;
    if (feed_ != nullptr) {
      feed_->fail(error);
    }
  }

 private:
  void add_record(const tapnames::NameResult& result) {
    std::array<char, tapnames::kMaxRenderedName> name{};
    const std::size_t length = tapnames::render_name(result.name, settings_.escape, name);
    if (feed_ != nullptr) {
      feed_->name(result, std::string_view(name.data(), length));
      return;
    }
    append_record(records_, settings_.format,
                  {.path = path_,
                   .number = result.number,
                   .offset = result.offset,
                   .block_type = result.block_type,
                   .name = std::string_view(name.data(), length)});
  }

  tapnames::Scanner& scanner_;
  const RunSettings& settings_;
  SourceFeed* feed_;  // --db: where the images go besides the counts
  const Source* source_ = nullptr;
  Slot* slot_ = nullptr;
  std::string member_;
  std::string path_;
  std::string records_;                                       // of the image being read
  std::vector<std::pair<std::string, std::string>> members_;  // member, records
};

class Run {
 public:
  Run(const std::vector<Source>& sources, const RunSettings& settings)
      : sources_(sources), settings_(settings), slots_(sources.size()) {}

  RunResult go(std::FILE* out, std::FILE* err) {
    const std::uint64_t total_bytes =
        std::accumulate(sources_.begin(), sources_.end(), std::uint64_t{0},
                        [](std::uint64_t sum, const Source& source) { return sum + source.size; });
    Progress progress(settings_.progress, err, sources_.size(), total_bytes);
    const unsigned jobs =
        std::max(1U, std::min<unsigned>(settings_.jobs, static_cast<unsigned>(sources_.size())));
    std::vector<std::thread> workers;
    workers.reserve(jobs);
    for (unsigned i = 0; i < jobs; ++i) {
      workers.emplace_back([this] { work(); });
    }
    RunResult result;
    for (std::size_t i = 0; i < slots_.size() && !result.write_failed; ++i) {
      Slot slot;
      {
        std::unique_lock lock(mutex_);
        while (!slots_[i].done) {
          ready_.wait_for(lock, std::chrono::milliseconds(200));
          progress.update(files_done_.load(), bytes_done_.load());
        }
        slot = std::move(slots_[i]);
        slots_[i] = Slot();
      }
      progress.update(files_done_.load(), bytes_done_.load());
      std::fwrite(slot.out.data(), 1, slot.out.size(), out);
      if (!slot.err.empty()) {
        progress.clear();
        std::fflush(out);  // so that a log holding both streams reads in order
        std::fwrite(slot.err.data(), 1, slot.err.size(), err);
      }
      add(result.summary, slot.summary);
      result.write_failed = std::ferror(out) != 0;
    }
    progress.clear();
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
      result.write_failed = true;
    }
    if (result.write_failed) {
      const int error = errno;
      stop_ = true;
      std::string message;
      append_message(message, "cannot write output",
                     error != 0 ? std::strerror(error) : "write error");
      std::fputs(message.c_str(), err);
    }
    for (std::thread& worker : workers) {
      worker.join();
    }
    return result;
  }

 private:
  static void add(Summary& total, const Summary& part) {
    total.images += part.images;
    total.names += part.names;
    total.without_names += part.without_names;
    total.failures += part.failures;
  }

  void work() {
    // One core and one buffer per worker, made once, reset for each image.
    const auto scanner = std::make_unique<tapnames::Scanner>();
    std::vector<std::uint8_t> buffer(kPieceSize);
    const std::unique_ptr<SourceFeed> feed =
        settings_.database != nullptr ? settings_.database->feed() : nullptr;
    RecordSink sink(*scanner, settings_, feed.get());
    for (;;) {
      const std::size_t index = next_.fetch_add(1);
      if (index >= sources_.size() || stop_) {
        return;
      }
      Slot slot;
      sink.start(sources_[index], slot);
      read_source(sources_[index], sink, buffer);
      sink.finish_source();
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
  const RunSettings& settings_;
  std::vector<Slot> slots_;
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
  text += path;
  text += ": ";
  text += reason;
  text += '\n';
}

RunResult run_catalogue(const std::vector<Source>& sources, const RunSettings& settings,
                        std::FILE* out, std::FILE* err) {
  return Run(sources, settings).go(out, err);
}

}  // namespace catalogue
