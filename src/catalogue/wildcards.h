// SPDX-License-Identifier: MIT
// Wildcards in the paths of the command line. On Windows the shell hands them
// over as typed, so the program expands them as Windows programs do: `*` and
// `?` in the last part of a path, the matches in name order, each with the
// folder part as it was typed. A path that exists as it stands is kept, and
// so is one that matches nothing (it is then reported as missing). Elsewhere
// the shell has expanded them already, and the paths are kept as they are.
#pragma once

#include <string>
#include <vector>

namespace catalogue {

std::vector<std::string> expand_wildcards(const std::vector<std::string>& arguments);

}  // namespace catalogue
