// Paints a captured terminal screen (what the screen test's first 80x24 screen wrote, with
// SC820_SCREEN_CAPTURE set) to a PNG, as a terminal with a dark background would show it:
//   paint-screen CAPTURE PNG
#include <vterm.h>

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QStringList>
#include <QTextStream>
#include <cstdio>

namespace {

const QColor kBackground(0x1d, 0x20, 0x24);
const QColor kForeground(0xd8, 0xdc, 0xe0);
const QColor kBar(0x1f, 0x4e, 0x9a);

struct Capture {
    int rows = 0;
    int columns = 0;
    QStringList text;
    QStringList flags;
};

// The capture is "ROWS COLUMNS", a line end, then what the program wrote to its terminal; it is
// replayed through a terminal emulator to the cells and their looks.
bool ReadCapture(const QString& path, Capture* capture) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QList<QByteArray> header = file.readLine().trimmed().split(' ');
    if (header.size() != 2) return false;
    capture->rows = header[0].toInt();
    capture->columns = header[1].toInt();
    if (capture->rows <= 0 || capture->columns <= 0) return false;
    const QByteArray output = file.readAll();
    VTerm* vterm = vterm_new(capture->rows, capture->columns);
    vterm_set_utf8(vterm, 1);
    VTermScreen* screen = vterm_obtain_screen(vterm);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
    vterm_input_write(vterm, output.constData(), static_cast<size_t>(output.size()));
    for (int row = 0; row < capture->rows; ++row) {
        QString text, flags;
        for (int column = 0; column < capture->columns; ++column) {
            VTermScreenCell c{};
            vterm_screen_get_cell(screen, VTermPos{row, column}, &c);
            const char32_t ch = c.chars[0] == 0 ? U' ' : static_cast<char32_t>(c.chars[0]);
            text += QString::fromUcs4(&ch, 1);
            const int bits = (c.attrs.reverse ? 1 : 0) | (c.attrs.bold ? 2 : 0) |
                             (c.attrs.underline ? 4 : 0) |
                             (VTERM_COLOR_IS_DEFAULT_BG(&c.bg) ? 0 : 8);
            flags += QLatin1Char("0123456789abcdef"[bits]);
        }
        capture->text << text;
        capture->flags << flags;
    }
    vterm_free(vterm);
    return true;
}

// Box-drawing characters are drawn as lines through the cell's middle, so that frames join
// across cells whatever the font's line height.
bool DrawBoxCharacter(QPainter& painter, const QRect& cell, char32_t code) {
    bool left = false, right = false, up = false, down = false;
    switch (code) {
        case U'─':
            left = right = true;
            break;
        case U'│':
            up = down = true;
            break;
        case U'┌':
            right = down = true;
            break;
        case U'┐':
            left = down = true;
            break;
        case U'└':
            right = up = true;
            break;
        case U'┘':
            left = up = true;
            break;
        case U'├':
            up = down = right = true;
            break;
        case U'┤':
            up = down = left = true;
            break;
        default:
            return false;
    }
    const QPoint middle = cell.center();
    painter.setPen(QPen(painter.pen().color(), 2));
    if (left) painter.drawLine(cell.left(), middle.y(), middle.x(), middle.y());
    if (right) painter.drawLine(middle.x(), middle.y(), cell.right() + 1, middle.y());
    if (up) painter.drawLine(middle.x(), cell.top(), middle.x(), middle.y());
    if (down) painter.drawLine(middle.x(), middle.y(), middle.x(), cell.bottom() + 1);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    Capture capture;
    if (argc != 3 || !ReadCapture(QString::fromLocal8Bit(argv[1]), &capture)) {
        std::fprintf(stderr, "usage: paint-screen CAPTURE PNG\n");
        return 2;
    }
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(15);
    font.setStyleHint(QFont::Monospace);
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics metrics(font);
    const int cellWidth = metrics.horizontalAdvance(QLatin1Char('M'));
    const int cellHeight = metrics.height();
    const int margin = 8;
    QImage image(capture.columns * cellWidth + 2 * margin, capture.rows * cellHeight + 2 * margin,
                 QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    for (int row = 0; row < capture.rows; ++row) {
        const QList<uint> cells = capture.text[row].toUcs4();
        for (int column = 0; column < capture.columns && column < cells.size(); ++column) {
            const int bits = QString(capture.flags[row][column]).toInt(nullptr, 16);
            QColor foreground = kForeground, background = kBackground;
            if (bits & 8) {
                background = kBar;
                foreground = Qt::white;
            }
            if (bits & 1) std::swap(foreground, background);
            const QRect cell(margin + column * cellWidth, margin + row * cellHeight, cellWidth,
                             cellHeight);
            painter.fillRect(cell, background);
            painter.setFont(bits & 2 ? bold : font);
            painter.setPen(foreground);
            const char32_t code = cells[column];
            if (DrawBoxCharacter(painter, cell, code)) continue;
            painter.drawText(cell, Qt::AlignCenter, QString::fromUcs4(&code, 1));
            if (bits & 4) {
                painter.drawLine(cell.left(), cell.bottom() - 1, cell.right(), cell.bottom() - 1);
            }
        }
    }
    painter.end();
    return image.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
