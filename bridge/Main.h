#pragma once

namespace harmonode {

// The bridge process: binds the applications, runs the self-check, serves
// requests until quit, writes the closing lines. Gives the exit status.
int bridgeMain();

}  // namespace harmonode
