// The main window on the terminal: a title line, the window's controls in their groups, and a
// line that says which keys do what. The keyboard moves a focus over the controls (Tab, the
// arrow keys), Space toggles, Enter opens a list or presses a button, a button's underlined
// letter presses it, F10 closes the window as its close box does. The mouse clicks controls.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "platform/window/terminal/Drawing.h"
#include "platform/window/terminal/Modals.h"
#include "platform/window/terminal/ScreenLayout.h"

class MainScreen {
public:
    using RunModal = std::function<int(Modal&)>;
    MainScreen(QWidget* window, RunModal runModal, bool unicode);

    void draw();
    void handle(const Key& key);

    // The keys that close the window, as the bottom line names them.
    static bool isCloseKey(const Key& key);

private:
    CellRect area() const;
    ScreenLayout everything() const;
    std::vector<std::wstring> helpLines() const;
    bool reachable(QWidget* widget) const;
    std::set<QWidget*> beyondScreen(const ScreenLayout& layout) const;
    std::vector<QWidget*> focusChain() const;
    QWidget* focusWidget();
    void drawNode(const LayoutNode& node);
    void drawControl(const LayoutNode& node);
    void drawScrollMarks(const ScreenLayout& layout);
    void moveFocus(int step);
    void moveSpatially(int dx, int dy);
    void activate(QWidget* widget);
    bool pressMnemonic(wchar_t letter);
    void assignMnemonics(const std::vector<PlacedControl>& controls);

    QPointer<QWidget> window_;
    RunModal runModal_;
    bool unicode_;
    QPointer<QWidget> focus_;
    ScrollPlace scroll_;
    std::vector<PlacedControl> shown_;       // as last drawn
    std::map<QWidget*, wchar_t> mnemonics_;  // push button -> its letter (lower case)
    std::set<QWidget*> outOfReach_;          // as last drawn
};
