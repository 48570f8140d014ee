// The interactive alert and open panel.
#include "platform/window/Dialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/window/FileNames.h"

namespace {

QString ToQString(const NSString& text) {
    return QString::fromStdU16String(text.units());
}

// A folder for the toolkit: its bytes decoded as the toolkit decodes file names.
QString FolderText(const NSString& folder) {
    return QFile::decodeName(QByteArray::fromStdString(folder.UTF8String()));
}

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// The window a dialog belongs over: the active one, else the first window on screen.
QWidget* DialogParent() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qobject_cast<QDialog*>(widget) == nullptr) return widget;
    }
    return nullptr;
}

}  // namespace

int RunAlertBox(const NSString& title, const NSString& message, const char* defaultButton,
                const char* alternateButton, const char* otherButton,
                const NSString& informativeText) {
    if (!HaveWidgets()) {
        // Nobody can answer: report the message and take the refusal where there is one, so
        // that no confirmation is ever given on the user's behalf.
        std::fprintf(stderr, "%s: %s\n", title.UTF8String().c_str(), message.UTF8String().c_str());
        if (informativeText.length() != 0) {
            std::fprintf(stderr, "%s\n", informativeText.UTF8String().c_str());
        }
        return alternateButton != nullptr ? 0 : 1;
    }
    QMessageBox box(DialogParent());
    box.setWindowTitle(ToQString(title));
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);  // never rich text
    box.setText(ToQString(message));
    if (informativeText.length() != 0) {
        box.setInformativeText(ToQString(informativeText));
        // The box's text format does not reach its informative label, which would take a file
        // name such as "<b>.bin" for rich text.
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
            label->setTextFormat(Qt::PlainText);
        }
    }
    QPushButton* ok = box.addButton(QString::fromUtf8(defaultButton ? defaultButton : "OK"),
                                    QMessageBox::AcceptRole);
    QPushButton* alternate = nullptr;
    QPushButton* other = nullptr;
    if (alternateButton != nullptr) {
        alternate = box.addButton(QString::fromUtf8(alternateButton), QMessageBox::RejectRole);
    }
    if (otherButton != nullptr) {
        other = box.addButton(QString::fromUtf8(otherButton), QMessageBox::ActionRole);
    }
    box.setDefaultButton(ok);
    // Escape and closing the box count as the alternate button where there is one.
    box.setEscapeButton(alternate != nullptr ? alternate : ok);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked != nullptr && clicked == other) return -1;
    if (alternate != nullptr && (clicked == alternate || clicked == nullptr)) return 0;
    return 1;
}

int RunOpenDialog(const NSString& directory, const NSString* file,
                  const std::vector<NSString>* types, NSString* chosen) {
    if (!HaveWidgets()) return NSCancelButton;
    QFileDialog dialog(DialogParent(), QString(), FolderText(directory));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Any file: the toolkit cannot find a name that is not UTF-8 by its text and would refuse
    // it; the chosen name is found again below, and the file is checked when it is read.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (types != nullptr && !types->empty()) {
        QStringList patterns;
        for (const NSString& type : *types) patterns << QStringLiteral("*.") + ToQString(type);
        dialog.setNameFilter(patterns.join(QLatin1Char(' ')));
    }
    if (file != nullptr && file->length() != 0) dialog.selectFile(ToQString(*file));
    // A name the toolkit cannot tell from another one is refused and the panel stays open:
    // never is a different file than the one chosen used.
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return NSCancelButton;
        }
        const QString text = dialog.selectedFiles().first();
        if (std::optional<std::string> path = FileSystemPathOfText(text.toStdU16String())) {
            *chosen = NSString(*path);
            return NSOKButton;
        }
        QMessageBox::warning(&dialog, dialog.windowTitle(),
                             QStringLiteral("The name of %1 cannot be told apart from another "
                                            "file's name in its folder. Rename the file and "
                                            "choose it again.")
                                 .arg(text));
    }
}
