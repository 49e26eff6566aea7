// SPDX-License-Identifier: MIT
// Writing a rendered name to a stream: the one part of name rendering that
// needs the C library's streams, kept apart so that the rendering itself
// builds where there are none (the web page's module).
#include <array>
#include <cstdio>

#include "render/name_render.h"

namespace tapnames {

void print_name(TapeName& name, bool escape, std::FILE* stream) noexcept {
  std::array<char, kMaxRenderedName> text{};
  const std::size_t length = render_name(name, escape, text);
  std::fwrite(text.data(), 1, length, stream);
}

}  // namespace tapnames
