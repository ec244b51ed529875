// Running the system's network tools from the host harness.
#pragma once

#include <string>
#include <vector>

namespace valdori::e2e {

// Runs `argv` (looked up in PATH, no shell involved) and waits for it. True when it exits
// with status 0; otherwise the command line and its status go to stderr.
bool run_command(const std::vector<std::string>& argv);

}  // namespace valdori::e2e
