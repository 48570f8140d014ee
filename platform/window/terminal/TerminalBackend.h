// The terminal backend of the window layer: the main window drawn and driven in the terminal,
// alerts as boxes with the same title, text, buttons and answers, the open panel as a file
// prompt. The window's widgets stay real (on Qt's offscreen platform), so the controller, its
// outlets, tags, actions and close handling, are the same code as in the window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/window/AppKit.h"
#include "platform/window/terminal/MainScreen.h"
#include "platform/window/terminal/Modals.h"

class TerminalBackend : public QObject, public NSApplicationBackend {
public:
    TerminalBackend();
    ~TerminalBackend() override;

    // Takes the terminal and shows the window there; false with *error set when it cannot.
    bool start(QWidget* window, std::string* error);
    // Gives the terminal back as it was.
    void stop();

    int runAlert(const NSString& title, const NSString& message, const char* defaultButton,
                 const char* alternateButton, const char* otherButton,
                 const NSString& informativeText) override;
    int runOpenPanel(const NSString& directory, const NSString* file,
                     const std::vector<NSString>* types, NSString* chosen) override;
    void stopModal() override;
    void abortModal() override;

protected:
    // A repaint of the window's widgets means something changed: draw the screen again.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int runModal(Modal& modal);
    void redraw();
    void repaintAll();
    void scheduleRedraw();
    void readMainKeys();
    void takeSignals();
    void hangUp();
    void setNotifiersEnabled(bool enabled);

    QPointer<QWidget> window_;
    std::unique_ptr<MainScreen> main_;
    std::vector<Modal*> modals_;
    std::unique_ptr<QSocketNotifier> input_;
    std::unique_ptr<QSocketNotifier> signals_;
    bool redrawPending_ = false;
    int drawnRows_ = 0;
    int drawnColumns_ = 0;
};
