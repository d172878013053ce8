#include "bridge/Main.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bridge/Applications.h"
#include "bridge/CLI.h"
#include "bridge/Output.h"
#include "export/Utils.h"
#include "platform/foundation/Date.h"

namespace harmonode {
namespace {

// The start of the command loop, in wall-clock seconds.
double startTime = 0;

std::unique_ptr<platform::SBApplication> bind(const char* bundleIdentifier) {
    auto application = platform::SBApplication::applicationWithBundleIdentifier(bundleIdentifier);
    if (!application) {
        std::fprintf(stderr, "HarmonodeAppleMusic: no application with the bundle identifier %s\n", bundleIdentifier);
        std::exit(1);
    }
    return application;
}

std::string shortest(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, end);
}

}  // namespace

int bridgeMain() {
    // A host that stops reading must not end the bridge: writes to it then
    // fail with EPIPE, and the output code drops them.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);

    itunes = bind("com.apple.Music");
    finder = bind("com.apple.Finder");
    runTests();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // A library reply is hundreds of megabytes: a larger pipe to the host
    // means far fewer switches between the two processes. Only a request to
    // the system; a failure changes nothing else.
    static_cast<void>(::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20));
    startTime = platform::Date::now().timeIntervalSince1970;

    CLI cli;
    cli.run();

    writeLine(shortest((platform::Date::now().timeIntervalSince1970 - startTime) / 60.0));
    writeLine("Exiting... ");
    flushOutput();
    return 0;
}

}  // namespace harmonode
