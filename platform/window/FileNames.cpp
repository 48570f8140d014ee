#include "platform/window/FileNames.h"

#include <dirent.h>

#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace {

// The names in `folder` that read as `part`.
std::vector<std::string> EntriesReadingAs(const std::string& folder, const QString& part) {
    std::vector<std::string> found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return found;
    while (const dirent* entry = readdir(dir.get())) {
        if (QFile::decodeName(entry->d_name) == part) found.emplace_back(entry->d_name);
    }
    return found;
}

}  // namespace

std::optional<std::string> FileSystemPathOfText(const std::u16string& text) {
    const QStringList parts = QString::fromStdU16String(text).split(u'/', Qt::SkipEmptyParts);
    std::string path;
    for (const QString& part : parts) {
        const std::vector<std::string> entries = EntriesReadingAs(path.empty() ? "/" : path, part);
        if (entries.size() > 1) return std::nullopt;
        path += "/" + (entries.empty() ? part.toStdString() : entries.front());
    }
    return path.empty() ? "/" : path;
}
