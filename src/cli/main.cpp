// SPDX-License-Identifier: MIT
// tapnames: prints the file names held in the header blocks of a tape image.
#include "cli.h"

#if defined(_WIN32)
#include "platform.h"

// Windows hands the command line over in UTF-16: taken wide, as UTF-8 for the
// rest of the program, so that every path the system can hold reaches it.
// Started by a double-click, its window stays until a key is pressed.
extern "C" int wmain(int argc, wchar_t** argv) {
  const tapnames::Utf8Arguments arguments = tapnames::utf8_arguments(argc, argv);
  const int status = tapnames::run(arguments.argc, arguments.argv);
  tapnames::wait_if_console_closes();
  return status;
}
#else
int main(int argc, char** argv) {
  return tapnames::run(argc, argv);
}
#endif
