// The main window loaded at run time by Qt's form loader, the way the window layer loaded it
// before it compiled the description with uic: no Designer plugins (the loader is made while
// the library paths are empty), the description read from the program's resources. Kept here
// so that the two ways stay measurable side by side.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QUiLoader>
#include <QWidget>
#include <memory>

inline constexpr char kRunTimeDescription[] = ":/sc820/MainWindow.ui";

inline std::unique_ptr<QWidget> LoadAtRunTime() {
    QFile file(kRunTimeDescription);
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    const QStringList libraryPaths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    QUiLoader loader;
    QCoreApplication::setLibraryPaths(libraryPaths);
    loader.clearPluginPaths();
    return std::unique_ptr<QWidget>(loader.load(&file));
}
