// Result lines: one line per name found, written around the rendered name.
#pragma once

#include <cstdio>

#include "scan.h"

namespace tapnames {

// Writes "FOUND: \"NAME\"\n" for the first name, or in all-names mode
// "FOUND (001): \"NAME\"\n" and on, numbered from 1 with at least three digits.
class ResultPrinter final : public NameSink {
 public:
  ResultPrinter(bool extract_all, bool escape, std::FILE* stream) noexcept
      : extract_all_(extract_all), escape_(escape), stream_(stream) {}

  void on_name(TapeName& name) override;

 private:
  bool extract_all_;
  bool escape_;
  std::FILE* stream_;
  unsigned long long count_ = 0;  // NOLINT(google-runtime-int): matches %llu
};

}  // namespace tapnames
