// The main window's widget tree laid out in character cells. The window description stays the
// one source of the window: its layouts (boxes, forms, grids) and group boxes are walked and
// every widget gets a place on a grid of terminal cells, in the window's own grouping. When the
// screen is too short, the tallest grid (the target rows) scrolls under its fixed header row;
// when it is too narrow, that grid's columns scroll beside its fixed first column. A larger
// screen shows the window centred at its natural size.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QLayout;

struct CellRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool contains(int column, int row) const {
        return column >= x && column < x + width && row >= y && row < y + height;
    }
};

struct LayoutNode {
    enum class Kind { column, row, grid, group, control, label, separator };
    Kind kind = Kind::column;
    QWidget* widget = nullptr;  // control, label, group, separator
    QLayout* layout = nullptr;  // column, row, grid
    std::vector<LayoutNode> children;
    int gridRow = 0;  // position in a parent grid
    int gridColumn = 0;
    int alignment = 0;  // Qt::Alignment of the item in its grid cell
    // Measured, natural size in cells.
    int width = 0;
    int height = 0;
    // Placed: where the node sits; a grid row scrolled out of view is not shown.
    CellRect rect;
    bool shown = false;
    // Grid rows: the rows beneath the header that are visible, from firstRow on; likewise the
    // columns beside the first one.
    int gridRows = 0;
    int visibleRows = -1;  // -1: all
    int firstRow = 1;
    int gridColumns = 0;
    int visibleColumns = -1;
    int firstColumn = 1;
    bool rowShown(int row) const {
        return visibleRows < 0 || row == 0 || (row >= firstRow && row < firstRow + visibleRows);
    }
    bool columnShown(int column) const {
        return visibleColumns < 0 || column == 0 ||
               (column >= firstColumn && column < firstColumn + visibleColumns);
    }
};

// Where the scrolling grid stands: its first visible row and column beyond the fixed ones.
struct ScrollPlace {
    int row = 1;
    int column = 1;
};

// One control on the screen, in reading order.
struct PlacedControl {
    QWidget* widget;
    CellRect rect;
};

// Display width in cells of a text, as the terminal shows it.
int TextCells(const std::wstring& text);
// A label's text without markup.
std::wstring PlainLabelText(QWidget* label);
// What a control shows: "[x] Sync", "(*) Enabled", "[20 MB/s ▾]", "[ Default ]", the field.
std::wstring ControlText(QWidget* widget, int width, bool unicode);

class ScreenLayout {
public:
    // Lays the window out in the area; scroll keeps its place across layouts and is adjusted
    // to keep `focus` visible.
    ScreenLayout(QWidget* window, CellRect area, QWidget* focus, ScrollPlace* scroll, bool unicode);

    const LayoutNode& root() const { return root_; }
    const std::vector<PlacedControl>& controls() const { return controls_; }
    // Whether rows of the scrolling grid lie above or below the visible part.
    bool rowsAbove() const { return rowsAbove_; }
    bool rowsBelow() const { return rowsBelow_; }
    bool columnsLeft() const { return columnsLeft_; }
    bool columnsRight() const { return columnsRight_; }
    const LayoutNode* scrollingGrid() const { return scrolling_; }

private:
    void measure(LayoutNode& node);
    void place(LayoutNode& node, CellRect rect);
    void placeGrid(LayoutNode& node, CellRect rect);
    void collect(const LayoutNode& node);
    void scrollRows(int height, QWidget* focus, ScrollPlace* scroll);
    void scrollColumns(int width, QWidget* focus, ScrollPlace* scroll);
    LayoutNode* tallestGrid(LayoutNode& node);
    static const LayoutNode* cellOf(const LayoutNode& grid, QWidget* widget);
    std::vector<int> columnWidths(const LayoutNode& grid) const;

    LayoutNode root_;
    std::vector<PlacedControl> controls_;
    LayoutNode* scrolling_ = nullptr;
    bool rowsAbove_ = false;
    bool rowsBelow_ = false;
    bool columnsLeft_ = false;
    bool columnsRight_ = false;
    bool unicode_ = true;
};
