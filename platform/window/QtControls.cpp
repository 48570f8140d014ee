#include "platform/window/QtControls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QVariant>
#include <map>
#include <memory>

namespace {

// The three view operations, shared by every kind of control.
template <typename Base>
class WidgetView : public Base {
public:
    explicit WidgetView(QWidget* widget) : widget_(widget) {}
    QWidget* widget() const { return widget_; }

    NSView* superview() override {
        if (widget_->isWindow()) return nullptr;
        return NSViewForWidget(widget_->parentWidget());
    }
    NSView* viewWithTag(long tag) override { return NSViewForWidget(WidgetWithTag(widget_, tag)); }

protected:
    QWidget* widget_;
};

class PlainView : public WidgetView<NSView> {
public:
    using WidgetView::WidgetView;
};

class PopUpButton : public WidgetView<NSPopUpButton> {
public:
    explicit PopUpButton(QComboBox* box) : WidgetView(box), box_(box) {}
    // Qt ignores a position past the items; the platform selects nothing there, and so do we.
    void selectItemAtIndex(int index) override {
        box_->setCurrentIndex(index >= 0 && index < box_->count() ? index : -1);
    }
    int indexOfSelectedItem() override { return box_->currentIndex(); }

private:
    QComboBox* box_;
};

class Button : public WidgetView<NSButton> {
public:
    explicit Button(QAbstractButton* button) : WidgetView(button), button_(button) {}
    void setState(int state) override {
        if (state != 0) {
            button_->setChecked(true);
            return;
        }
        // An auto-exclusive button refuses to turn itself off; the utility sets every button
        // of a group explicitly, so drop the exclusivity for the moment of the change.
        bool exclusive = button_->autoExclusive();
        button_->setAutoExclusive(false);
        button_->setChecked(false);
        button_->setAutoExclusive(exclusive);
    }
    int state() override { return button_->isChecked() ? 1 : 0; }

private:
    QAbstractButton* button_;
};

class TextField : public WidgetView<NSTextField> {
public:
    explicit TextField(QLineEdit* edit) : WidgetView(edit), edit_(edit) {}
    void setStringValue(const NSString& text) override {
        edit_->setText(QString::fromStdU16String(text.units()));
        edit_->setCursorPosition(0);  // show the start of a long text
    }

private:
    QLineEdit* edit_;
};

class Window : public NSWindow {
public:
    explicit Window(QWidget* widget) : widget_(widget) {}
    QWidget* widget() const { return widget_; }

private:
    QWidget* widget_;
};

std::unique_ptr<NSView> MakeView(QWidget* widget) {
    if (auto* box = qobject_cast<QComboBox*>(widget)) return std::make_unique<PopUpButton>(box);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return std::make_unique<Button>(button);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return std::make_unique<TextField>(edit);
    return std::make_unique<PlainView>(widget);
}

// Owns the wrappers, one view (and for a window one window object) per widget.
class WidgetWrappers {
public:
    static WidgetWrappers& shared() {
        static WidgetWrappers wrappers;
        return wrappers;
    }

    NSView* viewFor(QWidget* widget) {
        Entry& entry = entryFor(widget);
        if (!entry.view) entry.view = MakeView(widget);
        return entry.view.get();
    }
    NSWindow* windowFor(QWidget* widget) {
        Entry& entry = entryFor(widget);
        if (!entry.window) entry.window = std::make_unique<Window>(widget);
        return entry.window.get();
    }
    QWidget* widgetFor(NSObject* object) const {
        for (const auto& [widget, entry] : entries_) {
            if (entry.view.get() == object || entry.window.get() == object) return widget;
        }
        return nullptr;
    }

private:
    struct Entry {
        std::unique_ptr<NSView> view;
        std::unique_ptr<NSWindow> window;
    };

    Entry& entryFor(QWidget* widget) {
        auto found = entries_.find(widget);
        if (found != entries_.end()) return found->second;
        QObject::connect(widget, &QObject::destroyed, [this, widget] { entries_.erase(widget); });
        return entries_[widget];
    }

    std::map<QWidget*, Entry> entries_;
};

}  // namespace

NSView* NSViewForWidget(QWidget* widget) {
    return widget == nullptr ? nullptr : WidgetWrappers::shared().viewFor(widget);
}

NSWindow* NSWindowForWidget(QWidget* widget) {
    if (widget == nullptr || !widget->isWindow()) return nullptr;
    return WidgetWrappers::shared().windowFor(widget);
}

NSObject* NSOutletObjectForWidget(QWidget* widget) {
    if (widget != nullptr && widget->isWindow()) return NSWindowForWidget(widget);
    return NSViewForWidget(widget);
}

QWidget* WidgetForObject(NSObject* object) {
    return object == nullptr ? nullptr : WidgetWrappers::shared().widgetFor(object);
}

long WidgetTag(const QWidget* widget) {
    QVariant tag = widget->property("tag");
    bool ok = false;
    long value = static_cast<long>(tag.toLongLong(&ok));
    return ok ? value : 0;
}

QWidget* WidgetWithTag(QWidget* root, long tag) {
    if (root == nullptr) return nullptr;
    if (WidgetTag(root) == tag) return root;
    for (QObject* child : root->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == nullptr || widget->isWindow()) continue;
        if (QWidget* found = WidgetWithTag(widget, tag)) return found;
    }
    return nullptr;
}

std::optional<std::string> ControlValueText(QWidget* widget) {
    if (auto* box = qobject_cast<QComboBox*>(widget)) return std::to_string(box->currentIndex());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return std::string(button->isChecked() ? "1" : "0");
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
    return std::nullopt;
}
