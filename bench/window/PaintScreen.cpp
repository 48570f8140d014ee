// Paints a captured terminal screen (TerminalProgram::capture) to a PNG, as a terminal with a
// dark background would show it:  paint-screen CAPTURE PNG
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

bool ReadCapture(const QString& path, Capture* capture) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QTextStream in(&file);
    const QStringList header = in.readLine().split(QLatin1Char(' '));
    if (header.size() != 3 || header[0] != QLatin1String("cells")) return false;
    capture->rows = header[1].toInt();
    capture->columns = header[2].toInt();
    for (int row = 0; row < capture->rows; ++row) {
        capture->text << in.readLine();
        capture->flags << in.readLine();
    }
    return capture->rows > 0 && capture->columns > 0;
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
