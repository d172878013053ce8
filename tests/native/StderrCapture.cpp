#include "tests/native/StderrCapture.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace bfgtest {

std::string captureStderr(const std::function<void()>& body) {
    std::fflush(stderr);
    char path[] = "/tmp/bfgtest-stderr-XXXXXX";
    const int file = mkstemp(path);
    if (file < 0) throw std::runtime_error("mkstemp failed");
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    close(file);
    struct Restore {
        int saved;
        ~Restore() {
            std::fflush(stderr);
            dup2(saved, STDERR_FILENO);
            close(saved);
        }
    };
    {
        const Restore restore{saved};
        body();
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
}

}  // namespace bfgtest
