// The entry-point guard: no C++ exception leaves an exported function.
#include "native/installer/JavaValues.h"

#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/native/StderrCapture.h"

namespace {

TEST(EntryGuard, ExceptionsBecomeALoggedFailureResult) {
    int result = 0;
    const std::string log = bfgtest::captureStderr([&] {
        result = bfg::guarded("showAlert0", -1, []() -> int { throw std::runtime_error("no window"); });
        bfg::guarded("notifyChange0", [] { throw 42; });
        bfg::guarded("getData", [] { throw std::bad_alloc(); });
    });
    EXPECT_EQ(result, -1);
    EXPECT_NE(log.find("] showAlert0 failed: no window\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] notifyChange0 failed: unknown exception\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] getData failed: std::bad_alloc\n"), std::string::npos) << log;
}

TEST(EntryGuard, ResultPassesThroughWhenNothingIsThrown) {
    const std::string log = bfgtest::captureStderr([] {
        EXPECT_EQ(bfg::guarded("create0", -1, [] { return 7; }), 7);
    });
    EXPECT_EQ(log, "");
}

}  // namespace
