#include "platform/itlibrary/internal/XmlProlog.h"

#include <algorithm>

namespace platform {

std::size_t XmlPrologLexer::scan(std::string_view text) noexcept {
    if (state_ == State::Done) return 0;
    // In the internal subset, the text of declarations is passed over with
    // its quoted literals; a "<" there opens a declaration, never the root.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A byte that only ends the state it met is looked at again in the
        // state it leads back to ("--i; continue").
        switch (state_) {
            case State::Done:
                return i;
            case State::Text:
                if (c == '<') {
                    state_ = State::Lt;
                } else if (inSubset_ && (c == '"' || c == '\'')) {
                    quote_ = c;
                    resume_ = State::Text;
                    state_ = State::Quoted;
                } else if (inSubset_ && c == ']') {
                    inSubset_ = false;
                    state_ = State::Declaration;  // its ">" follows
                }
                break;
            case State::Lt:
                if (c == '?') {
                    resume_ = State::Text;
                    run_ = 0;
                    state_ = State::Instruction;
                } else if (c == '!') {
                    state_ = State::Bang;
                } else if (!inSubset_) {
                    state_ = State::Done;
                    return i;
                } else {
                    state_ = State::Text;
                    --i;
                    continue;
                }
                break;
            case State::Bang:
            case State::BangDash:
                if (c == '-' && state_ == State::Bang) {
                    state_ = State::BangDash;
                } else if (c == '-') {
                    resume_ = State::Text;
                    run_ = 0;
                    state_ = State::Comment;
                } else {
                    // A declaration: at the top its own state, in the
                    // subset passed over as the subset's text.
                    state_ = inSubset_ ? State::Text : State::Declaration;
                    --i;
                    continue;
                }
                break;
            case State::Comment:
                if (c == '>' && run_ >= 2) {
                    state_ = resume_;
                } else {
                    run_ = c == '-' ? static_cast<std::uint8_t>(std::min(run_ + 1, 2)) : 0;
                }
                break;
            case State::Instruction:
                if (c == '>' && run_ > 0) {
                    state_ = resume_;
                } else {
                    run_ = c == '?' ? 1 : 0;
                }
                break;
            case State::Declaration:
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    resume_ = State::Declaration;
                    state_ = State::Quoted;
                } else if (c == '[') {
                    inSubset_ = true;
                    state_ = State::Text;
                } else if (c == '>') {
                    state_ = State::Text;
                }
                break;
            case State::Quoted:
                if (c == quote_) state_ = resume_;
                break;
        }
    }
    return kNotYet;
}

}  // namespace platform
