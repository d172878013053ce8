// The run-time stand-in: classes, method replacement, typed sends.
#include "platform/objc/Runtime.h"

#include <gtest/gtest.h>

namespace {

using namespace platform::objc;

Class makeClass(Class superclass, const char* name) {
    const Class cls = objc_allocateClassPair(superclass, name);
    EXPECT_NE(cls, nullptr) << name;
    objc_registerClassPair(cls);
    return cls;
}

IMP answering(int value) {
    return imp_implementationWithBlock([value](id) { return value; });
}

TEST(Runtime, ClassesByNameOnceRegistered) {
    const Class cls = objc_allocateClassPair(nullptr, "RuntimeTestPending");
    EXPECT_EQ(objc_getClass("RuntimeTestPending"), nullptr);
    objc_registerClassPair(cls);
    EXPECT_EQ(objc_getClass("RuntimeTestPending"), cls);
    EXPECT_EQ(class_getName(cls), "RuntimeTestPending");
    EXPECT_EQ(objc_allocateClassPair(nullptr, "RuntimeTestPending"), nullptr);  // name taken
    EXPECT_EQ(objc_getClass("RuntimeTestNoSuchClass"), nullptr);
}

TEST(Runtime, ReplaceAndAddWorkOnTheClassItself) {
    const Class base = makeClass(nullptr, "RuntimeTestBase");
    const Class derived = makeClass(base, "RuntimeTestDerived");
    const SEL value = NSSelectorFromString("value");
    ASSERT_TRUE(class_addMethod(base, value, answering(1), "i@:"));
    EXPECT_FALSE(class_addMethod(base, value, answering(9), "i@:"));  // already its own

    Object onBase(base), onDerived(derived);
    EXPECT_EQ(objc_msgSend<int>(&onDerived, value), 1);  // inherited

    // Replacing what a class only inherits overrides it there and returns none.
    EXPECT_EQ(class_replaceMethod(derived, value, answering(2), "i@:"), std::nullopt);
    EXPECT_EQ(objc_msgSend<int>(&onDerived, value), 2);
    EXPECT_EQ(objc_msgSend<int>(&onBase, value), 1);

    // Replacing its own returns the replaced implementation, still callable.
    const std::optional<IMP> replaced = class_replaceMethod(derived, value, answering(3), "i@:");
    ASSERT_TRUE(replaced);
    EXPECT_EQ((*replaced->as<int>())(&onDerived), 2);
    EXPECT_EQ(objc_msgSend<int>(&onDerived, value), 3);
    EXPECT_EQ(class_getMethodTypeEncoding(derived, value), "i@:");
}

TEST(Runtime, SendsCheckTheImplementationsType) {
    const Class cls = makeClass(nullptr, "RuntimeTestTyped");
    const SEL note = NSSelectorFromString("note:");
    ASSERT_TRUE(class_addMethod(cls, note, imp_implementationWithBlock([](id, id) {}), "v@:@"));
    Object object(cls);
    EXPECT_NO_THROW(objc_msgSend<void>(&object, note, id{nullptr}));
    EXPECT_THROW(objc_msgSend<bool>(&object, note, id{nullptr}), UnrecognizedSelector);
    EXPECT_THROW(objc_msgSend<void>(&object, NSSelectorFromString("missing")), UnrecognizedSelector);
    // A message to no object does nothing and answers zero.
    EXPECT_FALSE(objc_msgSend<bool>(nullptr, NSSelectorFromString("missing")));
}

}  // namespace
