#include "platform/itlibrary/internal/XmlProlog.h"

#include <algorithm>

namespace platform {

std::size_t XmlPrologLexer::scan(std::string_view text) noexcept {
    if (state_ == State::Done) return 0;
    const auto closing = [&](char closer, std::uint8_t need) {
        state_ = State::Closing;
        closer_ = closer;
        need_ = need;
        run_ = 0;
    };
    const auto quoted = [&](char quote) {
        resume_ = state_;
        closer_ = quote;
        state_ = State::Quoted;
    };
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
                    quoted(c);
                } else if (inSubset_ && c == ']') {
                    inSubset_ = false;
                    state_ = State::Declaration;  // its ">" follows
                }
                break;
            case State::Lt:
                if (c == '?') {
                    closing('?', 1);
                } else if (c == '!') {
                    state_ = State::Bang;
                } else if (!inSubset_) {
                    state_ = State::Done;
                    return i;
                } else {  // in the subset a "<" never opens the root
                    state_ = State::Text;
                    --i;
                    continue;
                }
                break;
            case State::Bang:
            case State::BangDash:
                if (c != '-') {
                    // A declaration; in the subset its text is passed over
                    // as the subset's own, literals and all.
                    state_ = inSubset_ ? State::Text : State::Declaration;
                    --i;
                    continue;
                }
                if (state_ == State::Bang) {
                    state_ = State::BangDash;
                } else {
                    closing('-', 2);
                }
                break;
            case State::Closing:
                if (c == '>' && run_ >= need_) {
                    state_ = State::Text;
                } else {
                    run_ = c == closer_ ? static_cast<std::uint8_t>(std::min<int>(run_ + 1, need_)) : 0;
                }
                break;
            case State::Declaration:
                if (c == '"' || c == '\'') {
                    quoted(c);
                } else if (c == '[') {
                    inSubset_ = true;
                    state_ = State::Text;
                } else if (c == '>') {
                    state_ = State::Text;
                }
                break;
            case State::Quoted:
                if (c == closer_) state_ = resume_;
                break;
        }
    }
    return kNotYet;
}

}  // namespace platform
