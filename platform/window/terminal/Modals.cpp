#include "platform/window/terminal/Modals.h"

#include <QString>
#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const std::string& utf8) {
    return QString::fromStdString(utf8).toStdWString();
}

std::string Utf8(const std::wstring& wide) {
    return QString::fromStdWString(wide).toStdString();
}

// Word-wraps the text to lines of at most `width` cells; newlines in the text are kept.
std::vector<std::wstring> Wrap(const std::wstring& text, int width) {
    std::vector<std::wstring> lines;
    std::wstring paragraph;
    auto flush = [&](const std::wstring& part) {
        std::wstring line;
        size_t start = 0;
        while (start <= part.size()) {
            size_t space = part.find(L' ', start);
            std::wstring word =
                part.substr(start, space == std::wstring::npos ? space : space - start);
            std::wstring candidate = line.empty() ? word : line + L" " + word;
            if (TextCells(candidate) <= width || line.empty()) {
                line = candidate;
            } else {
                lines.push_back(line);
                line = word;
            }
            // A single word wider than the box is cut into pieces.
            while (TextCells(line) > width && width > 0) {
                lines.push_back(line.substr(0, static_cast<size_t>(width)));
                line = line.substr(static_cast<size_t>(width));
            }
            if (space == std::wstring::npos) break;
            start = space + 1;
        }
        lines.push_back(line);
    };
    size_t start = 0;
    while (true) {
        size_t newline = text.find(L'\n', start);
        flush(text.substr(start, newline == std::wstring::npos ? newline : newline - start));
        if (newline == std::wstring::npos) break;
        start = newline + 1;
    }
    return lines;
}

// Line breaks as the window's alert shows them: "\r\n", "\r" and "\n" each end a line (so
// "\r\r" leaves a blank line); a tab is a space and other control characters show nothing.
std::wstring PlainLines(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            out += L'\n';
        } else if (c == L'\t') {
            out += L' ';
        } else if (c == L'\n' || !std::iswcntrl(static_cast<wint_t>(c))) {
            out += c;
        }
    }
    return out;
}

wchar_t Lower(wchar_t c) {
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

}  // namespace

// --- Alert ---------------------------------------------------------------------------------

AlertBox::AlertBox(std::wstring title, std::wstring message, std::wstring defaultButton,
                   const std::wstring* alternateButton, const std::wstring* otherButton)
    : title_(std::move(title)), message_(PlainLines(message)) {
    buttons_.push_back({std::move(defaultButton), 1, {}});
    if (alternateButton != nullptr) buttons_.push_back({*alternateButton, 0, {}});
    if (otherButton != nullptr) buttons_.push_back({*otherButton, -1, {}});
}

void AlertBox::draw() {
    int buttonsWidth = 0;
    for (const Button& button : buttons_) buttonsWidth += TextCells(button.label) + 6;
    int width = std::max({44, TextCells(title_) + 6, buttonsWidth + 4});
    width = std::min(width, std::max(10, COLS - 4));
    width = std::max(width, std::min(COLS, 64));
    const std::vector<std::wstring> lines = Wrap(message_, width - 4);
    const int messageRows = std::min(static_cast<int>(lines.size()), std::max(1, LINES - 6));
    const int height = messageRows + 5;
    const int y = std::max(0, (LINES - height) / 2);
    const int x = std::max(0, (COLS - width) / 2);
    FillRect(y, x, height, width);
    DrawFrame(y, x, height, width, title_);
    for (int row = 0; row < messageRows; ++row) {
        DrawText(y + 2 + row, x + 2, lines[static_cast<size_t>(row)], x + width - 2);
    }
    // Buttons from the right edge, the default one rightmost as alert boxes place it.
    int bx = x + width - 2;
    const int by = y + height - 2;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        Button& button = buttons_[i];
        const std::wstring text = L"[ " + button.label + L" ]";
        bx -= TextCells(text);
        button.rect = {bx, by, TextCells(text), 1};
        DrawText(by, bx, text, x + width - 1, i == focus_ ? A_REVERSE : A_NORMAL);
        if (!button.label.empty()) {
            DrawText(by, bx + 2, button.label.substr(0, 1), x + width - 1,
                     (i == focus_ ? A_REVERSE : A_NORMAL) | A_UNDERLINE);
        }
        bx -= 2;
    }
}

void AlertBox::handle(const Key& key) {
    const size_t count = buttons_.size();
    if (key.isTab() || key.isKey(KEY_LEFT) || key.isKey(KEY_UP)) {
        focus_ = (focus_ + 1) % count;  // buttons run right to left on the screen
    } else if (key.isBackTab() || key.isKey(KEY_RIGHT) || key.isKey(KEY_DOWN)) {
        focus_ = (focus_ + count - 1) % count;
    } else if (key.isEnter() || key.is(L' ')) {
        finish(buttons_[focus_].answer);
    } else if (key.isEscape()) {
        finish(count > 1 ? buttons_[1].answer : buttons_[0].answer);
    } else if (key.isClick()) {
        for (const Button& button : buttons_) {
            if (button.rect.contains(key.mouse.x, key.mouse.y)) finish(button.answer);
        }
    } else if (!key.function) {
        for (const Button& button : buttons_) {
            if (!button.label.empty() && Lower(button.label[0]) == Lower(key.code)) {
                finish(button.answer);
                return;
            }
        }
    }
}

// --- Pop-up list ---------------------------------------------------------------------------

ListPopup::ListPopup(QComboBox* box, CellRect anchor)
    : box_(box), anchor_(anchor), current_(std::max(0, box->currentIndex())) {}

CellRect ListPopup::frame() const {
    const int count = box_ ? box_->count() : 0;
    const int width = std::max(anchor_.width, 8);
    const int height = std::min(count + 2, std::max(3, LINES));
    int y = anchor_.y + 1;
    if (y + height > LINES) y = std::max(0, anchor_.y - height);
    if (y + height > LINES) y = std::max(0, LINES - height);
    int x = std::min(anchor_.x, std::max(0, COLS - width));
    return {x, y, width, height};
}

void ListPopup::draw() {
    if (!box_) return;
    const CellRect f = frame();
    const int rows = f.height - 2;
    if (current_ < top_) top_ = current_;
    if (current_ >= top_ + rows) top_ = current_ - rows + 1;
    FillRect(f.y, f.x, f.height, f.width);
    DrawFrame(f.y, f.x, f.height, f.width, L"");
    for (int row = 0; row < rows && top_ + row < box_->count(); ++row) {
        const int index = top_ + row;
        std::wstring text = box_->itemText(index).toStdWString();
        text = L" " + text;
        while (TextCells(text) < f.width - 2) text += L' ';
        DrawText(f.y + 1 + row, f.x + 1, text, f.x + f.width - 1,
                 index == current_ ? A_REVERSE : A_NORMAL);
    }
}

void ListPopup::handle(const Key& key) {
    if (!box_) {
        finish(-1);
        return;
    }
    const int count = box_->count();
    const int page = std::max(1, frame().height - 2);
    if (key.isKey(KEY_UP)) {
        current_ = std::max(0, current_ - 1);
    } else if (key.isKey(KEY_DOWN)) {
        current_ = std::min(count - 1, current_ + 1);
    } else if (key.isKey(KEY_HOME)) {
        current_ = 0;
    } else if (key.isKey(KEY_END)) {
        current_ = count - 1;
    } else if (key.isKey(KEY_PPAGE)) {
        current_ = std::max(0, current_ - page);
    } else if (key.isKey(KEY_NPAGE)) {
        current_ = std::min(count - 1, current_ + page);
    } else if (key.isEnter() || key.is(L' ')) {
        finish(count > 0 ? current_ : -1);
    } else if (key.isEscape() || key.isTab()) {
        finish(-1);
    } else if (key.isClick()) {
        const CellRect f = frame();
        const int row = key.mouse.y - f.y - 1;
        if (f.contains(key.mouse.x, key.mouse.y) && row >= 0 && top_ + row < count) {
            finish(top_ + row);
        } else {
            finish(-1);
        }
    }
}

// --- File prompt ---------------------------------------------------------------------------

FilePrompt::FilePrompt(const std::string& directory) : directory_(directory) {
    input_ = Wide(directory);
    if (input_.empty() || input_.back() != L'/') input_ += L'/';
    cursor_ = input_.size();
}

// The typed path as a full path: "~" is the home folder, a relative path is taken in the
// folder the prompt started in.
std::string FilePrompt::expanded() const {
    std::string typed = Utf8(input_);
    if (typed == "~" || typed.rfind("~/", 0) == 0) {
        const char* home = std::getenv("HOME");
        typed = std::string(home != nullptr ? home : "") + typed.substr(1);
    }
    fs::path path(typed);
    if (path.is_relative()) path = fs::path(directory_) / path;
    return path.string();
}

void FilePrompt::list(const std::string& folder, const std::string& prefix) {
    candidates_.clear();
    std::error_code error;
    fs::directory_iterator it(folder.empty() ? "/" : folder, error);
    if (error) {
        note_ = L"Cannot list " + Wide(folder) + L": " + Wide(error.message());
        return;
    }
    for (const fs::directory_entry& entry : it) {
        std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        if (name[0] == '.' && (prefix.empty() || prefix[0] != '.')) continue;
        std::error_code ignored;
        if (entry.is_directory(ignored)) name += '/';
        candidates_.push_back(Wide(name));
    }
    std::sort(candidates_.begin(), candidates_.end());
}

void FilePrompt::complete() {
    const std::string path = expanded();
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? directory_ : path.substr(0, slash + 1);
    const std::string prefix = slash == std::string::npos ? path : path.substr(slash + 1);
    list(folder, prefix);
    if (candidates_.empty()) {
        if (note_.empty()) note_ = L"No name starts with \"" + Wide(prefix) + L"\"";
        return;
    }
    std::wstring common = candidates_.front();
    for (const std::wstring& name : candidates_) {
        size_t same = 0;
        while (same < common.size() && same < name.size() && common[same] == name[same]) ++same;
        common.resize(same);
    }
    input_ = Wide(folder) + common;
    cursor_ = input_.size();
    if (candidates_.size() == 1) candidates_.clear();
}

void FilePrompt::accept() {
    const std::string path = expanded();
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        note_ = L"No such file: " + Wide(path);
        return;
    }
    if (fs::is_directory(status)) {
        input_ = Wide(path);
        if (input_.back() != L'/') input_ += L'/';
        cursor_ = input_.size();
        list(path, "");
        return;
    }
    chosen_ = fs::path(path).lexically_normal().string();
    finish(1);
}

void FilePrompt::handle(const Key& key) {
    note_.clear();
    if (key.isEscape()) {
        finish(0);
    } else if (key.isEnter()) {
        accept();
    } else if (key.isTab()) {
        complete();
    } else if (key.isBackspace()) {
        if (cursor_ > 0) input_.erase(--cursor_, 1);
    } else if (key.isKey(KEY_DC)) {
        if (cursor_ < input_.size()) input_.erase(cursor_, 1);
    } else if (key.isKey(KEY_LEFT)) {
        if (cursor_ > 0) --cursor_;
    } else if (key.isKey(KEY_RIGHT)) {
        if (cursor_ < input_.size()) ++cursor_;
    } else if (key.isKey(KEY_HOME) || key.is(1)) {
        cursor_ = 0;
    } else if (key.isKey(KEY_END) || key.is(5)) {
        cursor_ = input_.size();
    } else if (key.is(21)) {  // Ctrl-U: clear the line
        input_.clear();
        cursor_ = 0;
    } else if (!key.function && key.code >= 32 && key.code != 127) {
        input_.insert(cursor_++, 1, static_cast<wchar_t>(key.code));
    }
}

void FilePrompt::draw() {
    const int width = std::max(20, std::min(COLS - 4, 76));
    const int height = std::max(8, std::min(LINES - 2, 16));
    const int y = std::max(0, (LINES - height) / 2);
    const int x = std::max(0, (COLS - width) / 2);
    const int right = x + width - 2;
    FillRect(y, x, height, width);
    DrawFrame(y, x, height, width, L"Open");
    DrawText(y + 1, x + 2, L"Folder: " + Wide(directory_), right);
    const std::wstring label = L"File: ";
    const int fieldX = x + 2 + TextCells(label);
    const int fieldWidth = std::max(4, right - fieldX);
    DrawText(y + 2, x + 2, label, right);
    // Scroll the typed path sideways so that the cursor stays in view.
    size_t first = 0;
    while (TextCells(input_.substr(first, cursor_ - first)) >= fieldWidth) ++first;
    std::wstring shown = input_.substr(first);
    while (TextCells(shown) < fieldWidth) shown += L' ';
    DrawText(y + 2, fieldX, shown, fieldX + fieldWidth, A_UNDERLINE);
    cursorY_ = y + 2;
    cursorX_ = fieldX + TextCells(input_.substr(first, cursor_ - first));
    const int listRows = height - 6;
    for (int row = 0; row < listRows && row < static_cast<int>(candidates_.size()); ++row) {
        std::wstring name = candidates_[static_cast<size_t>(row)];
        if (row == listRows - 1 && static_cast<int>(candidates_.size()) > listRows) {
            name =
                L"(" + std::to_wstring(candidates_.size() - static_cast<size_t>(row)) + L" more)";
        }
        DrawText(y + 3 + row, x + 4, name, right);
    }
    DrawText(y + height - 3, x + 2, note_, right, A_BOLD);
    DrawText(y + height - 2, x + 2, L"Tab completes, Enter opens, Esc cancels", right, A_DIM);
}

void FilePrompt::placeCursor() {
    curs_set(1);
    move(cursorY_, cursorX_);
}
