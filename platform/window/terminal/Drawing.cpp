#include "platform/window/terminal/Drawing.h"

#include <cwchar>
#include <cwctype>

int DrawText(int y, int x, const std::wstring& text, int limit, attr_t attributes) {
    if (y < 0 || y >= LINES) return x;
    if (limit > COLS) limit = COLS;
    attron(attributes);
    for (wchar_t c : text) {
        // A control character would move the cursor or change the terminal's state.
        if (std::iswcntrl(static_cast<wint_t>(c))) continue;
        int width = wcwidth(c);
        if (width < 0) {
            c = L'?';
            width = 1;
        }
        if (x + width > limit) break;
        if (x >= 0) mvaddnwstr(y, x, &c, 1);
        x += width;
    }
    attroff(attributes);
    return x;
}

void DrawFrame(int y, int x, int height, int width, const std::wstring& title, attr_t attributes) {
    if (height < 2 || width < 2) return;
    attron(attributes);
    mvaddch(y, x, ACS_ULCORNER);
    mvhline(y, x + 1, ACS_HLINE, width - 2);
    mvaddch(y, x + width - 1, ACS_URCORNER);
    mvvline(y + 1, x, ACS_VLINE, height - 2);
    mvvline(y + 1, x + width - 1, ACS_VLINE, height - 2);
    mvaddch(y + height - 1, x, ACS_LLCORNER);
    mvhline(y + height - 1, x + 1, ACS_HLINE, width - 2);
    mvaddch(y + height - 1, x + width - 1, ACS_LRCORNER);
    attroff(attributes);
    if (!title.empty()) DrawText(y, x + 2, L" " + title + L" ", x + width - 1, attributes | A_BOLD);
}

void FillRect(int y, int x, int height, int width) {
    for (int row = y; row < y + height; ++row) {
        if (row < 0 || row >= LINES) continue;
        for (int column = x; column < x + width && column < COLS; ++column) {
            if (column >= 0) mvaddch(row, column, ' ');
        }
    }
}

bool ReadKey(Key* key) {
    wint_t code = 0;
    const int kind = wget_wch(stdscr, &code);
    if (kind == ERR) return false;
    key->function = kind == KEY_CODE_YES;
    key->code = code;
    if (key->isKey(KEY_MOUSE) && getmouse(&key->mouse) != OK) key->mouse = MEVENT{};
    return true;
}
