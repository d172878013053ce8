#include "platform/appkit/ScriptedUserAgent.h"

#include <charconv>
#include <cstdio>
#include <utility>

#include "platform/appkit/NSAlert.h"
#include "platform/appkit/NSSavePanel.h"
#include "platform/foundation/UTF8.h"

namespace platform::appkit {
namespace {

using Action = ScriptedUserAgent::Step::Action;
using Lines = std::vector<std::string>;

constexpr std::pair<Action, std::string_view> kActions[] = {
    {Action::press, "press"},   {Action::escape, "escape"}, {Action::tick, "tick"},     {Action::untick, "untick"},
    {Action::filter, "filter"}, {Action::choose, "choose"}, {Action::cancel, "cancel"}, {Action::end, "end"},
};

bool hasIndex(Action a) { return a == Action::press || a == Action::tick || a == Action::untick || a == Action::filter; }

// UTF-8 with control characters written as U+XXXX, so a value stays on its line.
std::string printable(std::u16string_view text) {
    std::u16string plain;
    std::string out;
    const auto flush = [&] {
        out += utf16ToUTF8(plain);
        plain.clear();
    };
    for (const char16_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            flush();
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            out += code;
        } else {
            plain += c;
        }
    }
    flush();
    return out;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string optionalText(const std::optional<std::u16string>& text) { return text ? printable(*text) : "(none)"; }

std::string flag(bool value) { return value ? "true" : "false"; }

std::string windowLine(const std::shared_ptr<NSWindow>& window) {
    return "window: " + (window ? printable(window->title()) : std::string("(none)"));
}

const char* attributeName(NSLayoutAttribute attribute) {
    static constexpr const char* kNames[] = {"notAnAttribute", "left",    "right",   "top",          "bottom",
                                             "leading",        "trailing", "width",   "height",       "centerX",
                                             "centerY",        "lastBaseline", "firstBaseline"};
    const auto i = static_cast<std::size_t>(attribute);
    return i < std::size(kNames) ? kNames[i] : "unknown";
}

std::string constraintLine(const NSLayoutConstraint& c) {
    if (!c.visualFormat().empty()) {
        char options[32];
        std::snprintf(options, sizeof options, c.options() ? "0x%lX" : "%lu", c.options());
        return "constraint: " + c.visualFormat() + " options=" + options;
    }
    static constexpr const char* kRelations[] = {"<=", "==", ">="};
    const auto name = [](const std::shared_ptr<NSView>& v) { return v ? v->className() : std::string("(none)"); };
    return "constraint: " + name(c.firstItem()) + "." + attributeName(c.firstAttribute()) + " " +
           kRelations[c.relation() + 1] + " " + name(c.secondItem()) + "." + attributeName(c.secondAttribute()) +
           " * " + number(c.multiplier()) + " + " + number(c.constant());
}

// The views below `view`, depth first, in order.
void collect(const std::shared_ptr<NSView>& view, std::vector<std::shared_ptr<NSView>>& out) {
    for (const auto& sub : view->subviews()) {
        out.push_back(sub);
        collect(sub, out);
    }
}

std::vector<std::shared_ptr<NSView>> accessoryViews(const NSSavePanel& panel) {
    std::vector<std::shared_ptr<NSView>> views;
    if (panel.accessoryView()) collect(panel.accessoryView(), views);
    return views;
}

std::vector<std::shared_ptr<NSButton>> checkBoxes(const NSSavePanel& panel) {
    std::vector<std::shared_ptr<NSButton>> boxes;
    for (const auto& view : accessoryViews(panel)) {
        if (auto box = std::dynamic_pointer_cast<NSButton>(view); box && box->buttonType() == NSButtonTypeSwitch) {
            boxes.push_back(std::move(box));
        }
    }
    return boxes;
}

std::shared_ptr<NSPopUpButton> popUp(const NSSavePanel& panel) {
    for (const auto& view : accessoryViews(panel)) {
        if (auto button = std::dynamic_pointer_cast<NSPopUpButton>(view)) return button;
    }
    return nullptr;
}

std::string stateWord(NSControlStateValue state) {
    return state == NSControlStateValueOn ? "on" : state == NSControlStateValueOff ? "off" : "mixed";
}

void describeAlertState(NSAlert& alert, Lines& lines) {
    lines.push_back(std::string("suppressionButton: ") + (alert.showsSuppressionButton() ? "shown " : "hidden ") +
                    stateWord(alert.suppressionButton()->state()));
}

void describeAlert(NSAlert& alert, Lines& lines) {
    lines.push_back("sheet: " + alert.className());
    lines.push_back(windowLine(alert.sheetParent()));
    lines.push_back("messageText: " + printable(alert.messageText()));
    lines.push_back("informativeText: " + printable(alert.informativeText()));
    for (const auto& button : alert.buttons()) {
        lines.push_back("button: " + printable(button->title()) + " key=" + printable(button->keyEquivalent()));
    }
    const auto& icon = alert.icon();
    std::string iconText = "(none)";
    if (icon) {
        iconText = (icon->name().empty() ? icon->type() : icon->name()) + " " + number(icon->size().width) + "x" +
                   number(icon->size().height);
    }
    lines.push_back("icon: " + iconText);
    lines.push_back("alertStyle: " + std::to_string(alert.alertStyle()));
    describeAlertState(alert, lines);
}

void describePanelState(NSSavePanel& panel, Lines& lines) {
    lines.push_back("nameField: " + printable(panel.nameFieldStringValue()));
    std::string types = "(all)";
    if (const auto& allowed = panel.allowedFileTypes()) {
        types.clear();
        for (const auto& type : *allowed) types += (types.empty() ? "" : " ") + printable(type);
    }
    lines.push_back("allowedFileTypes: " + types);
    for (const auto& box : checkBoxes(panel)) {
        lines.push_back("checkBox: " + printable(box->title()) + " " + stateWord(box->state()));
    }
    if (const auto button = popUp(panel)) {
        const long selected = button->indexOfSelectedItem();
        lines.push_back("selected: " + (selected < 0 ? std::string("(none)") : std::to_string(selected)));
    }
    for (const auto& name : panel.enabledItemNames()) lines.push_back("enabled: " + name);
    lines.push_back("fileListReloads: " + std::to_string(panel.fileList()->reloadDataCount()));
    lines.push_back("columnValidations: " + std::to_string(panel.columnValidationCount()));
}

void describePanel(NSSavePanel& panel, Lines& lines) {
    lines.push_back("sheet: " + panel.className());
    lines.push_back(windowLine(panel.sheetParent()));
    lines.push_back("message: " + optionalText(panel.message()));
    lines.push_back("directory: " + (panel.directoryURL() ? panel.directoryURL()->path() : std::string("(none)")));
    lines.push_back("prompt: " + optionalText(panel.prompt()));
    lines.push_back("canCreateDirectories: " + flag(panel.canCreateDirectories()));
    lines.push_back("showsHiddenFiles: " + flag(panel.showsHiddenFiles()));
    if (const auto* open = dynamic_cast<NSOpenPanel*>(&panel)) {
        lines.push_back("allowsMultipleSelection: " + flag(open->allowsMultipleSelection()));
        lines.push_back("canChooseFiles: " + flag(open->canChooseFiles()));
        lines.push_back("canChooseDirectories: " + flag(open->canChooseDirectories()));
    }
    const auto& accessory = panel.accessoryView();
    if (!accessory) {
        lines.push_back("accessory: (none)");
    } else {
        lines.push_back("accessory: " + accessory->className() + " " + number(accessory->frame().size.width) + "x" +
                        number(accessory->frame().size.height) +
                        " translatesAutoresizingMask=" + flag(accessory->translatesAutoresizingMaskIntoConstraints()));
        for (const auto& view : accessoryViews(panel)) {
            lines.push_back("view: " + view->className() +
                            " translatesAutoresizingMask=" + flag(view->translatesAutoresizingMaskIntoConstraints()));
        }
        if (const auto button = popUp(panel)) {
            for (const auto& title : button->itemTitles()) lines.push_back("item: " + printable(title));
        }
        for (const auto& constraint : accessory->constraints()) lines.push_back(constraintLine(*constraint));
    }
    describePanelState(panel, lines);
}

void setCheckBox(NSButton& box, bool on) {
    if ((box.state() == NSControlStateValueOn) != on) box.performClick();
}

// Runs one step on an alert; the result line, and the return code when it ended the sheet.
std::string runOnAlert(NSAlert& alert, const ScriptedUserAgent::Step& step, std::optional<NSModalResponse>& ended) {
    switch (step.action) {
        case Action::press:
            if (step.index < 0 || !alert.pressButton(static_cast<std::size_t>(step.index))) return "result: refused, no such button";
            ended = NSAlertFirstButtonReturn + step.index;
            return "result: pressed " + printable(alert.buttons()[static_cast<std::size_t>(step.index)]->title());
        case Action::escape:
            for (std::size_t i = 0; i < alert.buttons().size(); ++i) {
                if (alert.buttons()[i]->keyEquivalent() == u"\x1b") {
                    const std::string title = printable(alert.buttons()[i]->title());
                    alert.pressKey(u"\x1b");
                    ended = NSAlertFirstButtonReturn + static_cast<NSModalResponse>(i);
                    return "result: pressed " + title;
                }
            }
            return "result: no button answers Escape";
        case Action::tick:
        case Action::untick:
            if (step.index != 0) return "result: refused, no such check box";
            setCheckBox(*alert.suppressionButton(), step.action == Action::tick);
            return "result: suppression button " + stateWord(alert.suppressionButton()->state());
        case Action::end:
            alert.endSheet(0);
            ended = 0;
            return "result: the system ends the sheet";
        default:
            return "result: refused, not a step for an alert";
    }
}

std::string runOnPanel(NSSavePanel& panel, const ScriptedUserAgent::Step& step, std::optional<NSModalResponse>& ended) {
    switch (step.action) {
        case Action::tick:
        case Action::untick: {
            const auto boxes = checkBoxes(panel);
            if (step.index < 0 || static_cast<std::size_t>(step.index) >= boxes.size()) return "result: refused, no such check box";
            const auto& box = boxes[static_cast<std::size_t>(step.index)];
            setCheckBox(*box, step.action == Action::tick);
            return "result: " + printable(box->title()) + " " + stateWord(box->state());
        }
        case Action::filter: {
            const auto button = popUp(panel);
            if (!button || !button->pickItem(step.index)) return "result: refused, no such filter";
            return "result: picked " + printable(button->itemTitles()[static_cast<std::size_t>(step.index)]);
        }
        case Action::choose: {
            std::vector<URL> urls;
            for (const auto& path : step.paths) urls.push_back(URL::fileURLWithPath(path));
            if (!panel.choose(urls)) return "result: refused, the panel does not let the user choose that";
            ended = NSModalResponseOK;
            return "result: chose";
        }
        case Action::cancel:
            panel.cancel();
            ended = NSModalResponseCancel;
            return "result: cancelled";
        case Action::end:
            panel.endSheet(0);
            ended = 0;
            return "result: the system ends the sheet";
        default:
            return "result: refused, not a step for a panel";
    }
}

}  // namespace

std::optional<ScriptedUserAgent::Step> ScriptedUserAgent::Step::parse(std::string_view text) {
    const std::size_t end = text.find_first_of(" \n");
    const std::string_view verb = text.substr(0, end);
    std::string_view rest = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    Step step;
    bool known = false;
    for (const auto& [action, word] : kActions) {
        if (word == verb) {
            step.action = action;
            known = true;
        }
    }
    if (!known) return std::nullopt;
    if (hasIndex(step.action)) {
        const auto [last, error] = std::from_chars(rest.data(), rest.data() + rest.size(), step.index);
        if (error != std::errc() || last != rest.data() + rest.size()) return std::nullopt;
    } else if (step.action == Action::choose) {
        const bool lines = end != std::string_view::npos && text[end] == '\n';
        while (!rest.empty()) {
            const std::size_t next = lines ? rest.find('\n') : std::string_view::npos;
            step.paths.emplace_back(rest.substr(0, next));
            rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
        }
        if (step.paths.empty()) return std::nullopt;
    } else if (!rest.empty()) {
        return std::nullopt;
    }
    return step;
}

std::string ScriptedUserAgent::Step::text() const {
    std::string out;
    for (const auto& [a, word] : kActions) {
        if (a == action) out = word;
    }
    if (hasIndex(action)) out += " " + std::to_string(index);
    for (const auto& path : paths) out += " " + path;
    return out;
}

ScriptedUserAgent::ScriptedUserAgent() = default;
ScriptedUserAgent::~ScriptedUserAgent() = default;

void ScriptedUserAgent::script(std::vector<Step> steps) {
    const std::lock_guard<std::mutex> hold(lock_);
    scripts_.push_back(std::move(steps));
}

void ScriptedUserAgent::setKeyWindow(std::shared_ptr<NSWindow> window) {
    const std::lock_guard<std::mutex> hold(lock_);
    keyWindow_ = std::move(window);
}

std::vector<std::string> ScriptedUserAgent::takeRecord() {
    const std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(record_, {});
}

std::shared_ptr<NSWindow> ScriptedUserAgent::keyWindow() {
    const std::lock_guard<std::mutex> hold(lock_);
    return keyWindow_;
}

std::optional<std::vector<ScriptedUserAgent::Step>> ScriptedUserAgent::nextScript() {
    const std::lock_guard<std::mutex> hold(lock_);
    if (scripts_.empty()) return std::nullopt;
    std::vector<Step> steps = std::move(scripts_.front());
    scripts_.pop_front();
    return steps;
}

void ScriptedUserAgent::add(std::vector<std::string> lines) {
    const std::lock_guard<std::mutex> hold(lock_);
    for (auto& line : lines) record_.push_back(std::move(line));
}

namespace {

// Follows `script` on an open sheet, recording as it goes. `run` takes one
// step; `state` describes what a step may have changed; `systemEnd` ends the
// sheet as the system does.
template <class Run, class State, class End>
void follow(Lines& lines, const std::optional<std::vector<ScriptedUserAgent::Step>>& script, Run run, State state,
            End systemEnd, const std::function<void(Lines)>& flush) {
    if (!script) {
        lines.push_back("result: no script left; the system ends the sheet");
        lines.push_back("ended: 0");
        flush(std::move(lines));
        systemEnd();
        return;
    }
    // Each step's lines are recorded as soon as the step is done.
    flush(std::exchange(lines, {}));
    for (const auto& step : *script) {
        std::optional<NSModalResponse> ended;
        Lines stepLines{"step: " + step.text()};
        stepLines.push_back(run(step, ended));
        if (ended) {
            stepLines.push_back("ended: " + std::to_string(*ended));
            flush(std::move(stepLines));
            return;
        }
        state(stepLines);
        flush(std::move(stepLines));
    }
    flush({"result: the script ended with the sheet open; the system ends it", "ended: 0"});
    systemEnd();
}

}  // namespace

void ScriptedUserAgent::alertSheetDidBegin(const std::shared_ptr<NSAlert>& alert) {
    Lines lines;
    describeAlert(*alert, lines);
    follow(
        lines, nextScript(), [&](const Step& step, std::optional<NSModalResponse>& ended) {
            return runOnAlert(*alert, step, ended);
        },
        [&](Lines& out) { describeAlertState(*alert, out); }, [&] { alert->endSheet(0); },
        [this](Lines l) { add(std::move(l)); });
}

void ScriptedUserAgent::panelSheetDidBegin(const std::shared_ptr<NSSavePanel>& panel) {
    Lines lines;
    describePanel(*panel, lines);
    follow(
        lines, nextScript(), [&](const Step& step, std::optional<NSModalResponse>& ended) {
            return runOnPanel(*panel, step, ended);
        },
        [&](Lines& out) { describePanelState(*panel, out); }, [&] { panel->endSheet(0); },
        [this](Lines l) { add(std::move(l)); });
}

}  // namespace platform::appkit
