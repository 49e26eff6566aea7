// SPDX-License-Identifier: MIT
// tapnames: prints the file names held in the header blocks of a tape image.
#include "cli.h"

int main(int argc, char** argv) {
  return tapnames::run(argc, argv);
}
