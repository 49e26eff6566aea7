// SPDX-License-Identifier: MIT
// tapnames-inspect: why an image gives the names it gives. Wires the modules
// together: options, the images read, the event collector, the formats.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "images.h"
#include "inspector.h"
#include "options.h"
#include "platform.h"
#include "report.h"
#include "version.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;
// Output is written whenever this much has gathered, and after each image.
constexpr std::size_t kFlushSize = std::size_t{1} << 16U;

void message(std::string_view path, std::string_view reason) {
  std::fprintf(stderr, "tapnames-inspect: %.*s: %.*s\n", static_cast<int>(path.size()), path.data(),
               static_cast<int>(reason.size()), reason.data());
}

// Inspects each image and writes what it finds.
class Run final : public inspect::ImageVisitor, private inspect::EventSink {
 public:
  explicit Run(const inspect::Options& options) : options_(options), inspector_(options.settings) {}

  void begin(std::string_view path) override {
    path_ = path;
    inspect::append_image_start(out_, options_.format, path_);
    inspector_.start(*this);
  }
  void piece(std::span<const std::uint8_t> pulses) override { inspector_.feed(pulses); }
  void end(std::string_view error) override {
    if (error.empty()) {
      inspector_.finish();
      inspect::append_image_end(out_, options_.format, path_, inspector_);
    }
    flush();
  }

  void start() {
    inspect::append_start(out_, options_.format);
    flush();
  }
  // False if the output could not be written whole.
  bool finish() {
    flush();
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  }

 private:
  void take(const inspect::Event& event) override {
    inspect::append_event(out_, options_.format, options_.escape, path_, event);
    if (out_.size() >= kFlushSize) {
      flush();
    }
  }

  void flush() {
    std::fwrite(out_.data(), 1, out_.size(), stdout);
    out_.clear();
  }

  const inspect::Options& options_;
  inspect::Inspector inspector_;
  std::string path_;
  std::string out_;
};

// `argv` ends in a null pointer; its strings live for the run.
int inspect_main(int argc, const char* const* argv) {
  tapnames::use_binary_output();
  const std::vector<std::string_view> views(argv + std::min(argc, 1), argv + argc);
  const inspect::Parsed parsed = inspect::parse_options(views);
  switch (parsed.action) {
    case inspect::Action::Help:
      std::fputs(inspect::help_text().data(), stdout);
      return std::fflush(stdout) == 0 ? 0 : kFailure;
    case inspect::Action::Version:
      std::printf("tapnames-inspect %.*s\n", static_cast<int>(tapnames::kRelease.size()),
                  tapnames::kRelease.data());
      return std::fflush(stdout) == 0 ? 0 : kFailure;
    case inspect::Action::UsageError:
      std::fprintf(stderr,
                   "tapnames-inspect: %s\nTry 'tapnames-inspect --help' for more information.\n",
                   parsed.error.c_str());
      return kUsageError;
    case inspect::Action::Run:
      break;
  }
  static std::array<char, kFlushSize> out_buffer;
  std::setvbuf(stdout, out_buffer.data(), _IOFBF, out_buffer.size());
  Run run(parsed.options);
  run.start();
  std::uint64_t failures = 0;
  inspect::read_images(parsed.options.paths, run,
                       [&](std::string_view path, std::string_view reason, bool failure) {
                         std::fflush(stdout);  // messages follow what came before them
                         message(path, reason);
                         failures += failure ? 1 : 0;
                       });
  if (!run.finish()) {
    const int error = errno;
    message("cannot write output", error != 0 ? std::strerror(error) : "write error");
    return kFailure;
  }
  return failures != 0 ? kFailure : 0;
}

}  // namespace

#if defined(_WIN32)
// Arguments arrive as UTF-16 and are kept as UTF-8, as paths are printed.
int wmain(int argc, wchar_t** argv) {
  const tapnames::Utf8Arguments arguments = tapnames::utf8_arguments(argc, argv);
  return inspect_main(arguments.argc, arguments.argv);
}
#else
int main(int argc, char** argv) {
  return inspect_main(argc, argv);
}
#endif
