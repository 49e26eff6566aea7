// Result line formatting for the names the scan finds.
#include "results.h"

#include "render/name_render.h"

namespace tapnames {

void ResultPrinter::on_name(TapeName& name) {
  if (extract_all_) {
    ++count_;
    std::fprintf(stream_, "FOUND (%03llu): \"", count_);
  } else {
    std::fputs("FOUND: \"", stream_);
  }
  print_name(name, escape_, stream_);
  std::fputs("\"\n", stream_);
}

}  // namespace tapnames
