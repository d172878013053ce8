#include "platform/appkit/NSView.h"

#include <algorithm>
#include <cctype>

namespace platform::appkit {
namespace {

bool nameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool nameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

[[noreturn]] void badFormat(std::string_view format, const std::string& why) {
    throw NSInvalidArgumentException("Unable to parse constraint format: " + why + "\n" + std::string(format));
}

}  // namespace

NSInvalidArgumentException::~NSInvalidArgumentException() = default;

NSView::~NSView() = default;

void NSView::addSubview(const std::shared_ptr<NSView>& view) {
    if (!view || view.get() == this) return;
    view->removeFromSuperview();
    view->superview_ = weak_from_this();
    subviews_.push_back(view);
}

void NSView::removeFromSuperview() {
    const std::shared_ptr<NSView> parent = superview_.lock();
    superview_.reset();
    if (!parent) return;
    auto& siblings = parent->subviews_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [this](const auto& v) { return v.get() == this; }),
                   siblings.end());
}

NSSize NSView::fittingSize() const {
    if (subviews_.empty()) return {};
    NSSize size{0, 20};
    for (const auto& view : subviews_) {
        const NSSize fit = view->fittingSize();
        size.width = std::max(size.width, fit.width + 20);
        size.height += fit.height;
    }
    size.height += 8.0 * static_cast<double>(subviews_.size() - 1);
    return size;
}

void NSView::addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
    if (constraint) constraints_.push_back(constraint);
}

void NSView::addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
    for (const auto& constraint : constraints) addConstraint(constraint);
}

std::vector<std::shared_ptr<NSLayoutConstraint>> NSLayoutConstraint::constraintsWithVisualFormat(
    std::string_view format, NSLayoutFormatOptions options, const Metrics* /*metrics*/, const Views& views) {
    auto constraint = std::make_shared<NSLayoutConstraint>();
    constraint->format_ = std::string(format);
    constraint->options_ = options;

    std::string_view rest = format;
    if (rest.starts_with("H:") || rest.starts_with("V:")) rest.remove_prefix(2);
    if (rest.empty()) badFormat(format, "Expected a view");
    const bool usesSuperview = rest.find('|') != std::string_view::npos;
    std::size_t named = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == ']') badFormat(format, "Unexpected ']'");
        if (rest[i] != '[') continue;
        const std::size_t close = rest.find(']', i);
        if (close == std::string_view::npos) badFormat(format, "Expected a ']' to end a view");
        std::string_view inside = rest.substr(i + 1, close - i - 1);
        std::size_t length = 0;
        while (length < inside.size() && (length == 0 ? nameStart(inside[0]) : nameChar(inside[length]))) ++length;
        const std::string name(inside.substr(0, length));
        if (name.empty()) badFormat(format, "Expected a view name");
        if (length < inside.size() && inside[length] != '(') badFormat(format, "Unexpected text after view " + name);
        const auto found = views.find(name);
        if (found == views.end() || !found->second) {
            badFormat(format, name + " is not a key in the views dictionary");
        }
        if (usesSuperview && !found->second->superview()) {
            badFormat(format, "Unable to interpret '|' character, because the related view " + name +
                                  " doesn't have a superview");
        }
        constraint->views_[name] = found->second;
        ++named;
        i = close;
    }
    if (named == 0) badFormat(format, "Expected a view");
    return {constraint};
}

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::constraintWithItem(
    const std::shared_ptr<NSView>& firstItem, NSLayoutAttribute firstAttribute, NSLayoutRelation relation,
    const std::shared_ptr<NSView>& secondItem, NSLayoutAttribute secondAttribute, double multiplier,
    double constant) {
    if (!firstItem) throw NSInvalidArgumentException("A constraint needs a first item");
    auto constraint = std::make_shared<NSLayoutConstraint>();
    constraint->firstItem_ = firstItem;
    constraint->firstAttribute_ = firstAttribute;
    constraint->relation_ = relation;
    constraint->secondItem_ = secondItem;
    constraint->secondAttribute_ = secondAttribute;
    constraint->multiplier_ = multiplier;
    constraint->constant_ = constant;
    return constraint;
}

}  // namespace platform::appkit
