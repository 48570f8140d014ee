// The main window's controls without widgets, for the batch mode: the same interfaces the
// utility sees, holding their values in memory. A list holds as many items as the window's.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/window/AppKit.h"

class MemoryView : public NSView {
public:
    NSView* superview() override { return superview_; }
    NSView* viewWithTag(long tag) override;
    long tag = -1;
    NSView* superview_ = nullptr;
    std::vector<NSView*> subviews;
};

class MemoryPopUp : public NSPopUpButton {
public:
    explicit MemoryPopUp(int items) : items_(items) {}
    NSView* superview() override { return superview_; }
    NSView* viewWithTag(long t) override { return t == tag ? this : nullptr; }
    // Like the window's list: a position past the items selects nothing.
    void selectItemAtIndex(int index) override {
        selected_ = index >= 0 && index < items_ ? index : -1;
    }
    int indexOfSelectedItem() override { return selected_; }
    long tag = -1;
    NSView* superview_ = nullptr;

private:
    int items_;
    int selected_ = -1;
};

class MemoryButton : public NSButton {
public:
    NSView* superview() override { return superview_; }
    NSView* viewWithTag(long t) override { return t == tag ? this : nullptr; }
    void setState(int state) override { state_ = state != 0 ? 1 : 0; }
    int state() override { return state_; }
    long tag = -1;
    NSView* superview_ = nullptr;

private:
    int state_ = 0;
};

class MemoryTextField : public NSTextField {
public:
    NSView* superview() override { return superview_; }
    NSView* viewWithTag(long) override { return nullptr; }
    void setStringValue(const NSString& text) override { text_ = text; }
    const NSString& text() const { return text_; }
    NSView* superview_ = nullptr;

private:
    NSString text_;
};

// The window's controls by object name, the per-target ones by tag under one container.
class MemoryWindow {
public:
    MemoryWindow();
    NSObject* outlet(const std::string& name) const;
    MemoryPopUp* list(const std::string& name) const;
    MemoryButton* button(const std::string& name) const;
    MemoryTextField* field(const std::string& name) const;
    MemoryPopUp* listWithTag(long tag) const;
    MemoryButton* buttonWithTag(long tag) const;

private:
    MemoryView container_;
    NSWindow window_;
    std::map<std::string, std::unique_ptr<NSObject>> named_;
    std::map<long, std::unique_ptr<NSView>> tagged_;
};
