// Window-system stand-in: the controls the utility talks to, alerts, the open panel, the
// application object, and the program entry that loads the main window description. The
// utility sees controls only through these interfaces; the Qt backend implements them over
// widgets, and tests implement them with plain objects.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Foundation.h"
#include "platform/window/ExitCleanup.h"
#include "platform/window/ExitStatus.h"

class NSView : public NSObject {
public:
    // The view that directly encloses this one, or null.
    virtual NSView* superview() = 0;
    // The first view carrying the tag in this view or anywhere beneath it, or null.
    virtual NSView* viewWithTag(long tag) = 0;
};

class NSControl : public NSView {};

// A pop-up list; positions count from 0, -1 means no item is selected.
class NSPopUpButton : public NSControl {
public:
    virtual void selectItemAtIndex(int index) = 0;
    virtual int indexOfSelectedItem() = 0;
};

// A check box or one button of a group of mutually exclusive buttons: state 1 on, 0 off.
class NSButton : public NSControl {
public:
    virtual void setState(int state) = 0;
    virtual int state() = 0;
};

class NSTextField : public NSControl {
public:
    virtual void setStringValue(const NSString& text) = 0;
};

class NSWindow : public NSObject {};

enum { NSCancelButton = 0, NSOKButton = 1 };

// A modal alert: title, message shown as plain text (never a format, never rich text), a
// default button, an alternate button or null, an other button or null, and an informative
// text shown beneath the message (none when empty). Returns 1 for the default button, 0 for
// the alternate button, -1 for the other button.
int NSRunAlertPanel(const NSString& title, const NSString& message, const char* defaultButton,
                    const char* alternateButton, const char* otherButton,
                    const NSString& informativeText = NSString());

class NSOpenPanel : public NSObject {
public:
    static NSOpenPanel* openPanel();
    // Runs the panel modally, starting in the directory; file preselects a name (may be null);
    // types restricts the files offered (null: any file). Returns NSOKButton or NSCancelButton.
    int runModalForDirectory(const NSString& directory, const NSString* file,
                             const std::vector<NSString>* types);
    // The chosen file's full path after NSOKButton.
    NSString filename() const { return filename_; }

private:
    NSString filename_;
};

class NSApplication : public NSObject {
public:
    // Ends the program at once with the exit status (ExitStatus.h); nothing after it runs.
    [[noreturn]] void terminate(id sender, int exitStatus);
    void stopModal();
    void abortModal();
};
extern NSApplication* NSApp;

// Loads the main window description, creates the controller it names, connects its outlets
// and actions, makes it the window's delegate, sends it awakeFromNib once and runs the event
// loop. Without a display it says so in one line and returns non-zero.
int NSApplicationMain(int argc, char** argv);

// How the window layer knows the controller class: the outlets it can connect by object name,
// the actions it can send, its delegate answer to a close request and its awakeFromNib.
struct NibClassDescription {
    std::string className;
    std::function<NSObject*()> allocInit;
    std::vector<std::pair<std::string, std::function<void(NSObject*, NSObject*)>>> outlets;
    std::vector<std::pair<std::string, std::function<void(NSObject*, NSObject*)>>> actions;
    std::function<int(NSObject*, NSObject*)> windowShouldClose;
    std::function<void(NSObject*)> awakeFromNib;
    // What the batch mode reads that no control shows: the configuration record the controller
    // holds, and the whole flash read anew from the card (false when the card refused a chunk).
    std::function<std::vector<uint8_t>(NSObject*)> configurationRecord;
    std::function<bool(NSObject*, std::vector<uint8_t>*)> readFlash;
    // Shows a configuration record in the form as the card's is shown, the controller keeping
    // the card's record (a record copy brought back by import).
    std::function<void(NSObject*, const std::vector<uint8_t>&)> showRecord;
};
void NSRegisterNibClass(NibClassDescription description);

// What shows the user's part to a person: the window's dialogs (QtBackend) or the terminal's
// (TerminalBackend). When no person takes part, the automation layer is put over it
// (platform/window/automation/AutomatedBackend.h); tests install their own.
class NSApplicationBackend {
public:
    virtual ~NSApplicationBackend() = default;
    // The informative text is empty when the alert has none.
    virtual int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                         const char* alternateButton, const char* otherButton,
                         const NSString& informativeText) = 0;
    // Returns NSOKButton with *chosen set, or NSCancelButton.
    virtual int runOpenPanel(const NSString& directory, const NSString* file,
                             const std::vector<NSString>* types, NSString* chosen) = 0;
    // Ends the program with `exitStatus`, after the exit cleanups; by the signal instead when a
    // hang-up or interrupt arrived meanwhile, so the shell hears of it.
    [[noreturn]] virtual void terminate(int exitStatus);
    virtual void stopModal() = 0;
    virtual void abortModal() = 0;
};
// Installs a backend; returns the previous one. Null restores the default.
NSApplicationBackend* NSApplicationSetBackend(NSApplicationBackend* backend);
