// Runs a program with a folder of the benchmark's as its file system root
// (see bench/EnterPrivateRoot.h), so that `write` has a
// /Volumes/Media/_harmonode of its own: private_root ROOT PROGRAM [ARG...].
// Exits with 125 and the reason when the root cannot be entered.

#include <unistd.h>

#include <cstdio>

#include "bench/EnterPrivateRoot.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ROOT PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    if (const auto problem = harmonode::testing::enterPrivateRoot(argv[1])) {
        std::fprintf(stderr, "cannot enter %s: %s\n", argv[1], problem->c_str());
        return 125;
    }
    ::execv(argv[2], argv + 2);
    std::perror(argv[2]);
    return 127;
}
