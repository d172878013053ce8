#pragma once
// Captures what the process writes to standard error.

#include <functional>
#include <string>

namespace bfgtest {

// What the process wrote to file descriptor 2 while `body` ran (log lines,
// and what a Java VM printed of Java exceptions).
std::string captureStderr(const std::function<void()>& body);

}  // namespace bfgtest
