// SPDX-License-Identifier: MIT
// A build without SQLite, libxxhash or libcrypto keeps no database; the
// command line refuses --db and the questions with this reason.
#include "database.h"

namespace catalogue {

bool has_database() {
  return false;
}

std::unique_ptr<Database> open_database(const std::string& /*file*/, bool /*create*/,
                                        std::string& error) {
  error = "this build of tapnames-catalogue has no database";
  return nullptr;
}

}  // namespace catalogue
