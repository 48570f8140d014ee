// Small drawing helpers over curses: clipped text, framed boxes, keys read as one value.
#pragma once

#include <curses.h>

#include <string>

// Writes text at (x, y), clipped at column `limit` (exclusive); returns the column after it.
int DrawText(int y, int x, const std::wstring& text, int limit, attr_t attributes = A_NORMAL);
// A framed box with an optional title in its top edge.
void DrawFrame(int y, int x, int height, int width, const std::wstring& title,
               attr_t attributes = A_NORMAL);
// Blanks the rectangle.
void FillRect(int y, int x, int height, int width);

// One key press or mouse event, as curses reports it.
struct Key {
    bool function = false;  // a KEY_* code rather than a character
    wint_t code = 0;
    MEVENT mouse{};  // when function and code == KEY_MOUSE

    bool is(wint_t character) const { return !function && code == character; }
    bool isKey(int keyCode) const { return function && code == static_cast<wint_t>(keyCode); }
    bool isEnter() const { return is(L'\r') || is(L'\n') || isKey(KEY_ENTER); }
    bool isEscape() const { return is(27); }
    bool isBackspace() const { return isKey(KEY_BACKSPACE) || is(127) || is(8); }
    bool isTab() const { return is(L'\t'); }
    bool isBackTab() const { return isKey(KEY_BTAB); }
    bool isClick() const { return isKey(KEY_MOUSE) && (mouse.bstate & BUTTON1_PRESSED) != 0; }
};

// The next key, without waiting; false when none is pending.
bool ReadKey(Key* key);
