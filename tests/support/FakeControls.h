// Plain controls for unit tests of the form: a container view that finds children by tag,
// pop-up lists, buttons and text fields that just hold their value.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/window/AppKit.h"

class FakeView : public NSView {
public:
    explicit FakeView(long tag = 0) : tag_(tag) {}
    NSView* superview() override { return parent_; }
    NSView* viewWithTag(long tag) override;
    long tag() { return tag_; }
    // Adds a child; the container owns it.
    template <typename T, typename... Args>
    T* add(Args&&... args) {
        auto child = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = child.get();
        raw->parent_ = this;
        children_.push_back(std::move(child));
        return raw;
    }

protected:
    long tag_;
    FakeView* parent_ = nullptr;
    std::vector<std::unique_ptr<NSView>> children_;
    template <typename>
    friend class FakeControl;
};

// A control that lives in a FakeView; T is the control interface it implements.
template <typename T>
class FakeControl : public T {
public:
    explicit FakeControl(long tag = 0) : tag_(tag) {}
    NSView* superview() override { return parent_; }
    NSView* viewWithTag(long tag) override { return tag == tag_ ? this : nullptr; }
    long tag() { return tag_; }
    FakeView* parent_ = nullptr;

private:
    long tag_;
};

class FakePopUp : public FakeControl<NSPopUpButton> {
public:
    explicit FakePopUp(long tag = 0, int items = 16) : FakeControl(tag), items_(items) {}
    // Like a real list, any position is accepted; a position outside the items selects none.
    void selectItemAtIndex(int index) override {
        selected = (index >= 0 && index < items_) ? index : -1;
        lastSelected = index;
    }
    int indexOfSelectedItem() override { return selected; }
    int selected = -1;
    int lastSelected = -2;  // the raw position last passed, to see what the form asked for

private:
    int items_;
};

class FakeButton : public FakeControl<NSButton> {
public:
    explicit FakeButton(long tag = 0) : FakeControl(tag) {}
    void setState(int s) override { value = s; }
    int state() override { return value; }
    int value = 0;
};

class FakeTextField : public FakeControl<NSTextField> {
public:
    explicit FakeTextField(long tag = 0) : FakeControl(tag) {}
    void setStringValue(const NSString& text) override { value = text.UTF8String(); }
    std::string value;
};
