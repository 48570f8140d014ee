#include "platform/window/terminal/ScreenLayout.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocumentFragment>
#include <algorithm>
#include <cwchar>
#include <optional>

namespace {

constexpr int kColumnGap = 1;
constexpr int kFieldMinimum = 14;
constexpr int kFieldMaximum = 30;

std::optional<LayoutNode> BuildLayout(QLayout* layout);

// Button texts carry Designer's mnemonic marker: "&Write" shows as "Write", "&&" as "&".
std::wstring WithoutMnemonicMarker(const QString& text) {
    std::wstring out;
    const std::wstring in = text.toStdWString();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'&' && i + 1 < in.size()) ++i;
        out += in[i];
    }
    return out;
}

std::wstring Ascii(std::wstring text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'…') {
            out += L"...";
        } else if (c < 0x80) {
            out += c;
        } else {
            out += L'?';
        }
    }
    return out;
}

std::wstring Shown(std::wstring text, bool unicode) {
    return unicode ? text : Ascii(std::move(text));
}

std::wstring PadTo(std::wstring text, int cells) {
    int have = TextCells(text);
    while (have > cells && !text.empty()) {
        text.pop_back();
        have = TextCells(text);
    }
    text.append(static_cast<size_t>(std::max(0, cells - have)), L' ');
    return text;
}

bool IsSeparator(QWidget* widget) {
    auto* frame = qobject_cast<QFrame*>(widget);
    return frame != nullptr &&
           (frame->frameShape() == QFrame::VLine || frame->frameShape() == QFrame::HLine);
}

bool IsControl(QWidget* widget) {
    return qobject_cast<QComboBox*>(widget) != nullptr ||
           qobject_cast<QAbstractButton*>(widget) != nullptr ||
           qobject_cast<QLineEdit*>(widget) != nullptr;
}

std::optional<LayoutNode> BuildWidget(QWidget* widget, bool isRoot = false) {
    if (widget == nullptr || widget->isHidden() || (!isRoot && widget->isWindow())) {
        return std::nullopt;
    }
    LayoutNode node;
    node.widget = widget;
    if (qobject_cast<QGroupBox*>(widget) != nullptr) {
        node.kind = LayoutNode::Kind::group;
        if (auto child = BuildLayout(widget->layout())) node.children.push_back(std::move(*child));
        return node;
    }
    if (IsControl(widget)) {
        node.kind = LayoutNode::Kind::control;
        return node;
    }
    if (qobject_cast<QLabel*>(widget) != nullptr) {
        node.kind = LayoutNode::Kind::label;
        return node;
    }
    if (IsSeparator(widget)) {
        node.kind = LayoutNode::Kind::separator;
        return node;
    }
    if (widget->layout() != nullptr) return BuildLayout(widget->layout());
    return std::nullopt;
}

std::optional<LayoutNode> BuildItem(QLayoutItem* item) {
    if (item == nullptr) return std::nullopt;
    if (item->widget() != nullptr) return BuildWidget(item->widget());
    if (item->layout() != nullptr) return BuildLayout(item->layout());
    return std::nullopt;  // spacers take no cells
}

std::optional<LayoutNode> BuildLayout(QLayout* layout) {
    if (layout == nullptr) return std::nullopt;
    LayoutNode node;
    node.layout = layout;
    if (auto* form = qobject_cast<QFormLayout*>(layout)) {
        node.kind = LayoutNode::Kind::grid;
        for (int row = 0; row < form->rowCount(); ++row) {
            const QFormLayout::ItemRole roles[] = {QFormLayout::LabelRole, QFormLayout::FieldRole,
                                                   QFormLayout::SpanningRole};
            for (QFormLayout::ItemRole role : roles) {
                if (auto child = BuildItem(form->itemAt(row, role))) {
                    child->gridRow = row;
                    child->gridColumn = role == QFormLayout::FieldRole ? 1 : 0;
                    node.children.push_back(std::move(*child));
                }
            }
        }
        return node;
    }
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        node.kind = LayoutNode::Kind::grid;
        for (int i = 0; i < grid->count(); ++i) {
            int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
            if (auto child = BuildItem(grid->itemAt(i))) {
                child->gridRow = row;
                child->gridColumn = column;
                child->alignment = static_cast<int>(grid->itemAt(i)->alignment());
                node.children.push_back(std::move(*child));
            }
        }
        // Reading order, which is also the order the keyboard moves in.
        std::stable_sort(node.children.begin(), node.children.end(),
                         [](const LayoutNode& a, const LayoutNode& b) {
                             return a.gridRow != b.gridRow ? a.gridRow < b.gridRow
                                                           : a.gridColumn < b.gridColumn;
                         });
        return node;
    }
    auto* box = qobject_cast<QBoxLayout*>(layout);
    const bool horizontal = box != nullptr && (box->direction() == QBoxLayout::LeftToRight ||
                                               box->direction() == QBoxLayout::RightToLeft);
    node.kind = horizontal ? LayoutNode::Kind::row : LayoutNode::Kind::column;
    for (int i = 0; i < layout->count(); ++i) {
        if (auto child = BuildItem(layout->itemAt(i))) node.children.push_back(std::move(*child));
    }
    return node;
}

int ComboTextCells(QComboBox* box, bool unicode) {
    int widest = 1;
    for (int i = 0; i < box->count(); ++i) {
        widest = std::max(widest, TextCells(Shown(box->itemText(i).toStdWString(), unicode)));
    }
    return widest;
}

// Measured on the text as shown: outside a UTF-8 locale "…" takes three cells.
int ControlWidth(QWidget* widget, bool unicode) {
    if (auto* box = qobject_cast<QComboBox*>(widget)) return ComboTextCells(box, unicode) + 3;
    if (auto* push = qobject_cast<QPushButton*>(widget)) {
        return TextCells(Shown(WithoutMnemonicMarker(push->text()), unicode)) + 4;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const int text = TextCells(Shown(WithoutMnemonicMarker(button->text()), unicode));
        return text == 0 ? 3 : 4 + text;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return std::clamp(TextCells(Shown(edit->text().toStdWString(), unicode)), kFieldMinimum,
                          kFieldMaximum);
    }
    return 1;
}

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines(1);
    for (wchar_t c : text) {
        if (c == L'\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

}  // namespace

int TextCells(const std::wstring& text) {
    int cells = 0;
    for (wchar_t c : text) {
        int width = wcwidth(c);
        cells += width < 0 ? 1 : width;
    }
    return cells;
}

std::wstring PlainLabelText(QWidget* widget) {
    auto* label = qobject_cast<QLabel*>(widget);
    if (label == nullptr) return {};
    QString text = label->text();
    if (label->textFormat() == Qt::RichText ||
        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
        text = QTextDocumentFragment::fromHtml(text).toPlainText();
    }
    // A label with a buddy shows its '&' letter as the mnemonic, not as a character.
    if (label->buddy() != nullptr) return WithoutMnemonicMarker(text);
    return text.toStdWString();
}

std::wstring ControlText(QWidget* widget, int width, bool unicode) {
    if (auto* box = qobject_cast<QComboBox*>(widget)) {
        std::wstring text = Shown(box->currentText().toStdWString(), unicode);
        return L"[" + PadTo(text, width - 3) + (unicode ? L"▾" : L"v") + L"]";
    }
    if (auto* push = qobject_cast<QPushButton*>(widget)) {
        return L"[ " + Shown(WithoutMnemonicMarker(push->text()), unicode) + L" ]";
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const bool radio = qobject_cast<QRadioButton*>(widget) != nullptr;
        std::wstring mark = radio ? (button->isChecked() ? L"(*)" : L"( )")
                                  : (button->isChecked() ? L"[x]" : L"[ ]");
        std::wstring text = Shown(WithoutMnemonicMarker(button->text()), unicode);
        return text.empty() ? mark : mark + L" " + text;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return PadTo(Shown(edit->text().toStdWString(), unicode), width);
    }
    return {};
}

ScreenLayout::ScreenLayout(QWidget* window, CellRect area, QWidget* focus, ScrollPlace* scroll,
                           bool unicode)
    : unicode_(unicode) {
    if (auto built = BuildWidget(window, true)) root_ = std::move(*built);
    measure(root_);
    scrolling_ = tallestGrid(root_);
    if (scrolling_ != nullptr && root_.width > area.width) {
        scrollColumns(area.width, focus, scroll);
    }
    if (scrolling_ != nullptr && root_.height > area.height) {
        scrollRows(area.height, focus, scroll);
    }
    CellRect placed = area;
    // Scrolled columns take the whole width, so that scrolling does not move the frame.
    if (root_.width < area.width && (scrolling_ == nullptr || scrolling_->visibleColumns < 0)) {
        placed.x += (area.width - root_.width) / 2;
        placed.width = root_.width;
    }
    if (root_.height < area.height) {
        placed.y += (area.height - root_.height) / 2;
        placed.height = root_.height;
    }
    place(root_, placed);
    collect(root_);
}

void ScreenLayout::scrollRows(int height, QWidget* focus, ScrollPlace* scroll) {
    LayoutNode& grid = *scrolling_;
    // As many rows as fit; where nothing fits, as many as the rest of the window leaves room for.
    grid.visibleRows = 1;
    measure(root_);
    const int target = std::max(height, root_.height);
    for (int rows = grid.gridRows - 1; rows > 1; --rows) {
        grid.visibleRows = rows;
        measure(root_);
        if (root_.height <= target) break;
        grid.visibleRows = rows - 1;
    }
    const int last = grid.gridRows - grid.visibleRows;
    int first = std::clamp(scroll->row, 1, std::max(1, last));
    const LayoutNode* cell = cellOf(grid, focus);
    const int focusRow = cell != nullptr ? cell->gridRow : -1;
    if (focusRow >= 1 && focusRow < first) first = focusRow;
    if (focusRow >= first + grid.visibleRows) first = focusRow - grid.visibleRows + 1;
    grid.firstRow = first;
    scroll->row = first;
    rowsAbove_ = first > 1;
    rowsBelow_ = first + grid.visibleRows < grid.gridRows;
    measure(root_);
}

// Shows as many columns beside the first as fit, from the remembered one on, and moves them
// so that the focused control stays in view.
void ScreenLayout::scrollColumns(int width, QWidget* focus, ScrollPlace* scroll) {
    LayoutNode& grid = *scrolling_;
    const int columns = grid.gridColumns;
    if (columns < 3) return;
    const std::vector<int> widths = columnWidths(grid);
    const int budget = grid.width - (root_.width - width);
    auto fits = [&](int first, int count) {
        int used = widths[0];
        for (int column = first; column < first + count; ++column) {
            used += kColumnGap + widths[static_cast<size_t>(column)];
        }
        return used <= budget;
    };
    auto countFrom = [&](int first) {
        int count = 0;
        while (first + count < columns && fits(first, count + 1)) ++count;
        return std::max(1, count);
    };
    int lastStart = columns - 1;
    while (lastStart > 1 && fits(lastStart - 1, columns - lastStart + 1)) --lastStart;
    int first = std::clamp(scroll->column, 1, lastStart);
    const LayoutNode* cell = cellOf(grid, focus);
    const int focusColumn = cell != nullptr ? cell->gridColumn : -1;
    if (focusColumn >= 1 && focusColumn < first) first = focusColumn;
    while (focusColumn >= first + countFrom(first) && first < focusColumn) ++first;
    grid.firstColumn = first;
    grid.visibleColumns = countFrom(first);
    scroll->column = first;
    columnsLeft_ = first > 1;
    columnsRight_ = first + grid.visibleColumns < columns;
    measure(root_);
}

LayoutNode* ScreenLayout::tallestGrid(LayoutNode& node) {
    LayoutNode* best = nullptr;
    if (node.kind == LayoutNode::Kind::grid && node.gridRows > 2) best = &node;
    for (LayoutNode& child : node.children) {
        LayoutNode* found = tallestGrid(child);
        if (found != nullptr && (best == nullptr || found->gridRows > best->gridRows)) {
            best = found;
        }
    }
    return best;
}

const LayoutNode* ScreenLayout::cellOf(const LayoutNode& grid, QWidget* widget) {
    if (widget == nullptr) return nullptr;
    for (const LayoutNode& child : grid.children) {
        if (child.widget == widget) return &child;
    }
    return nullptr;
}

std::vector<int> ScreenLayout::columnWidths(const LayoutNode& grid) const {
    std::vector<int> widths(static_cast<size_t>(grid.gridColumns), 0);
    for (const LayoutNode& child : grid.children) {
        int& width = widths[static_cast<size_t>(child.gridColumn)];
        width = std::max(width, child.width);
    }
    return widths;
}

void ScreenLayout::measure(LayoutNode& node) {
    for (LayoutNode& child : node.children) measure(child);
    switch (node.kind) {
        case LayoutNode::Kind::control:
            node.width = ControlWidth(node.widget, unicode_);
            node.height = 1;
            break;
        case LayoutNode::Kind::label: {
            node.width = 0;
            const auto lines = Lines(PlainLabelText(node.widget));
            for (const auto& line : lines) node.width = std::max(node.width, TextCells(line));
            node.height = static_cast<int>(lines.size());
            break;
        }
        case LayoutNode::Kind::separator:
            node.width = 1;
            node.height = 1;
            break;
        case LayoutNode::Kind::group: {
            const int title =
                TextCells(WithoutMnemonicMarker(qobject_cast<QGroupBox*>(node.widget)->title()));
            const int inner = node.children.empty() ? 0 : node.children[0].width;
            node.width = std::max(inner + 2, title + 4);
            node.height = (node.children.empty() ? 0 : node.children[0].height) + 2;
            break;
        }
        case LayoutNode::Kind::row:
            node.width = 0;
            node.height = 0;
            for (const LayoutNode& child : node.children) {
                node.width += child.width;
                node.height = std::max(node.height, child.height);
            }
            if (!node.children.empty()) {
                node.width += kColumnGap * static_cast<int>(node.children.size() - 1);
            }
            break;
        case LayoutNode::Kind::column:
            node.width = 0;
            node.height = 0;
            for (const LayoutNode& child : node.children) {
                node.width = std::max(node.width, child.width);
                node.height += child.height;
            }
            break;
        case LayoutNode::Kind::grid: {
            int rows = 0, columns = 0;
            for (const LayoutNode& child : node.children) {
                rows = std::max(rows, child.gridRow + 1);
                columns = std::max(columns, child.gridColumn + 1);
            }
            node.gridRows = rows;
            node.gridColumns = columns;
            std::vector<int> heights(rows, 0);
            for (const LayoutNode& child : node.children) {
                heights[child.gridRow] = std::max(heights[child.gridRow], child.height);
            }
            const std::vector<int> widths = columnWidths(node);
            node.width = -kColumnGap;
            for (int column = 0; column < columns; ++column) {
                if (node.columnShown(column)) node.width += kColumnGap + widths[column];
            }
            node.width = std::max(0, node.width);
            node.height = 0;
            for (int row = 0; row < rows; ++row) {
                if (node.rowShown(row)) node.height += heights[row];
            }
            break;
        }
    }
}

void ScreenLayout::place(LayoutNode& node, CellRect rect) {
    node.rect = rect;
    node.shown = true;
    switch (node.kind) {
        case LayoutNode::Kind::control:
        case LayoutNode::Kind::label:
            node.rect.width = std::min(node.width, rect.width);
            node.rect.height = node.height;
            break;
        case LayoutNode::Kind::separator:
            break;
        case LayoutNode::Kind::group:
            if (!node.children.empty()) {
                place(node.children[0],
                      {rect.x + 1, rect.y + 1, rect.width - 2, node.children[0].height});
            }
            node.rect.height = node.height;
            break;
        case LayoutNode::Kind::row: {
            int x = rect.x;
            for (LayoutNode& child : node.children) {
                place(child, {x, rect.y, child.width, rect.height});
                x += child.width + kColumnGap;
            }
            break;
        }
        case LayoutNode::Kind::column: {
            int y = rect.y;
            for (LayoutNode& child : node.children) {
                place(child, {rect.x, y, rect.width, child.height});
                y += child.height;
            }
            break;
        }
        case LayoutNode::Kind::grid:
            placeGrid(node, rect);
            break;
    }
}

void ScreenLayout::placeGrid(LayoutNode& node, CellRect rect) {
    const int columns = node.gridColumns;
    const std::vector<int> widths = columnWidths(node);
    std::vector<int> heights(node.gridRows, 0);
    for (const LayoutNode& child : node.children) {
        heights[child.gridRow] = std::max(heights[child.gridRow], child.height);
    }
    std::vector<int> xs(columns, -1), ys(node.gridRows, -1);
    int nextX = rect.x;
    for (int column = 0; column < columns; ++column) {
        if (!node.columnShown(column)) continue;
        xs[column] = nextX;
        nextX += widths[column] + kColumnGap;
    }
    int y = rect.y;
    for (int row = 0; row < node.gridRows; ++row) {
        if (!node.rowShown(row)) continue;
        ys[row] = y;
        y += heights[row];
    }
    for (LayoutNode& child : node.children) {
        if (ys[child.gridRow] < 0 || xs[child.gridColumn] < 0) {
            child.shown = false;
            continue;
        }
        const int cell = widths[child.gridColumn];
        int x = xs[child.gridColumn];
        int alignment = child.alignment;
        if (alignment == 0 && child.kind == LayoutNode::Kind::label) {
            alignment = static_cast<int>(qobject_cast<QLabel*>(child.widget)->alignment());
        }
        if (alignment & Qt::AlignHCenter) x += (cell - child.width) / 2;
        if (alignment & Qt::AlignRight) x += cell - child.width;
        place(child, {x, ys[child.gridRow], child.width, heights[child.gridRow]});
    }
}

void ScreenLayout::collect(const LayoutNode& node) {
    if (!node.shown) return;
    if (node.kind == LayoutNode::Kind::control) {
        controls_.push_back({node.widget, node.rect});
        return;
    }
    for (const LayoutNode& child : node.children) collect(child);
}
