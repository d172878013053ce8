#pragma once
// A Java VM in the test process, for tests that need a real JNIEnv.
//
// The VM is created on first use with -Xcheck:jni and the test classes on its
// class path, and lives until the process ends. Everything the VM prints (the
// JNI checks' warnings among it) is also kept, so a test can fail on a
// warning. JniTest gives each test its own local frame and fails it when the
// VM printed a JNI warning during the test.

#include <jni.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/native/StderrCapture.h"

namespace bfgtest {

JavaVM* javaVM();
// The environment of the calling thread, attaching it when needed.
JNIEnv* jniEnv();
// All the VM has printed so far.
std::string vmOutput();

class JniTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    JNIEnv* env = nullptr;

private:
    std::size_t outputBefore_ = 0;
};

}  // namespace bfgtest
