#pragma once
// Where the prolog of an XML text (the declarations before its root
// element) ends: at the first "<" that opens neither a declaration, a
// comment nor a processing instruction, with quoted literals and the
// internal subset of the document type passed over. Nothing is judged: a
// text the lexer passes over may still be malformed. The text may come in
// pieces cut anywhere. One lexer per text; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

class XmlPrologLexer {
public:
    static constexpr std::size_t kNotYet = std::string_view::npos;

    // Scans the next piece of the text: gives the offset in it just past
    // the "<" that opens the root element (0 when that "<" ended the piece
    // before), or kNotYet while the prolog goes on.
    std::size_t scan(std::string_view text) noexcept;

private:
    // Text: between markup, or the subset's own text; Lt, Bang, BangDash:
    // after "<", "<!", "<!-"; Closing: in a comment or an instruction, until
    // `need_` of `closer_` and a ">"; Quoted: in a literal, until `closer_`.
    enum class State : std::uint8_t { Text, Lt, Bang, BangDash, Closing, Declaration, Quoted, Done };
    State state_ = State::Text;
    State resume_ = State::Text;  // where a literal returns to
    bool inSubset_ = false;       // inside the document type's internal subset
    char closer_ = 0;
    std::uint8_t need_ = 0, run_ = 0;
};

}  // namespace platform
