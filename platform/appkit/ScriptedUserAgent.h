#pragma once
// A user agent that answers sheets by script and records what it was shown.
//
// Each sheet that begins takes the next script, a list of steps the user
// takes on it, in order:
//   press i     presses button i of an alert (0 for the first)
//   escape      presses the button whose key equivalent is Escape; nothing
//               happens when no button has it
//   tick i      puts check box i on: an alert's suppression button (i = 0,
//   untick i    reached even while hidden), or the accessory's check boxes
//               of a panel, in view order
//   filter j    picks item j of the panel's pop-up list, which sends its action
//   choose p…   chooses the paths and confirms; refused (the sheet stays
//               open) when the panel would not let the user choose them
//   cancel      the panel's Cancel button
//   end         the system ends the sheet with return code 0
// A step that does not apply is recorded as refused and the script goes on.
// When the steps run out with the sheet still open, or a sheet begins with no
// script left, the agent ends it as the system would (return code 0) and
// records that.
//
// The record is a list of text lines "name: value" (UTF-8). A sheet starts
// with "sheet: <class name>" and the lines that describe it as it was shown;
// each step adds "step: <step>", a "result: ..." line, and while the sheet is
// still open the lines of what may have changed; an ended sheet adds
// "ended: <return code>". Control characters (key equivalents) are written
// as U+XXXX.
//
// Thread-safe: scripts may be added and the record taken from any thread;
// the sheets are answered on the main thread.

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/appkit/NSApplication.h"

namespace platform::appkit {

class PLATFORM_APPKIT_API ScriptedUserAgent : public NSUserAgent {
public:
    struct Step {
        enum class Action { press, escape, tick, untick, filter, choose, cancel, end };
        Action action = Action::end;
        long index = 0;                  // press, tick, untick, filter
        std::vector<std::string> paths;  // choose

        // One step from its text: the words above, with the index or the
        // paths on the following lines ("press\n2", "choose\n/a\n/b"), or
        // after one space for an index ("press 2"). None when not a step.
        static std::optional<Step> parse(std::string_view text);
        std::string text() const;
    };

    ScriptedUserAgent();
    ~ScriptedUserAgent() override;

    // Adds the script of one more sheet.
    void script(std::vector<Step> steps);
    // The window reported as the key window (none by default).
    void setKeyWindow(std::shared_ptr<NSWindow> window);
    // The lines recorded since the last call.
    std::vector<std::string> takeRecord();

    std::shared_ptr<NSWindow> keyWindow() override;
    void alertSheetDidBegin(const std::shared_ptr<NSAlert>& alert) override;
    void panelSheetDidBegin(const std::shared_ptr<NSSavePanel>& panel) override;

private:
    std::optional<std::vector<Step>> nextScript();
    void add(std::vector<std::string> lines);

    std::mutex lock_;
    std::deque<std::vector<Step>> scripts_;
    std::vector<std::string> record_;
    std::shared_ptr<NSWindow> keyWindow_;
};

}  // namespace platform::appkit
