// Black-box tests of the command loop and the dispatch: the built bridge
// runs as a child process and is talked to through its standard streams.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <boost/json/parse.hpp>

#include "tests/bridge/BridgeProcess.h"

namespace harmonode::testing {
namespace {

using Replies = std::vector<std::string>;

// The replies to `input`, which must end the session; the quit block and
// the closing lines are checked and dropped.
Replies serve(const std::string& input) {
    const BridgeRun run = runBridge(input + "quit\n");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    Replies replies = run.replies();
    EXPECT_FALSE(replies.empty());
    if (!replies.empty()) {
        EXPECT_EQ(replies.back(), "{}");
        replies.pop_back();
    }
    return replies;
}

TEST(CommandLoop, BareWordAndJsonRequestAreTheSame) {
    EXPECT_EQ(serve("ping\n{\"cmd\":\"ping\"}\n"), (Replies{R"({"pong":"yes..."})", R"({"pong":"yes..."})"}));
}

TEST(CommandLoop, OnlyALeadingBraceMakesAJsonRequest) {
    // A blank before the brace, and the empty line, are bare command words.
    EXPECT_EQ(serve(" {\"cmd\":\"ping\"}\n\n"), (Replies{R"({"error":"no such command"})", R"({"error":"no such command"})"}));
}

TEST(CommandLoop, JsonErrorsSayWhatAndWhere) {
    const Replies replies = serve("{\n{\"cmd\":\"ping\"} trailing\n");
    ASSERT_EQ(replies.size(), 2u);
    for (const auto& reply : replies) {
        const auto error = boost::json::parse(reply).as_object().at("error").as_string();
        EXPECT_TRUE(error.starts_with("json error ")) << error;
        EXPECT_NE(error.find("offset"), boost::json::string::npos) << error;
    }
}

TEST(CommandLoop, ARequestSpreadOverLinesIsSeveralRequests) {
    const Replies replies = serve("{\n  \"cmd\": \"ping\"\n}\n");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_TRUE(replies[0].starts_with(R"({"error":"json error )"));
    EXPECT_EQ(replies[1], R"({"error":"no such command"})");
    EXPECT_EQ(replies[2], R"({"error":"no such command"})");
}

TEST(CommandLoop, CrLfEndsALineLikeLf) {
    EXPECT_EQ(serve("ping\r\n{\"cmd\":\"help\"}\r\n"), (Replies{R"({"pong":"yes..."})", R"({"help":"todo"})"}));
}

TEST(CommandLoop, LastLineWithoutLineFeedCounts) {
    const BridgeRun run = runBridge("ping\nquit");
    EXPECT_EQ(run.replies(), (Replies{R"({"pong":"yes..."})", "{}"}));
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(CommandLoop, QuitEndsWithMinutesAndExitingAndNothingMoreIsRead) {
    const BridgeRun run = runBridge("quit\nping\n");
    const auto lines = run.lines();
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[0], "{}");
    EXPECT_EQ(lines[1], "###");
    std::size_t used = 0;
    const double minutes = std::stod(lines[2], &used);
    EXPECT_EQ(used, lines[2].size());
    EXPECT_GE(minutes, 0.0);
    EXPECT_LT(minutes, 1.0);
    EXPECT_EQ(lines[3], "Exiting... ");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(CommandLoop, EndOfInputIsAnsweredOnceThenTheProcessEnds) {
    for (const std::string& input : {std::string(), std::string("ping\n")}) {
        const BridgeRun run = runBridge(input);
        EXPECT_FALSE(run.timedOut);
        const Replies replies = run.replies();
        ASSERT_FALSE(replies.empty());
        EXPECT_EQ(replies.back(), R"({"error":"empty command?"})");
        EXPECT_EQ(replies.size(), input.empty() ? 1u : 2u);
        EXPECT_EQ(run.lines().back(), "Exiting... ");
        EXPECT_EQ(run.exitStatus, 0);
    }
}

TEST(CommandLoop, InvalidUtf8BecomesReplacementCharacters) {
    // The word comes back nowhere, but a JSON request carrying the bytes in
    // an ignored member still parses, and the bare word is refused cleanly.
    EXPECT_EQ(serve("p\xFFing\n{\"cmd\":\"ping\",\"x\":\"\xC3\x28\"}\n"),
              (Replies{R"({"error":"no such command"})", R"({"pong":"yes..."})"}));
}

TEST(CommandLoop, AVeryLongLineIsReadWhole) {
    const std::string filler(8 * 1024 * 1024, 'a');
    EXPECT_EQ(serve("{\"cmd\":\"ping\",\"filler\":\"" + filler + "\"}\n" + filler + "\nping\n"),
              (Replies{R"({"pong":"yes..."})", R"({"error":"no such command"})", R"({"pong":"yes..."})"}));
}

TEST(CommandLoop, NothingIsWrittenBeforeTheFirstBlockAndNothingToStandardError) {
    const BridgeRun run = runBridge("ping\nquit\n");
    EXPECT_EQ(run.out.substr(0, 19), "{\"pong\":\"yes...\"}\n#");
    EXPECT_EQ(run.err, "");
}

TEST(CommandLoop, AHostThatStopsReadingDoesNotEndTheBridge) {
    BridgeOptions options;
    options.environment["HARMONODE_MUSIC_LIBRARY"] = HARMONODE_SOURCE_DIR "/samples/Library.xml";
    // Standard output is a pipe whose reading end is already closed.
    options.prepareChild = []() -> std::optional<std::string> {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) return "pipe failed";
        close(pipeEnds[0]);
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[1]);
        return std::nullopt;
    };
    const BridgeRun run = runBridge("library\nping\nquit\n", options);
    EXPECT_EQ(run.exitStatus, 0) << "128 + 13 is SIGPIPE; " << run.err;
    EXPECT_EQ(run.err, "");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;  // it reserves more address space than any limit allows
#else
constexpr bool kAddressSanitizer = false;
#endif

// The bridge with its address space limited to `megabytes`.
BridgeOptions limitedTo(rlim_t megabytes) {
    BridgeOptions options;
    options.prepareChild = [megabytes]() -> std::optional<std::string> {
        const rlimit limit{megabytes << 20, megabytes << 20};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return "setrlimit failed";
        return std::nullopt;
    };
    return options;
}

TEST(CommandLoop, ARequestTakesMemoryNearItsLinesSize) {
    if (kAddressSanitizer) GTEST_SKIP() << "address space limits and AddressSanitizer do not mix";
    // 100 MB of array elements the dispatch never looks at, in 512 MiB.
    std::string line = "{\"cmd\":\"ping\",\"x\":[1";
    line.reserve(100 << 20);
    while (line.size() < (100 << 20)) line += ",1";
    line += "]}\n";
    const BridgeRun run = runBridge(line + "quit\n", limitedTo(512));
    EXPECT_EQ(run.replies(), (Replies{R"({"pong":"yes..."})", "{}"})) << run.err;
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(CommandLoop, ALineTooLargeForMemoryIsAnErrorAndTheLoopGoesOn) {
    if (kAddressSanitizer) GTEST_SKIP() << "address space limits and AddressSanitizer do not mix";
    std::string input = "ping\n" + std::string(300 << 20, 'w');
    input += "\nping\nquit\n";
    const BridgeRun run = runBridge(input, limitedTo(256));
    EXPECT_EQ(run.replies(), (Replies{R"({"pong":"yes..."})", R"({"error":"not enough memory to answer the request"})",
                                      R"({"pong":"yes..."})", "{}"}))
        << run.err;
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(Dispatch, CommandWordsAreMatchedExactly) {
    EXPECT_EQ(serve("PING\nping \n{\"cmd\":\"Ping\"}\n"),
              (Replies(3, R"({"error":"no such command"})")));
}

TEST(Dispatch, MissingOrNonTextCmdIsNoCmd) {
    EXPECT_EQ(serve("{}\n{\"cmd\":5}\n{\"cmd\":null}\n{\"path\":\"ping\"}\n"), (Replies(4, R"({"error":"no cmd"})")));
}

TEST(Dispatch, QuitIgnoresOtherMembers) {
    const BridgeRun run = runBridge("{\"cmd\":\"quit\",\"now\":true}\nping\n");
    EXPECT_EQ(run.replies(), (Replies{"{}"}));
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(Dispatch, DeleteTrackIsUnhandled) {
    EXPECT_EQ(serve("delete_track\n{\"cmd\":\"delete_track\",\"pid\":\"00000000000000FF\"}\n"),
              (Replies(2, R"({"error":"unhandled delete_track"})")));
}

TEST(Dispatch, AddTrackWithoutATextPathIsRefusedAndTheLoopGoesOn) {
    EXPECT_EQ(serve("add_track\n{\"cmd\":\"add_track\",\"path\":7}\nping\n"),
              (Replies{R"({"error":"add_track needs a \"path\" text"})", R"({"error":"add_track needs a \"path\" text"})",
                       R"({"pong":"yes..."})"}));
}

}  // namespace
}  // namespace harmonode::testing
