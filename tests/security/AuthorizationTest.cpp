#include "platform/security/Authorization.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace platform {
namespace {

constexpr AuthorizationFlags kAskForRights =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize;

struct Admin {
    AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights rights{1, &item};
};

// A handle holding the administrator right, or none when this process may not have it.
AuthorizationRef adminHandle() {
    AuthorizationRef ref = nullptr;
    Admin admin;
    EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
    if (AuthorizationCopyRights(ref, &admin.rights, nullptr, kAskForRights, nullptr) != errAuthorizationSuccess) {
        AuthorizationFree(ref, kAuthorizationFlagDefaults);
        return nullptr;
    }
    return ref;
}

std::string readAll(std::FILE* stream) {
    std::string text;
    char buffer[512];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, stream)) text.append(buffer, n);
    return text;
}

bool hasNoChild() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

TEST(Authorization, BadCallsAnswerTheirStatus) {
    AuthorizationRef freed = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &freed), errAuthorizationSuccess);
    ASSERT_EQ(AuthorizationFree(freed, 0), errAuthorizationSuccess);
    AuthorizationRef live = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &live), errAuthorizationSuccess);
    Admin admin;
    AuthorizationItem unnamed{nullptr, 0, nullptr, 0};
    const AuthorizationRights badSet{1, &unnamed};
    AuthorizationItemSet* granted = nullptr;
    char* const noArguments[] = {nullptr};

    const struct {
        const char* call;
        OSStatus status;
        OSStatus expected;
    } cases[] = {
        {"create with undefined flags", AuthorizationCreate(nullptr, nullptr, 1u << 30, &live),
         errAuthorizationInvalidFlags},
        {"copy with undefined flags", AuthorizationCopyRights(live, &admin.rights, nullptr, 1u << 5, nullptr),
         errAuthorizationInvalidFlags},
        {"execute with flags", AuthorizationExecuteWithPrivileges(live, "/bin/true", 1, noArguments, nullptr),
         errAuthorizationInvalidFlags},
        {"copy on null", AuthorizationCopyRights(nullptr, &admin.rights, nullptr, kAskForRights, nullptr),
         errAuthorizationInvalidRef},
        {"copy on freed", AuthorizationCopyRights(freed, &admin.rights, nullptr, kAskForRights, nullptr),
         errAuthorizationInvalidRef},
        {"execute on freed", AuthorizationExecuteWithPrivileges(freed, "/bin/true", 0, noArguments, nullptr),
         errAuthorizationInvalidRef},
        {"free twice", AuthorizationFree(freed, 0), errAuthorizationInvalidRef},
        {"copy unnamed right", AuthorizationCopyRights(live, &badSet, nullptr, kAskForRights, nullptr),
         errAuthorizationInvalidSet},
        {"copy asking for the granted set", AuthorizationCopyRights(live, &admin.rights, nullptr, 0, &granted),
         errAuthorizationInvalidPointer},
    };
    for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.call;
    EXPECT_EQ(AuthorizationFree(live, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
}

// The right as a user other than root sees it: denied for a handle, for a
// tool and for a handle made with the right; nothing is started.
void expectDenied() {
    Admin admin;
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCopyRights(ref, &admin.rights, nullptr, kAskForRights, nullptr), errAuthorizationDenied);
    char* const arguments[] = {const_cast<char*>("-c"), const_cast<char*>("exit 0"), nullptr};
    std::FILE* pipe = reinterpret_cast<std::FILE*>(1);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, "/bin/sh", 0, arguments, &pipe), errAuthorizationDenied);
    EXPECT_EQ(pipe, nullptr);
    AuthorizationRef withRight = nullptr;
    EXPECT_EQ(AuthorizationCreate(&admin.rights, nullptr, kAskForRights, &withRight), errAuthorizationDenied);
    EXPECT_EQ(withRight, nullptr);
    // Partial rights: the call succeeds, the right is still not held.
    EXPECT_EQ(AuthorizationCopyRights(ref, &admin.rights, nullptr, kAskForRights | kAuthorizationFlagPartialRights,
                                      nullptr),
              errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCopyRights(ref, &admin.rights, nullptr, 0, nullptr), errAuthorizationDenied);
    EXPECT_EQ(AuthorizationFree(ref, 0), errAuthorizationSuccess);
}

TEST(Authorization, RightIsGrantedToRootOnly) {
    if (::geteuid() != 0) {
        expectDenied();
        return;
    }
    AuthorizationRef ref = adminHandle();
    ASSERT_NE(ref, nullptr) << "root is granted the right";
    Admin admin;
    EXPECT_EQ(AuthorizationCopyRights(ref, &admin.rights, nullptr, 0, nullptr), errAuthorizationSuccess)
        << "the granted right is held";
    AuthorizationFree(ref, 0);

    // The same calls in a child running as an unprivileged user.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(2);
        }
        expectDenied();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a check failed as user 65534 (see above), 2: could not become it";
}

TEST(Authorization, ToolGetsItsArgumentsOneStreamAndNoOtherDescriptor) {
    AuthorizationRef ref = adminHandle();
    if (!ref) GTEST_SKIP() << "needs root";
    const int inherited = ::open("/dev/null", O_RDONLY);  // not close-on-exec
    ASSERT_GE(inherited, 0);
    // Prints its arguments, answers one line read from its input, lists its
    // descriptors (ls adds one for the folder it reads).
    const char* script = "printf '<%s>' \"$0\" \"$@\"; read line; echo \" got $line\"; ls /proc/self/fd | tr '\\n' ' '";
    char* const arguments[] = {const_cast<char*>("-c"), const_cast<char*>(script), const_cast<char*>("sh"),
                               const_cast<char*>("two words"), const_cast<char*>(""), nullptr,
                               const_cast<char*>("after the end")};
    std::FILE* pipe = nullptr;
    ASSERT_EQ(AuthorizationExecuteWithPrivileges(ref, "/bin/sh", 0, arguments, &pipe), errAuthorizationSuccess);
    ::close(inherited);
    ASSERT_NE(pipe, nullptr);
    std::fputs("hello\n", pipe);
    std::fflush(pipe);
    EXPECT_EQ(readAll(pipe), "<sh><two words><> got hello\n0 1 2 3 ");
    std::fclose(pipe);
    EXPECT_TRUE(hasNoChild()) << "the tool is not a child of the caller";
    AuthorizationFree(ref, 0);
}

TEST(Authorization, ToolStartsWithNoSignalBlockedOrIgnored) {
    AuthorizationRef ref = adminHandle();
    if (!ref) GTEST_SKIP() << "needs root";
    sigset_t blocked, before, after;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &before), 0);
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &previous), 0);

    char* const arguments[] = {const_cast<char*>("-E"), const_cast<char*>("^Sig(Blk|Ign)"),
                               const_cast<char*>("/proc/self/status"), nullptr};
    std::FILE* pipe = nullptr;
    const OSStatus status = AuthorizationExecuteWithPrivileges(ref, "/bin/grep", 0, arguments, &pipe);
    ::pthread_sigmask(SIG_SETMASK, &before, &after);
    ::sigaction(SIGHUP, &previous, nullptr);
    ASSERT_EQ(status, errAuthorizationSuccess);
    EXPECT_EQ(readAll(pipe), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    std::fclose(pipe);
    EXPECT_TRUE(sigismember(&after, SIGUSR1) && sigismember(&after, SIGTERM) && !sigismember(&after, SIGINT))
        << "the caller's mask is its own again";
    AuthorizationFree(ref, 0);
}

TEST(Authorization, ToolsThatCannotStartAreReportedAndLeaveNothing) {
    AuthorizationRef ref = adminHandle();
    if (!ref) GTEST_SKIP() << "needs root";
    std::string folder = (std::string(::getenv("TMPDIR") ? ::getenv("TMPDIR") : "/tmp") + "/bfg-exec-XXXXXX");
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string plain = folder + "/plain", empty = folder + "/empty";
    ::close(::open(plain.c_str(), O_CREAT | O_WRONLY, 0644));
    ::close(::open(empty.c_str(), O_CREAT | O_WRONLY, 0755));  // no #! line, and no shell to fall back on
    for (const std::string& tool : {folder + "/missing", plain, empty, folder}) {
        std::FILE* pipe = reinterpret_cast<std::FILE*>(1);
        EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, tool.c_str(), 0, nullptr, &pipe),
                  errAuthorizationToolExecuteFailure)
            << tool;
        EXPECT_EQ(pipe, nullptr) << tool;
        EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, tool.c_str(), 0, nullptr, nullptr),
                  errAuthorizationToolExecuteFailure)
            << tool;
    }
    EXPECT_TRUE(hasNoChild());
    ::unlink(plain.c_str());
    ::unlink(empty.c_str());
    ::rmdir(folder.c_str());
    AuthorizationFree(ref, 0);
}

TEST(Authorization, ToolsStartedFromManyThreadsAtOnceEachGetTheirOwnStream) {
    AuthorizationRef ref = adminHandle();
    if (!ref) GTEST_SKIP() << "needs root";
    std::vector<std::thread> threads;
    std::vector<std::string> outputs(8);
    for (std::size_t t = 0; t < outputs.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const std::string word = std::to_string(t) + "." + std::to_string(i);
                char* const arguments[] = {const_cast<char*>(word.c_str()), nullptr};
                std::FILE* pipe = nullptr;
                if (AuthorizationExecuteWithPrivileges(ref, "/bin/echo", 0, arguments, &pipe) != 0) return;
                outputs[t] += readAll(pipe);
                std::fclose(pipe);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t t = 0; t < outputs.size(); ++t) {
        std::string expected;
        for (int i = 0; i < 10; ++i) expected += std::to_string(t) + "." + std::to_string(i) + "\n";
        EXPECT_EQ(outputs[t], expected);
    }
    EXPECT_TRUE(hasNoChild());
    AuthorizationFree(ref, 0);
}

}  // namespace
}  // namespace platform
