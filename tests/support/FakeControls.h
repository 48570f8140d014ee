// Plain controls for unit tests of the form: pop-up lists, buttons and text fields that just
// hold their value, in no container.
#pragma once

#include <string>

#include "platform/window/AppKit.h"

template <typename T>
class FakeControl : public T {
public:
    NSView* superview() override { return nullptr; }
    NSView* viewWithTag(long) override { return nullptr; }
};

class FakePopUp : public FakeControl<NSPopUpButton> {
public:
    explicit FakePopUp(int items = 11) : items_(items) {}
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
    void setState(int s) override { value = s; }
    int state() override { return value; }
    int value = 0;
};

class FakeTextField : public FakeControl<NSTextField> {
public:
    void setStringValue(const NSString& text) override { value = text.UTF8String(); }
    std::string value;
};
