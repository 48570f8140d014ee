// What takes the user's part when no person does. It answers the questions that the backend
// would otherwise show (alerts and the open panel) and hears of the program's life around
// them. AutomatedBackend puts it over whichever backend runs, so that the backends themselves
// only ever show questions to a person; the program's start chooses it (ApplicationMain.cpp,
// ChooseAutomatedUser), the one place where a new kind of automated user plugs in.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

class AutomatedUser {
public:
    virtual ~AutomatedUser() = default;

    // The button an alert is answered with: 1 the default, 0 the alternate, -1 the other.
    // `defaultButton` is never null; `alternateButton` and `otherButton` are null when the alert
    // has no such button; the informative text stands beneath the message (empty when none).
    virtual int answerAlert(const std::string& title, const std::string& message,
                            const char* defaultButton, const char* alternateButton,
                            const char* otherButton, const std::string& informativeText) = 0;
    // NSOKButton with *chosen set to the file's path, or NSCancelButton.
    virtual int answerPanel(const std::string& directory, std::string* chosen) = 0;

    // The main window is loaded; its controller's outlets are named in their order.
    virtual void attach(QWidget* /*window*/, std::vector<std::string> /*outletNames*/) {}
    // The controller has started and the event loop is about to run.
    virtual void start() {}
    // The program ends by terminate, or its event loop has ended without one.
    virtual void recordTerminate() {}
    virtual void recordEnd() {}
};
