#pragma once
// Makes a folder the calling process's file system root in a private mount
// namespace: every top-level folder of the real root is bound in, so
// programs and libraries are found, while the folder's own /Volumes stands
// where the real one would. For tests and benchmarks of what the bridge
// writes to /Volumes; needs the right to make mount namespaces.

#include <optional>
#include <string>

namespace harmonode::testing {

// Enters `root`; gives the reason when it cannot.
std::optional<std::string> enterPrivateRoot(const std::string& root);

}  // namespace harmonode::testing
