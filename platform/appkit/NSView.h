#pragma once
// Views, geometry and layout constraints of the headless AppKit model.
//
// A view owns its subviews and knows its superview weakly. Constraints are
// kept as what they were made from: the visual format text with its options
// and the views it names, or the two items with their attributes, relation,
// multiplier and constant. There is no layout engine: frames change only
// when set or sized to fit, and a view's fitting size is a fixed estimate.
// Constraints refer to their views weakly, as the platform's do, so a view
// holding constraints on itself makes no cycle.
//
// Like every AppKit object these are used on the main thread only; nothing
// here is thread-safe. Bad visual formats throw NSInvalidArgumentException,
// as the platform raises its exception of that name.

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#define PLATFORM_APPKIT_API __attribute__((visibility("default")))

namespace platform::appkit {

struct NSPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const NSPoint&, const NSPoint&) = default;
};

struct NSSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const NSSize&, const NSSize&) = default;
};

struct NSRect {
    NSPoint origin;
    NSSize size;
    friend bool operator==(const NSRect&, const NSRect&) = default;
};

inline constexpr NSRect NSZeroRect{};

class PLATFORM_APPKIT_API NSInvalidArgumentException : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
    ~NSInvalidArgumentException() override;
};

class NSLayoutConstraint;

class PLATFORM_APPKIT_API NSView : public std::enable_shared_from_this<NSView> {
public:
    NSView() : NSView("NSView", NSZeroRect) {}
    explicit NSView(NSRect frame) : NSView("NSView", frame) {}
    virtual ~NSView();
    NSView(const NSView&) = delete;
    NSView& operator=(const NSView&) = delete;

    // The name the run-time reports for the object's class: the most derived
    // class's own ("NSButton", "FI_TListView").
    const std::string& className() const noexcept { return className_; }

    const std::vector<std::shared_ptr<NSView>>& subviews() const noexcept { return subviews_; }
    std::shared_ptr<NSView> superview() const { return superview_.lock(); }
    // Adds `view` last, taking it from its former superview.
    void addSubview(const std::shared_ptr<NSView>& view);
    void removeFromSuperview();

    NSRect frame() const noexcept { return frame_; }
    void setFrame(NSRect frame) noexcept { frame_ = frame; }
    void setFrameSize(NSSize size) noexcept { frame_.size = size; }

    bool translatesAutoresizingMaskIntoConstraints() const noexcept { return translatesAutoresizingMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool value) noexcept { translatesAutoresizingMask_ = value; }

    // The smallest size that fits the content. Without a layout engine: a
    // plain view stacks its subviews' fitting sizes in a column with 8
    // points between them and 10 around; controls estimate from their text.
    virtual NSSize fittingSize() const;

    void addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);
    void addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
    const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints() const noexcept { return constraints_; }

protected:
    // For subclasses: the class name the run-time reports for them.
    NSView(std::string className, NSRect frame) : className_(std::move(className)), frame_(frame) {}

private:
    std::string className_;
    NSRect frame_;
    bool translatesAutoresizingMask_ = true;
    std::weak_ptr<NSView> superview_;
    std::vector<std::shared_ptr<NSView>> subviews_;
    std::vector<std::shared_ptr<NSLayoutConstraint>> constraints_;
};

enum NSLayoutAttribute : long {
    NSLayoutAttributeNotAnAttribute = 0,
    NSLayoutAttributeLeft = 1,
    NSLayoutAttributeRight = 2,
    NSLayoutAttributeTop = 3,
    NSLayoutAttributeBottom = 4,
    NSLayoutAttributeLeading = 5,
    NSLayoutAttributeTrailing = 6,
    NSLayoutAttributeWidth = 7,
    NSLayoutAttributeHeight = 8,
    NSLayoutAttributeCenterX = 9,
    NSLayoutAttributeCenterY = 10,
    NSLayoutAttributeLastBaseline = 11,
    NSLayoutAttributeFirstBaseline = 12,
};

enum NSLayoutRelation : long {
    NSLayoutRelationLessThanOrEqual = -1,
    NSLayoutRelationEqual = 0,
    NSLayoutRelationGreaterThanOrEqual = 1,
};

using NSLayoutFormatOptions = unsigned long;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLeft = 1UL << NSLayoutAttributeLeft;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllCenterX = 1UL << NSLayoutAttributeCenterX;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllCenterY = 1UL << NSLayoutAttributeCenterY;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLastBaseline = 1UL << NSLayoutAttributeLastBaseline;

class PLATFORM_APPKIT_API NSLayoutConstraint {
public:
    using Views = std::map<std::string, std::shared_ptr<NSView>>;
    using Metrics = std::map<std::string, double>;

    // constraintsWithVisualFormat:options:metrics:views: (metrics may be
    // null). Gives one constraint that keeps the format, its options and the
    // views it names. Throws NSInvalidArgumentException when the format
    // names a view that is not in `views`, has a bracket that does not
    // close, or uses "|" beside a view that has no superview.
    static std::vector<std::shared_ptr<NSLayoutConstraint>> constraintsWithVisualFormat(
        std::string_view format, NSLayoutFormatOptions options, const Metrics* metrics, const Views& views);

    // constraintWithItem:attribute:relatedBy:toItem:attribute:multiplier:constant:
    // (the second item may be null, for a constant width or height).
    static std::shared_ptr<NSLayoutConstraint> constraintWithItem(
        const std::shared_ptr<NSView>& firstItem, NSLayoutAttribute firstAttribute, NSLayoutRelation relation,
        const std::shared_ptr<NSView>& secondItem, NSLayoutAttribute secondAttribute, double multiplier,
        double constant);

    // Empty for a constraint made from items.
    const std::string& visualFormat() const noexcept { return format_; }
    NSLayoutFormatOptions options() const noexcept { return options_; }
    // The views the format names, by their names in the format.
    const std::map<std::string, std::weak_ptr<NSView>>& views() const noexcept { return views_; }

    std::shared_ptr<NSView> firstItem() const { return firstItem_.lock(); }
    NSLayoutAttribute firstAttribute() const noexcept { return firstAttribute_; }
    NSLayoutRelation relation() const noexcept { return relation_; }
    std::shared_ptr<NSView> secondItem() const { return secondItem_.lock(); }
    NSLayoutAttribute secondAttribute() const noexcept { return secondAttribute_; }
    double multiplier() const noexcept { return multiplier_; }
    double constant() const noexcept { return constant_; }

private:
    std::string format_;
    NSLayoutFormatOptions options_ = 0;
    std::map<std::string, std::weak_ptr<NSView>> views_;
    std::weak_ptr<NSView> firstItem_;
    NSLayoutAttribute firstAttribute_ = NSLayoutAttributeNotAnAttribute;
    NSLayoutRelation relation_ = NSLayoutRelationEqual;
    std::weak_ptr<NSView> secondItem_;
    NSLayoutAttribute secondAttribute_ = NSLayoutAttributeNotAnAttribute;
    double multiplier_ = 1.0;
    double constant_ = 0.0;
};

}  // namespace platform::appkit
