#pragma once
// Scripting objects of applications, bound by bundle identifier.
//
// An `SBApplication` is a handle on an application that forwards requests
// to it; `SBObject`s are the objects it hands out, `SBElementArray`s lists
// of them. Every request is optional: an object that does not answer one
// gives an empty array or none. A request that fails leaves its reason in
// the sender's `lastError()` and in the system log.
//
// This platform knows two applications; binding any other identifier gives
// none:
//
// - the music application ("com.apple.Music") manages the music library
//   file that the library reader reads (same lookup): `tracks` lists its
//   tracks, each answering "persistentID" (16 upper-case hexadecimal
//   digits) and `deleteObject`; `add` imports audio files as new tracks of
//   the library and members of its master playlist. Their tags are read
//   with TagLib by the tag reader, the program harmonode-tags, in a process
//   of its own with limits of its own (512 MiB of address space, an 8 MiB
//   stack, 4 s of processor time, 5 s in all), so no file can take the
//   caller down. It is looked for beside the running executable, or where
//   the variable HARMONODE_TAGS_HELPER names it when that is set and not
//   empty. Each change rewrites the file atomically under an advisory lock
//   on "<library>.lock", splicing the file's own bytes, so every byte the
//   change does not touch stays as it was. What a process learnt of the
//   file is kept for its next change while the file stays as that change
//   left it; a file changed by anyone else is read again.
// - the file manager ("com.apple.Finder"): `items` lists the entries of the
//   user's home folder, each answering "name".
//
// Handles and objects are not thread-safe; the bridge uses them from one
// thread. Changes from several handles or processes do not lose each other.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Predicate.h"
#include "platform/foundation/URL.h"

namespace platform {

class SBObject {
public:
    SBObject() = default;
    SBObject(const SBObject&) = delete;
    SBObject& operator=(const SBObject&) = delete;
    virtual ~SBObject();

    // The object's property `key` as text; none when it has no such property.
    virtual std::optional<std::string> valueForKey(std::string_view key) const;

    // The `delete` request: removes the object from its application.
    virtual void deleteObject();

    // Why the last request this object sent failed; none after a success.
    const std::optional<Error>& lastError() const noexcept { return lastError_; }

protected:
    // Records the outcome of a request (and logs a failure).
    void setLastError(std::optional<Error> error);

private:
    std::optional<Error> lastError_;
};

class SBElementArray {
public:
    using Elements = std::vector<std::shared_ptr<SBObject>>;

    SBElementArray() = default;
    explicit SBElementArray(Elements elements) : elements_(std::move(elements)) {}

    std::size_t count() const noexcept { return elements_.size(); }
    const std::shared_ptr<SBObject>& objectAtIndex(std::size_t index) const { return elements_.at(index); }
    Elements::const_iterator begin() const noexcept { return elements_.begin(); }
    Elements::const_iterator end() const noexcept { return elements_.end(); }

    // The elements that `predicate` matches, in order. An error when an
    // element does not answer the predicate's key: such a predicate cannot
    // be evaluated, and matches neither everything nor nothing.
    Result<Elements> filteredArrayUsingPredicate(const NSPredicate& predicate) const;

private:
    Elements elements_;
};

class SBApplication : public SBObject {
public:
    // The handle for `bundleIdentifier`, or none when no application with
    // that identifier is known.
    static std::unique_ptr<SBApplication> applicationWithBundleIdentifier(std::string_view bundleIdentifier);

    const std::string& bundleIdentifier() const noexcept { return bundleIdentifier_; }

    // The music application's tracks, in library order.
    virtual SBElementArray tracks();

    // The `add:to:` request: imports the files that `files` name into the
    // music library; only no target (none for `to`) is taken. Gives the
    // first new track, none when no file could be added (missing,
    // unreadable, a folder, not audio, a path holding a NUL, a file's path
    // ending in "/", a file that reaches a limit of the tag reader). A file
    // is the one the system opens for its path; its location is that path
    // with every link and "." or ".." part resolved.
    virtual std::shared_ptr<SBObject> add(const std::vector<URL>& files, const SBObject* to);

    // The file manager's items.
    virtual SBElementArray items();

protected:
    explicit SBApplication(std::string bundleIdentifier) : bundleIdentifier_(std::move(bundleIdentifier)) {}

private:
    std::string bundleIdentifier_;
};

}  // namespace platform
