#pragma once
// The run-time's classes and method replacement.
//
// One registry per process (this is a shared library so that every library
// loaded into the process sees the same classes, as with the platform's
// run-time): classes by name with their superclass, and per class a table of
// instance methods from selector to implementation. An implementation (IMP)
// is a type-erased function whose first parameter is the receiver, made from
// a lambda with imp_implementationWithBlock. objc_msgSend looks a selector up
// along the superclass chain and checks that the implementation has the
// expected type before calling it.
//
// Classes live until the process ends. All functions are thread-safe; no lock
// is held while an implementation runs, so implementations may use the
// run-time themselves.

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeindex>
#include <type_traits>
#include <typeinfo>
#include <utility>

#define PLATFORM_OBJC_API __attribute__((visibility("default")))

namespace platform::objc {

struct objc_class;
using Class = objc_class*;

// An instance: an object of a class. Subclass it to give instances state.
class PLATFORM_OBJC_API Object {
public:
    explicit Object(Class isa) noexcept : isa_(isa) {}
    virtual ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Class getClass() const noexcept { return isa_; }

private:
    Class isa_;
};
using id = Object*;

// A selector: a method's name, with the colons of its arguments.
class SEL {
public:
    explicit SEL(std::string name) : name_(std::move(name)) {}
    const std::string& name() const noexcept { return name_; }
    friend bool operator==(const SEL&, const SEL&) = default;

private:
    std::string name_;
};

inline SEL NSSelectorFromString(std::string_view name) { return SEL(std::string(name)); }

// A method implementation. Copies share the same function.
class IMP {
public:
    template <class R, class... Args>
    explicit IMP(std::function<R(id, Args...)> function)
        : function_(std::make_shared<std::function<R(id, Args...)>>(std::move(function))),
          type_(typeid(R(id, Args...))) {}

    // The function when it has exactly the type R(id, Args...), else null.
    template <class R, class... Args>
    const std::function<R(id, Args...)>* as() const noexcept {
        if (type_ != std::type_index(typeid(R(id, Args...)))) return nullptr;
        return static_cast<const std::function<R(id, Args...)>*>(function_.get());
    }

    // True when both refer to the same function.
    friend bool operator==(const IMP& a, const IMP& b) noexcept { return a.function_ == b.function_; }

private:
    std::shared_ptr<const void> function_;
    std::type_index type_;
};

// An implementation from a block (a lambda or function object) whose first
// parameter is the receiver.
template <class Block>
IMP imp_implementationWithBlock(Block block) {
    return IMP(std::function(std::move(block)));
}

// Raised by objc_msgSend when the receiver's class has no implementation of
// the selector, or one of another type (the platform raises its
// invalid-argument exception then).
class PLATFORM_OBJC_API UnrecognizedSelector : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    ~UnrecognizedSelector() override;
};

// A new class named `name` below `superclass` (null for a root class), not
// yet visible by name; null when a class of that name exists.
PLATFORM_OBJC_API Class objc_allocateClassPair(Class superclass, std::string_view name);
// Makes an allocated class visible to objc_getClass.
PLATFORM_OBJC_API void objc_registerClassPair(Class cls);
// The registered class of that name, or null.
PLATFORM_OBJC_API Class objc_getClass(std::string_view name);

PLATFORM_OBJC_API const std::string& class_getName(Class cls);
PLATFORM_OBJC_API Class class_getSuperclass(Class cls);

// Adds an instance method to `cls` itself. False, and nothing changed, when
// `cls` already has its own implementation of `name` (an inherited one is
// overridden).
PLATFORM_OBJC_API bool class_addMethod(Class cls, const SEL& name, IMP imp, std::string_view types);

// Sets `cls`'s own implementation of `name`. Returns the implementation it
// replaced, or none when `cls` had none of its own (an inherited
// implementation is not replaced but overridden, and not returned).
PLATFORM_OBJC_API std::optional<IMP> class_replaceMethod(Class cls, const SEL& name, IMP imp,
                                                         std::string_view types);

// The implementation that a message `name` to an instance of `cls` runs: its
// own or the nearest superclass's; none when there is none.
PLATFORM_OBJC_API std::optional<IMP> class_getMethodImplementation(Class cls, const SEL& name);

// The type encoding `cls`'s own method `name` was added with, or none.
PLATFORM_OBJC_API std::optional<std::string> class_getMethodTypeEncoding(Class cls, const SEL& name);

// Sends `name` with `args` to `self`; the implementation must have exactly the
// type R(id, Args...) (name Args explicitly where an argument's own type
// differs, as for a null pointer). A message to a null receiver does nothing
// and gives R's zero value, as on the platform. Throws UnrecognizedSelector
// when there is no implementation of that type.
template <class R, class... Args>
R objc_msgSend(id self, const SEL& name, Args... args) {
    if (!self) {
        if constexpr (std::is_void_v<R>) {
            return;
        } else {
            return R{};
        }
    }
    const std::optional<IMP> imp = class_getMethodImplementation(self->getClass(), name);
    const auto* function = imp ? imp->template as<R, Args...>() : nullptr;
    if (!function) {
        throw UnrecognizedSelector("-[" + class_getName(self->getClass()) + " " + name.name() +
                                   "]: unrecognized selector sent to instance");
    }
    return (*function)(self, std::forward<Args>(args)...);
}

}  // namespace platform::objc
