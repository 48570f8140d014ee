#include "platform/window/terminal/MainScreen.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <climits>
#include <cstdlib>
#include <cwctype>
#include <optional>

namespace {

constexpr int kCtrlW = 23;
// Plenty of cells: the layout for moving by direction places every control, scrolled or not.
constexpr int kUnbounded = 100000;

bool Focusable(QWidget* widget) {
    return widget->isEnabled() && (qobject_cast<QComboBox*>(widget) != nullptr ||
                                   qobject_cast<QAbstractButton*>(widget) != nullptr);
}

// The letter a button text marks with '&', or 0.
wchar_t MarkedLetter(const QString& text) {
    const int at = text.indexOf(QLatin1Char('&'));
    if (at < 0 || at + 1 >= text.size() || text[at + 1] == QLatin1Char('&')) return 0;
    return static_cast<wchar_t>(text[at + 1].toLower().unicode());
}

std::wstring Title(QWidget* window) {
    return window->windowTitle().toStdWString();
}

}  // namespace

MainScreen::MainScreen(QWidget* window, RunModal runModal, bool unicode)
    : window_(window), runModal_(std::move(runModal)), unicode_(unicode) {}

bool MainScreen::isCloseKey(const Key& key) {
    return key.isKey(KEY_F(10)) || key.is(kCtrlW);
}

CellRect MainScreen::area() const {
    return {0, 1, COLS, std::max(1, LINES - 2)};
}

// Every control placed, none scrolled out of view: the order and geometry the keyboard uses.
ScreenLayout MainScreen::everything() const {
    ScrollPlace scroll;
    return ScreenLayout(window_, {0, 0, kUnbounded, kUnbounded}, nullptr, &scroll, unicode_);
}

std::vector<QWidget*> MainScreen::focusChain() const {
    const ScreenLayout all = everything();
    std::vector<QWidget*> chain;
    for (const PlacedControl& control : all.controls()) {
        if (reachable(control.widget)) chain.push_back(control.widget);
    }
    return chain;
}

// A control the screen is too small to show, and that no scrolling brings in, takes no focus
// and no key: nobody would see what it does.
bool MainScreen::reachable(QWidget* widget) const {
    return Focusable(widget) && outOfReach_.count(widget) == 0;
}

std::set<QWidget*> MainScreen::beyondScreen(const ScreenLayout& layout) const {
    const CellRect shown = area();
    std::set<QWidget*> beyond;
    for (const PlacedControl& control : layout.controls()) {
        const CellRect& r = control.rect;
        if (r.y + r.height > shown.y + shown.height || r.x + r.width > shown.x + shown.width) {
            beyond.insert(control.widget);
        }
    }
    return beyond;
}

QWidget* MainScreen::focusWidget() {
    if (focus_ && reachable(focus_)) return focus_;
    const std::vector<QWidget*> chain = focusChain();
    focus_ = chain.empty() ? nullptr : chain.front();
    return focus_;
}

void MainScreen::draw() {
    if (!window_) return;
    std::optional<ScreenLayout> placed;
    placed.emplace(window_, area(), focusWidget(), &scroll_, unicode_);
    outOfReach_ = beyondScreen(*placed);
    if (focus_ && !reachable(focus_))
        placed.emplace(window_, area(), focusWidget(), &scroll_, unicode_);
    const ScreenLayout& layout = *placed;
    shown_ = layout.controls();
    assignMnemonics(shown_);
    const attr_t bar = has_colors() ? COLOR_PAIR(1) | A_BOLD : A_REVERSE;
    attron(bar);
    mvhline(0, 0, ' ', COLS);
    attroff(bar);
    const std::vector<std::wstring> help = helpLines();
    // What closing does sits at the right of the title bar, where a window has its close box;
    // the title stays centred unless the two would meet.
    const std::wstring title = Title(window_);
    const int closeX = std::max(0, COLS - TextCells(help[0]));
    int titleX = std::max(0, (COLS - TextCells(title)) / 2);
    if (titleX + TextCells(title) >= closeX) titleX = std::max(0, std::min(titleX, 1));
    DrawText(0, titleX, title, COLS, bar);
    if (titleX + TextCells(title) < closeX) DrawText(0, closeX, help[0], COLS, bar);
    drawNode(layout.root());
    drawScrollMarks(layout);
    attron(A_REVERSE);
    mvhline(LINES - 1, 0, ' ', COLS);
    attroff(A_REVERSE);
    DrawText(LINES - 1, 0, help[1], COLS, A_REVERSE);
}

// What closing does, then the keys, in the window's language; the buttons' letters as this
// language marks them.
std::vector<std::wstring> MainScreen::helpLines() const {
    QString letters;
    for (const PlacedControl& control : shown_) {
        auto mnemonic = mnemonics_.find(control.widget);
        if (mnemonic == mnemonics_.end()) continue;
        if (!letters.isEmpty()) letters += QLatin1Char(' ');
        letters += QChar(static_cast<char16_t>(mnemonic->second)).toUpper();
    }
    const QString arrows =
        unicode_ ? QStringLiteral("←↑↓→") : QCoreApplication::translate("Terminal", "arrows");
    std::vector<std::wstring> lines = {
        QCoreApplication::translate("Terminal",
                                    "F10/Ctrl-W close: stores the form on the card · Ctrl-C quit")
                .toStdWString() +
            L" ",
        QCoreApplication::translate(
            "Terminal", "Tab/%1 move · Space toggle · Enter open/press · %2 · Esc cancel")
            .arg(arrows, letters)
            .toStdWString(),
    };
    lines[1] = L" " + lines[1];
    // No button within reach: no letters to name.
    if (letters.isEmpty()) {
        const size_t empty = lines[1].find(L" ·  · ");
        if (empty != std::wstring::npos) lines[1].replace(empty, 6, L" · ");
    }
    for (std::wstring& line : lines) {
        if (unicode_) continue;
        for (size_t at = line.find(L" · "); at != std::wstring::npos; at = line.find(L" · ")) {
            line.replace(at, 3, L", ");
        }
    }
    return lines;
}

void MainScreen::drawNode(const LayoutNode& node) {
    if (!node.shown) return;
    switch (node.kind) {
        case LayoutNode::Kind::group:
            DrawFrame(node.rect.y, node.rect.x, node.rect.height, node.rect.width,
                      qobject_cast<QGroupBox*>(node.widget)
                          ->title()
                          .replace(QLatin1String("&&"), QLatin1String("\x01"))
                          .remove(QLatin1Char('&'))
                          .replace(QLatin1Char('\x01'), QLatin1Char('&'))
                          .toStdWString());
            break;
        case LayoutNode::Kind::label: {
            std::wstring text = PlainLabelText(node.widget);
            int row = node.rect.y;
            size_t start = 0;
            while (true) {
                size_t newline = text.find(L'\n', start);
                DrawText(row++, node.rect.x, text.substr(start, newline - start),
                         node.rect.x + node.rect.width, A_NORMAL);
                if (newline == std::wstring::npos) break;
                start = newline + 1;
            }
            break;
        }
        case LayoutNode::Kind::separator:
            mvvline(node.rect.y, node.rect.x, ACS_VLINE, node.rect.height);
            break;
        case LayoutNode::Kind::control:
            drawControl(node);
            break;
        default:
            break;
    }
    for (const LayoutNode& child : node.children) drawNode(child);
}

void MainScreen::drawControl(const LayoutNode& node) {
    QWidget* widget = node.widget;
    const std::wstring text = ControlText(widget, node.width, unicode_);
    attr_t attributes = A_NORMAL;
    if (widget == focus_) attributes |= A_REVERSE;
    if (!widget->isEnabled()) attributes |= A_DIM;
    if (qobject_cast<QLineEdit*>(widget) != nullptr) attributes |= A_UNDERLINE;
    const int limit = node.rect.x + node.width;
    DrawText(node.rect.y, node.rect.x, text, limit, attributes);
    auto mnemonic = mnemonics_.find(widget);
    if (mnemonic == mnemonics_.end()) return;
    // Underline the button's letter in its text ("[ Default ]": the D).
    const std::wstring label = text.substr(2);
    for (size_t i = 0; i < label.size(); ++i) {
        if (static_cast<wchar_t>(std::towlower(label[i])) == mnemonic->second) {
            DrawText(node.rect.y, node.rect.x + 2 + TextCells(label.substr(0, i)),
                     label.substr(i, 1), limit, attributes | A_UNDERLINE | A_BOLD);
            break;
        }
    }
}

void MainScreen::drawScrollMarks(const ScreenLayout& layout) {
    const LayoutNode* grid = layout.scrollingGrid();
    if (grid == nullptr) return;
    const int x = grid->rect.x + grid->width;
    int firstY = INT_MAX, lastY = -1;
    for (const LayoutNode& child : grid->children) {
        if (!child.shown || child.gridRow == 0) continue;
        firstY = std::min(firstY, child.rect.y);
        lastY = std::max(lastY, child.rect.y);
    }
    if (layout.rowsAbove() && lastY >= 0) {
        DrawText(firstY, x, unicode_ ? L"▲" : L"^", COLS, A_BOLD);
    }
    if (layout.rowsBelow() && lastY >= 0) {
        DrawText(lastY, x, unicode_ ? L"▼" : L"v", COLS, A_BOLD);
    }
    // Columns scrolled sideways: marks in the header row, beside the fixed first column and
    // at the right end.
    int fixedEnd = -1;
    for (const LayoutNode& child : grid->children) {
        if (child.shown && child.gridColumn == 0) {
            fixedEnd = std::max(fixedEnd, child.rect.x + child.rect.width);
        }
    }
    if (layout.columnsLeft() && fixedEnd >= 0) {
        DrawText(grid->rect.y, fixedEnd, unicode_ ? L"◀" : L"<", COLS, A_BOLD);
    }
    if (layout.columnsRight()) DrawText(grid->rect.y, x, unicode_ ? L"▶" : L">", COLS, A_BOLD);
}

// Push buttons answer to their '&' letter, else to the first letter of their text that no
// button before them took.
void MainScreen::assignMnemonics(const std::vector<PlacedControl>& controls) {
    mnemonics_.clear();
    std::vector<wchar_t> taken;
    auto take = [&](QWidget* widget, wchar_t letter) {
        mnemonics_[widget] = letter;
        taken.push_back(letter);
    };
    for (const PlacedControl& control : controls) {
        auto* button = qobject_cast<QPushButton*>(control.widget);
        if (button == nullptr || outOfReach_.count(button) != 0) continue;
        if (wchar_t marked = MarkedLetter(button->text())) {
            take(button, marked);
            continue;
        }
        for (QChar c : button->text()) {
            const auto letter = static_cast<wchar_t>(c.toLower().unicode());
            if (!c.isLetterOrNumber()) continue;
            if (std::find(taken.begin(), taken.end(), letter) != taken.end()) continue;
            take(button, letter);
            break;
        }
    }
}

void MainScreen::handle(const Key& key) {
    if (!window_) return;
    QWidget* focus = focusWidget();
    if (isCloseKey(key)) {
        window_->close();  // asks the controller first, as the close box does
    } else if (key.isTab()) {
        moveFocus(1);
    } else if (key.isBackTab()) {
        moveFocus(-1);
    } else if (key.isKey(KEY_UP)) {
        moveSpatially(0, -1);
    } else if (key.isKey(KEY_DOWN)) {
        moveSpatially(0, 1);
    } else if (key.isKey(KEY_LEFT)) {
        moveSpatially(-1, 0);
    } else if (key.isKey(KEY_RIGHT)) {
        moveSpatially(1, 0);
    } else if ((key.is(L' ') || key.isEnter()) && focus != nullptr) {
        activate(focus);
    } else if (key.isClick()) {
        QWidget* clicked = nullptr;
        for (const PlacedControl& control : shown_) {
            if (control.rect.contains(key.mouse.x, key.mouse.y) && Focusable(control.widget)) {
                clicked = control.widget;
            }
        }
        if (clicked != nullptr) {
            focus_ = clicked;
            activate(clicked);
        }
    } else if (!key.function && std::iswalnum(key.code)) {
        pressMnemonic(static_cast<wchar_t>(std::towlower(key.code)));
    }
}

void MainScreen::moveFocus(int step) {
    const std::vector<QWidget*> chain = focusChain();
    if (chain.empty()) return;
    auto at = std::find(chain.begin(), chain.end(), focus_.data());
    const long size = static_cast<long>(chain.size());
    long index = at == chain.end() ? 0 : (at - chain.begin()) + step;
    focus_ = chain[static_cast<size_t>(((index % size) + size) % size)];
}

// Moves to the nearest control in the direction, measured on a layout where every control has
// a place, so that moving past the last visible target row scrolls the rows.
void MainScreen::moveSpatially(int dx, int dy) {
    const ScreenLayout all = everything();
    const PlacedControl* current = nullptr;
    for (const PlacedControl& control : all.controls()) {
        if (control.widget == focus_) current = &control;
    }
    if (current == nullptr) return;
    const int cx = current->rect.x * 2 + current->rect.width;  // doubled centres
    const int cy = current->rect.y * 2 + current->rect.height;
    QWidget* best = nullptr;
    long bestScore = LONG_MAX;
    for (const PlacedControl& control : all.controls()) {
        if (control.widget == focus_ || !reachable(control.widget)) continue;
        const CellRect& r = control.rect;
        long along = 0, across = 0;
        if (dx != 0) {
            const bool ahead = dx > 0 ? r.x >= current->rect.x + current->rect.width
                                      : r.x + r.width <= current->rect.x;
            if (!ahead) continue;
            along = std::labs((r.x * 2 + r.width) - cx);
            across = std::labs((r.y * 2 + r.height) - cy);
        } else {
            const bool ahead = dy > 0 ? r.y >= current->rect.y + current->rect.height
                                      : r.y + r.height <= current->rect.y;
            if (!ahead) continue;
            along = std::labs((r.y * 2 + r.height) - cy);
            across = std::labs((r.x * 2 + r.width) - cx);
        }
        const long score = dx != 0 ? along + 4 * across : 2 * along + across;
        if (score < bestScore) {
            bestScore = score;
            best = control.widget;
        }
    }
    if (best != nullptr) focus_ = best;
}

void MainScreen::activate(QWidget* widget) {
    if (auto* box = qobject_cast<QComboBox*>(widget)) {
        CellRect anchor{0, 0, 10, 1};
        for (const PlacedControl& control : shown_) {
            if (control.widget == widget) anchor = control.rect;
        }
        ListPopup list(box, anchor);
        const int chosen = runModal_(list);
        if (chosen >= 0 && box && chosen != box->currentIndex()) {
            box->setCurrentIndex(chosen);
            emit box->activated(chosen);  // as a person's choice in the window would
        }
        return;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->click();
}

bool MainScreen::pressMnemonic(wchar_t letter) {
    QWidget* pressed = nullptr;
    for (const auto& [widget, mnemonic] : mnemonics_) {
        if (mnemonic == letter && widget->isEnabled()) pressed = widget;
    }
    if (pressed == nullptr) return false;
    // The press may redraw (an alert), which renews the letters: nothing of them is used after.
    focus_ = pressed;
    static_cast<QAbstractButton*>(pressed)->click();
    return true;
}
