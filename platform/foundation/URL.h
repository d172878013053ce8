#pragma once
// URLs as the platform's URL objects give them: the absolute text, the
// scheme, and for file URLs the file-system path with percent escapes
// decoded. An immutable value type; thread-safe to share.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class URL {
public:
    // A URL from its text, kept exactly as given. Gives none for empty text.
    static std::optional<URL> fromString(std::string_view text);

    // The file URL of `path`: an absolute path names that file directly, a
    // relative one is taken against the process's working directory.
    // Characters outside the URL path alphabet are percent-escaped.
    static URL fileURLWithPath(std::string_view path);

    // The complete text, scheme included.
    const std::string& absoluteString() const noexcept { return text_; }

    // The scheme in lower case ("file", "http"), empty when there is none.
    std::string scheme() const;

    bool isFileURL() const { return scheme() == "file"; }

    // The path component with percent escapes decoded (bytes that do not
    // form UTF-8 become U+FFFD) and a trailing "/" dropped, as the platform
    // reports the path of a folder URL. "file://localhost/a%20b" gives "/a b".
    std::string path() const;

    // The same path as the bytes the file system takes: percent escapes
    // decoded, nothing repaired, a trailing "/" dropped.
    std::string fileSystemRepresentation() const;

    friend bool operator==(const URL&, const URL&) = default;

private:
    explicit URL(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// `text` with every "%XX" escape replaced by its byte (malformed escapes are
// kept as they stand) and the result decoded as UTF-8 with U+FFFD.
std::string percentDecode(std::string_view text);

}  // namespace platform
