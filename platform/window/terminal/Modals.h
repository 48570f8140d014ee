// The boxes that take the whole keyboard until they are answered: an alert, the opened list of
// a pop-up button, and the file prompt that stands in for the open panel.
#pragma once

#include <QComboBox>
#include <QPointer>
#include <string>
#include <vector>

#include "platform/window/terminal/Drawing.h"
#include "platform/window/terminal/ScreenLayout.h"

class Modal {
public:
    virtual ~Modal() = default;
    virtual void draw() = 0;
    virtual void handle(const Key& key) = 0;
    // Shows the text cursor where typing goes; default: hidden.
    virtual void placeCursor() { curs_set(0); }

    bool finished() const { return finished_; }
    int result() const { return result_; }
    void finish(int result) {
        finished_ = true;
        result_ = result;
    }

private:
    bool finished_ = false;
    int result_ = 0;
};

// Title, message as plain text, the default button (answer 1), an alternate (0) and another
// (-1) when given. Escape answers as the alternate button, or as the default where there is
// none, as the window's alert box does.
class AlertBox : public Modal {
public:
    AlertBox(std::wstring title, std::wstring message, std::wstring defaultButton,
             const std::wstring* alternateButton, const std::wstring* otherButton);
    void draw() override;
    void handle(const Key& key) override;

private:
    struct Button {
        std::wstring label;
        int answer;
        CellRect rect;
    };
    std::wstring title_;
    std::wstring message_;
    std::vector<Button> buttons_;
    size_t focus_ = 0;
};

// The items of a pop-up button under (or over) the button; the result is the chosen
// position, or -1 when the list was closed without a choice.
class ListPopup : public Modal {
public:
    ListPopup(QComboBox* box, CellRect anchor);
    void draw() override;
    void handle(const Key& key) override;

private:
    CellRect frame() const;
    QPointer<QComboBox> box_;
    CellRect anchor_;
    int current_;
    int top_ = 0;
};

// A path prompt that starts in the folder, listing it. Typing filters the list, the arrows pick
// from it, Tab completes names, Enter on a folder lists it and on anything else chooses it.
// Result 1 with chosen() set, or 0 (Escape).
class FilePrompt : public Modal {
public:
    explicit FilePrompt(const std::string& directory);
    void draw() override;
    void handle(const Key& key) override;
    void placeCursor() override;
    const std::string& chosen() const { return chosen_; }

private:
    struct Entry {
        std::string name;  // the bytes the folder holds
        bool folder;
    };
    std::string expanded() const;
    void refresh();
    void setInput(std::wstring input);
    void complete();
    void accept();
    void choose(const std::string& path);
    void type(wchar_t c);
    void drawList(int y, int x, int right, int rows);

    std::string directory_;
    std::wstring input_;
    size_t cursor_ = 0;
    std::string folder_;  // of the typed path, as listed
    std::vector<Entry> entries_;
    int selected_ = -1;  // in entries_; -1: the typed path
    int top_ = 0;
    int listRows_ = 1;
    std::wstring note_;
    std::string chosen_;
    int cursorY_ = 0;
    int cursorX_ = 0;
};
