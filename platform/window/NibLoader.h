// Loading the main window description and bringing its owner to life: the controller class
// named by the window's `nibOwner` property is looked up among the registered class
// descriptions, created, given its outlets (widgets whose object names are the outlet names),
// wired to the buttons whose `action` property names one of its actions, and made the
// window's delegate for close requests.
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/window/AppKit.h"

// The main window description (resources/MainWindow.ui, a Qt Designer form), compiled into
// the program.
inline constexpr char kMainWindowDescription[] = "MainWindow.ui";

// Installs the main window's texts for the language the bundle's string table speaks, so the
// window and its alerts share one language; windows built later use them. False when the
// window stays in its own English.
bool InstallWindowTexts(const std::string& translationsDir);

// The window built from the named description compiled into the program, or null with *error
// set when the program holds no description of that name.
std::unique_ptr<QWidget> LoadWindowDescription(const QString& name, QString* error);

// The registered description of the class, or null.
const NibClassDescription* FindNibClass(const std::string& className);

// The controller of a loaded window, connected to it.
class NibOwner : public QObject {
public:
    // Creates the owner that the window's `nibOwner` property names and connects it; null with
    // *error set when no such class is registered.
    static std::unique_ptr<NibOwner> instantiate(QWidget* window, QString* error);

    NSObject* object() const { return object_; }
    // The outlets that were connected, in the order of the class description.
    const std::vector<std::string>& connectedOutlets() const { return connected_; }
    void awakeFromNib();

protected:
    // Asks the owner before the window closes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    NibOwner(QWidget* window, const NibClassDescription& description);
    void connectOutlets();
    void connectActions();

    QWidget* window_;
    const NibClassDescription& description_;
    NSObject* object_;
    std::vector<std::string> connected_;
};
