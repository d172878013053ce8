// The system log stand-in: line shape, format directives, concurrent callers.
#include "platform/foundation/Log.h"

#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/native/StderrCapture.h"

namespace {

using bfgtest::captureStderr;
using platform::NSLog;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The message of one log line, after checking the line's prefix
// "2026-12-08 14:20:34.123 name[pid:tid] ".
std::string messageOf(const std::string& line, long tid) {
    const std::string stamp = "dddd-dd-dd dd:dd:dd.ddd ";
    bool shaped = line.size() > stamp.size();
    for (std::size_t i = 0; shaped && i < stamp.size(); ++i) {
        shaped = stamp[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == stamp[i];
    }
    const std::size_t open = line.find('[', stamp.size());
    const std::size_t close = line.find("] ", stamp.size());
    long pid = 0, thread = 0;
    shaped = shaped && open != std::string::npos && close != std::string::npos && open < close &&
             std::sscanf(line.c_str() + open, "[%ld:%ld]", &pid, &thread) == 2;
    if (!shaped) {
        ADD_FAILURE() << "not a log line: " << line;
        return {};
    }
    EXPECT_EQ(line.substr(stamp.size(), open - stamp.size()), program_invocation_short_name);
    EXPECT_EQ(pid, static_cast<long>(getpid()));
    if (tid != 0) {
        EXPECT_EQ(thread, tid);
    }
    return line.substr(close + 2);
}

TEST(SystemLog, OneLineInThePlatformShape) {
    const std::string out = captureStderr([] { NSLog("Could not get JNI env"); });
    ASSERT_EQ(lines(out).size(), 1u) << out;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(messageOf(lines(out)[0], static_cast<long>(gettid())), "Could not get JNI env");
}

TEST(SystemLog, FormatDirectives) {
    const std::optional<std::u16string> missing;
    const std::string out = captureStderr([&] {
        NSLog("%@", u"100% %@ %d literal");               // an argument is never a format
        NSLog("%@", missing);                             // a missing text
        NSLog("Invalid dialog type %i", -7);
        NSLog("%d%% and %s and a trailing %");            // other directives stand as they are
        NSLog("%@|%i", std::u16string(u"x"));             // missing arguments
        NSLog("%@", u"");
        NSLog("%@", u"\U0001F600 caf\u00E9");             // UTF-16 goes out as UTF-8
        NSLog("ends in a newline\n");
    });
    const std::vector<std::string> got = lines(out);
    ASSERT_EQ(got.size(), 8u) << out;
    EXPECT_EQ(messageOf(got[0], 0), "100% %@ %d literal");
    EXPECT_EQ(messageOf(got[1], 0), "(null)");
    EXPECT_EQ(messageOf(got[2], 0), "Invalid dialog type -7");
    EXPECT_EQ(messageOf(got[3], 0), "0% and %s and a trailing %");
    EXPECT_EQ(messageOf(got[4], 0), "x|0");
    EXPECT_EQ(messageOf(got[5], 0), "");
    EXPECT_EQ(messageOf(got[6], 0), "\xF0\x9F\x98\x80 caf\xC3\xA9");
    EXPECT_EQ(messageOf(got[7], 0), "ends in a newline");
}

TEST(SystemLog, ConcurrentEntriesStayWhole) {
    constexpr int kThreads = 8, kEach = 300;
    const std::string out = captureStderr([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                const std::string padding(200, 'a' + t);
                for (int i = 0; i < kEach; ++i) NSLog("%i:%i:%@", t, i, padding);
            });
        }
        for (auto& thread : threads) thread.join();
    });
    std::set<std::string> seen;
    for (const std::string& line : lines(out)) {
        const std::string message = messageOf(line, 0);
        const auto first = message.find(':'), second = message.find(':', first + 1);
        ASSERT_NE(second, std::string::npos) << line;
        const int t = std::stoi(message.substr(0, first));
        EXPECT_EQ(message.substr(second + 1), std::string(200, 'a' + t)) << line;
        seen.insert(message.substr(0, second));
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEach));
}

}  // namespace
