#include "platform/foundation/Log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

void appendText(std::string& out, const LogArgument* argument) {
    if (argument) {
        if (const auto* text = std::get_if<std::u16string_view>(&argument->value())) {
            out += utf16ToUTF8(*text);
            return;
        }
        if (const auto* text = std::get_if<std::string_view>(&argument->value())) {
            out += *text;
            return;
        }
    }
    out += "(null)";
}

void appendInteger(std::string& out, const LogArgument* argument) {
    long long value = 0;
    if (argument) {
        if (const auto* number = std::get_if<long long>(&argument->value())) value = *number;
    }
    out += std::to_string(value);
}

std::string formatMessage(std::string_view format, std::span<const LogArgument> arguments) {
    std::string out;
    out.reserve(format.size() + 16);
    std::size_t next = 0;
    const auto take = [&]() -> const LogArgument* {
        return next < arguments.size() ? &arguments[next++] : nullptr;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        const char directive = format[i + 1];
        switch (directive) {
        case '@': appendText(out, take()); ++i; break;
        case 'd':
        case 'i': appendInteger(out, take()); ++i; break;
        case '%': out += '%'; ++i; break;
        default: out += c; break;
        }
    }
    return out;
}

// "2026-12-08 14:20:34.123 java[1234:5678] "
std::string linePrefix() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[64];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[160];
    std::snprintf(prefix, sizeof prefix, "%.*s.%03ld %s[%ld:%ld] ", static_cast<int>(n), stamp,
                  now.tv_nsec / 1000000L, program_invocation_short_name,
                  static_cast<long>(getpid()), static_cast<long>(gettid()));
    return prefix;
}

void writeAll(int fd, const std::string& bytes) noexcept {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

void NSLogv(std::string_view format, std::span<const LogArgument> arguments) noexcept {
    try {
        const std::string message = formatMessage(format, arguments);
        std::string line = linePrefix();
        line += message;
        if (line.back() != '\n') line += '\n';
        {
            // Serialises this process's entries; the one write keeps each whole
            // even against writers outside this lock.
            static std::mutex lock;
            const std::lock_guard<std::mutex> hold(lock);
            writeAll(STDERR_FILENO, line);
        }
        syslog(LOG_NOTICE, "%s", message.c_str());
    } catch (...) {
        // Out of memory while formatting: the entry is dropped; logging never fails its caller.
    }
}

}  // namespace platform
