#include "platform/objc/Runtime.h"

#include <map>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>

namespace platform::objc {

struct Method {
    IMP imp;
    std::string types;
};

}  // namespace platform::objc

struct platform::objc::objc_class {
    std::string name;
    Class superclass = nullptr;
    bool registered = false;
    std::map<std::string, Method, std::less<>> methods;
};

namespace platform::objc {
namespace {

// Classes are never freed, as on the platform: a Class stays valid for the
// life of the process. The registry and every method table share one lock.
struct Registry {
    std::shared_mutex lock;
    std::map<std::string, Class, std::less<>> classes;
};

Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

Class checked(Class cls) {
    if (!cls) throw std::invalid_argument("null class");
    return cls;
}

}  // namespace

Object::~Object() = default;
UnrecognizedSelector::~UnrecognizedSelector() = default;

Class objc_allocateClassPair(Class superclass, std::string_view name) {
    Registry& r = registry();
    const std::unique_lock<std::shared_mutex> hold(r.lock);
    if (r.classes.find(name) != r.classes.end()) return nullptr;
    auto* cls = new objc_class{std::string(name), superclass, false, {}};
    r.classes.emplace(std::string(name), cls);
    return cls;
}

void objc_registerClassPair(Class cls) {
    Registry& r = registry();
    const std::unique_lock<std::shared_mutex> hold(r.lock);
    checked(cls)->registered = true;
}

Class objc_getClass(std::string_view name) {
    Registry& r = registry();
    const std::shared_lock<std::shared_mutex> hold(r.lock);
    const auto found = r.classes.find(name);
    if (found == r.classes.end() || !found->second->registered) return nullptr;
    return found->second;
}

const std::string& class_getName(Class cls) {
    // The name never changes after allocation.
    return checked(cls)->name;
}

Class class_getSuperclass(Class cls) { return checked(cls)->superclass; }

bool class_addMethod(Class cls, const SEL& name, IMP imp, std::string_view types) {
    Registry& r = registry();
    const std::unique_lock<std::shared_mutex> hold(r.lock);
    auto& methods = checked(cls)->methods;
    if (methods.find(name.name()) != methods.end()) return false;
    methods.emplace(name.name(), Method{std::move(imp), std::string(types)});
    return true;
}

std::optional<IMP> class_replaceMethod(Class cls, const SEL& name, IMP imp, std::string_view types) {
    Registry& r = registry();
    const std::unique_lock<std::shared_mutex> hold(r.lock);
    auto& methods = checked(cls)->methods;
    const auto found = methods.find(name.name());
    if (found == methods.end()) {
        methods.emplace(name.name(), Method{std::move(imp), std::string(types)});
        return std::nullopt;
    }
    // As on the platform, an existing method keeps its type encoding.
    std::optional<IMP> replaced = std::move(found->second.imp);
    found->second.imp = std::move(imp);
    return replaced;
}

std::optional<IMP> class_getMethodImplementation(Class cls, const SEL& name) {
    Registry& r = registry();
    const std::shared_lock<std::shared_mutex> hold(r.lock);
    for (Class c = checked(cls); c; c = c->superclass) {
        const auto found = c->methods.find(name.name());
        if (found != c->methods.end()) return found->second.imp;
    }
    return std::nullopt;
}

std::optional<std::string> class_getMethodTypeEncoding(Class cls, const SEL& name) {
    Registry& r = registry();
    const std::shared_lock<std::shared_mutex> hold(r.lock);
    const auto& methods = checked(cls)->methods;
    const auto found = methods.find(name.name());
    if (found == methods.end()) return std::nullopt;
    return found->second.types;
}

}  // namespace platform::objc
