#include "platform/window/terminal/Modals.h"

#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <system_error>

#include "platform/foundation/Foundation.h"

namespace fs = std::filesystem;

namespace {

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

namespace {

// The texts are marked for lupdate where they are used.
QString Text(const char* english) {
    return QCoreApplication::translate("Terminal", english);
}

// File names are bytes. A byte that is not part of well-formed UTF-8 is kept in the typed
// text as U+DC80..U+DCFF, which no well-formed text holds, so that the name goes back to the
// very same bytes.
constexpr wchar_t kByteEscape = 0xDC00;

std::wstring NameText(const std::string& bytes) {
    std::wstring out;
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    for (size_t i = 0; i < size;) {
        const unsigned char lead = at[i];
        const size_t length = lead < 0x80                    ? 1
                              : lead >= 0xC2 && lead <= 0xDF ? 2
                              : (lead & 0xF0) == 0xE0        ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                             : 0;
        char32_t point = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length > 0 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (at[i + k] & 0xC0) == 0x80;
            point = (point << 6) | (at[i + k] & 0x3F);
        }
        const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && point >= smallest[length] && point <= 0x10FFFF &&
                (point < 0xD800 || point > 0xDFFF);
        if (!valid) {
            out += static_cast<wchar_t>(kByteEscape + lead);
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(point);
        i += length;
    }
    return out;
}

std::string NameBytes(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        const auto point = static_cast<char32_t>(c);
        if (point >= kByteEscape + 0x80 && point <= kByteEscape + 0xFF) {
            out += static_cast<char>(point - kByteEscape);
        } else if (point < 0x80) {
            out += static_cast<char>(point);
        } else if (point < 0x800) {
            out += static_cast<char>(0xC0 | (point >> 6));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += static_cast<char>(0xE0 | (point >> 12));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (point >> 18));
            out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return out;
}

// What a name shows: a byte that is not UTF-8 and a control character as \xHH, so that two
// names that differ never look alike and nothing is sent to the terminal raw.
std::wstring Shown(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        const bool stray = c >= kByteEscape + 0x80 && c <= kByteEscape + 0xFF;
        if (!stray && !std::iswcntrl(static_cast<wint_t>(c))) {
            out += c;
            continue;
        }
        const unsigned value = stray ? static_cast<unsigned>(c - kByteEscape) : c & 0xFFu;
        const wchar_t* digits = L"0123456789ABCDEF";
        out += L"\\x";
        out += digits[value >> 4];
        out += digits[value & 15];
    }
    return out;
}

}  // namespace

FilePrompt::FilePrompt(const std::string& directory) : directory_(directory) {
    input_ = NameText(directory);
    if (input_.empty() || input_.back() != L'/') input_ += L'/';
    cursor_ = input_.size();
    refresh();
}

// The typed path as a full path: "~" is the home folder, a relative path is taken in the
// folder the prompt started in.
std::string FilePrompt::expanded() const {
    std::string typed = NameBytes(input_);
    if (typed == "~" || typed.rfind("~/", 0) == 0) {
        typed = std::string(NSHomeDirectory().UTF8String()) + typed.substr(1);
    }
    fs::path path(typed);
    if (path.is_relative()) path = fs::path(directory_) / path;
    return path.string();
}

// Lists the names in the typed path's folder that start with its last part.
void FilePrompt::refresh() {
    const std::string path = expanded();
    const size_t slash = path.rfind('/');
    folder_ = path.substr(0, slash + 1);
    const std::string prefix = path.substr(slash + 1);
    entries_.clear();
    selected_ = -1;
    top_ = 0;
    std::error_code error;
    fs::directory_iterator it(folder_.empty() ? "/" : folder_, error);
    if (error) {
        note_ = Text(QT_TRANSLATE_NOOP("Terminal", "Cannot list %1: %2"))
                    .arg(QString::fromStdWString(Shown(NameText(folder_))),
                         QString::fromStdString(error.message()))
                    .toStdWString();
        return;
    }
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        if (name[0] == '.' && (prefix.empty() || prefix[0] != '.')) continue;
        std::error_code ignored;
        entries_.push_back({name, entry.is_directory(ignored)});
    }
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
}

void FilePrompt::complete() {
    if (entries_.empty()) {
        if (note_.empty())
            note_ = Text(QT_TRANSLATE_NOOP("Terminal", "No name starts with that")).toStdWString();
        return;
    }
    std::string common = entries_.front().name;
    for (const Entry& entry : entries_) {
        size_t same = 0;
        while (same < common.size() && same < entry.name.size() && common[same] == entry.name[same])
            ++same;
        common.resize(same);
    }
    if (entries_.size() == 1 && entries_.front().folder) common += '/';
    setInput(NameText(folder_ + common));
}

void FilePrompt::setInput(std::wstring input) {
    input_ = std::move(input);
    cursor_ = input_.size();
    refresh();
}

void FilePrompt::accept() {
    if (selected_ >= 0) {
        const Entry& entry = entries_[static_cast<size_t>(selected_)];
        if (entry.folder) {
            setInput(NameText(folder_ + entry.name + "/"));
        } else {
            choose(folder_ + entry.name);
        }
        return;
    }
    const std::string path = expanded();
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        note_ = Text(QT_TRANSLATE_NOOP("Terminal", "No such file: %1"))
                    .arg(QString::fromStdWString(Shown(NameText(path))))
                    .toStdWString();
        return;
    }
    if (fs::is_directory(status)) {
        std::wstring folder = NameText(path);
        if (folder.back() != L'/') folder += L'/';
        setInput(std::move(folder));
        return;
    }
    choose(path);
}

// A name is passed on byte for byte, or refused: never turned into another file's name.
void FilePrompt::choose(const std::string& path) {
    if (NSString(path).UTF8String() != path) {
        note_ = Text(QT_TRANSLATE_NOOP(
                         "Terminal",
                         "This name is not UTF-8 text and cannot be opened here; rename the file."))
                    .toStdWString();
        return;
    }
    chosen_ = fs::path(path).lexically_normal().string();
    finish(1);
}

// A typed "/" or "~" right after a folder's slash starts a new path, as the prompt is filled
// with the folder it starts in.
void FilePrompt::type(wchar_t c) {
    if ((c == L'/' || c == L'~') && cursor_ == input_.size() && !input_.empty() &&
        input_.back() == L'/') {
        setInput(std::wstring(1, c));
        return;
    }
    input_.insert(cursor_++, 1, c);
    refresh();
}

void FilePrompt::handle(const Key& key) {
    note_.clear();
    const int count = static_cast<int>(entries_.size());
    if (key.isEscape()) {
        finish(0);
    } else if (key.isEnter()) {
        accept();
    } else if (key.isTab()) {
        complete();
    } else if (key.isKey(KEY_DOWN)) {
        selected_ = std::min(count - 1, selected_ + 1);
    } else if (key.isKey(KEY_UP)) {
        selected_ = std::max(-1, selected_ - 1);
    } else if (key.isKey(KEY_NPAGE)) {
        selected_ = std::min(count - 1, selected_ + std::max(1, listRows_));
    } else if (key.isKey(KEY_PPAGE)) {
        selected_ = std::max(count > 0 ? 0 : -1, selected_ - std::max(1, listRows_));
    } else if (key.isBackspace()) {
        if (cursor_ > 0) input_.erase(--cursor_, 1);
        refresh();
    } else if (key.isKey(KEY_DC)) {
        if (cursor_ < input_.size()) input_.erase(cursor_, 1);
        refresh();
    } else if (key.isKey(KEY_LEFT)) {
        if (cursor_ > 0) --cursor_;
    } else if (key.isKey(KEY_RIGHT)) {
        if (cursor_ < input_.size()) ++cursor_;
    } else if (key.isKey(KEY_HOME) || key.is(1)) {
        cursor_ = 0;
    } else if (key.isKey(KEY_END) || key.is(5)) {
        cursor_ = input_.size();
    } else if (key.is(21)) {  // Ctrl-U: clear the line
        setInput(L"");
    } else if (!key.function && key.code >= 32 && key.code != 127) {
        type(static_cast<wchar_t>(key.code));
    }
}

void FilePrompt::draw() {
    const int width = std::max(20, std::min(COLS - 4, 76));
    const int height = std::max(8, std::min(LINES - 2, 18));
    const int y = std::max(0, (LINES - height) / 2);
    const int x = std::max(0, (COLS - width) / 2);
    const int right = x + width - 2;
    FillRect(y, x, height, width);
    DrawFrame(y, x, height, width, Text(QT_TRANSLATE_NOOP("Terminal", "Open")).toStdWString());
    DrawText(y + 1, x + 2,
             Text(QT_TRANSLATE_NOOP("Terminal", "Folder: ")).toStdWString() +
                 Shown(NameText(directory_)),
             right);
    const std::wstring label = Text(QT_TRANSLATE_NOOP("Terminal", "File: ")).toStdWString();
    const int fieldX = x + 2 + TextCells(label);
    const int fieldWidth = std::max(4, right - fieldX);
    DrawText(y + 2, x + 2, label, right);
    // Scroll the typed path sideways so that the cursor stays in view.
    size_t first = 0;
    while (TextCells(Shown(input_.substr(first, cursor_ - first))) >= fieldWidth) ++first;
    std::wstring shown = Shown(input_.substr(first));
    while (TextCells(shown) < fieldWidth) shown += L' ';
    DrawText(y + 2, fieldX, shown, fieldX + fieldWidth, selected_ < 0 ? A_UNDERLINE : A_NORMAL);
    cursorY_ = y + 2;
    cursorX_ = fieldX + TextCells(Shown(input_.substr(first, cursor_ - first)));
    drawList(y + 3, x + 2, right, height - 6);
    DrawText(y + height - 3, x + 2, note_, right, A_BOLD);
    DrawText(y + height - 2, x + 2,
             Text(QT_TRANSLATE_NOOP("Terminal",
                                    "↑↓ pick · Enter open/choose · Tab complete · Esc cancel"))
                 .toStdWString(),
             right, A_DIM);
}

void FilePrompt::drawList(int y, int x, int right, int rows) {
    const int count = static_cast<int>(entries_.size());
    // With more names than rows, the last row says how many lie below.
    listRows_ = count > rows ? rows - 1 : rows;
    if (selected_ >= 0 && selected_ < top_) top_ = selected_;
    if (selected_ >= top_ + listRows_) top_ = selected_ - listRows_ + 1;
    for (int row = 0; row < listRows_ && top_ + row < count; ++row) {
        const Entry& entry = entries_[static_cast<size_t>(top_ + row)];
        std::wstring name = L" " + Shown(NameText(entry.name)) + (entry.folder ? L"/" : L"");
        while (TextCells(name) < right - x) name += L' ';
        DrawText(y + row, x, name, right, top_ + row == selected_ ? A_REVERSE : A_NORMAL);
    }
    const int below = count - top_ - listRows_;
    if (below > 0) {
        DrawText(y + listRows_, x,
                 L" " + Text(QT_TRANSLATE_NOOP("Terminal", "(%1 more)")).arg(below).toStdWString(),
                 right, A_DIM);
    }
}

void FilePrompt::placeCursor() {
    if (selected_ >= 0) {
        curs_set(0);
        return;
    }
    curs_set(1);
    move(cursorY_, cursorX_);
}
