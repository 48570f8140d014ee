#include "platform/foundation/StringTable.h"

#include <cstdlib>

namespace {

constexpr char kTableName[] = "sc820";
constexpr char kWindowTableName[] = "window";
constexpr char kEnglish[] = "en";

QString Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? QString::fromLocal8Bit(value) : QString();
}

// "de_DE.UTF-8@euro" -> "de_DE"; "C", "POSIX" and "" -> "en".
QString LanguageName(const QString& entry) {
    QString name = entry.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX")) {
        return QLatin1String(kEnglish);
    }
    return name;
}

}  // namespace

QStringList StringTable::userLanguages() {
    QStringList entries;
    const QString list = Variable("LANGUAGE");
    if (!list.isEmpty()) {
        entries = list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    } else {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const QString value = Variable(name);
            if (!value.isEmpty()) {
                entries.append(value);
                break;
            }
        }
    }
    QStringList languages;
    for (const QString& entry : entries) {
        const QString language = LanguageName(entry);
        if (!languages.contains(language)) languages.append(language);
    }
    if (languages.isEmpty()) languages.append(QLatin1String(kEnglish));
    return languages;
}

const QTranslator* StringTable::translatorFor(const std::string& dir, const QString& language) {
    auto key = std::make_pair(dir, language);
    auto found = loaded_.find(key);
    if (found != loaded_.end()) return found->second.get();

    auto translator = std::make_unique<QTranslator>();
    // Tries sc820_de_DE.qm, sc820_de.qm, ... for the language.
    if (!translator->load(QLocale(language), QLatin1String(kTableName), QStringLiteral("_"),
                          QString::fromStdString(dir))) {
        translator.reset();
    }
    return (loaded_[key] = std::move(translator)).get();
}

QLocale StringTable::tableLocale(const std::string& translationsDir) {
    for (const QString& language : userLanguages()) {
        if (translatorFor(translationsDir, language) != nullptr) return QLocale(language);
    }
    return QLocale(QLocale::English);
}

std::optional<QString> StringTable::lookup(const std::string& translationsDir,
                                           const std::string& key) {
    // The first of the user's languages with a table, as tableLocale chooses it.
    const QTranslator* translator = nullptr;
    for (const QString& language : userLanguages()) {
        translator = translatorFor(translationsDir, language);
        if (translator != nullptr) break;
    }
    if (translator == nullptr) translator = translatorFor(translationsDir, QLatin1String(kEnglish));
    if (translator == nullptr) return std::nullopt;
    // Id-based tables store each message under an empty context with the id as its source,
    // which is how qtTrId looks them up.
    QString text = translator->translate(nullptr, key.c_str());
    if (text.isEmpty()) return std::nullopt;
    return text;
}

bool LoadWindowTexts(QTranslator& translator, const std::string& translationsDir) {
    StringTable table;
    const QLocale locale = table.tableLocale(translationsDir);
    if (locale.language() == QLocale::English) return false;
    return translator.load(locale, QLatin1String(kWindowTableName), QStringLiteral("_"),
                           QString::fromStdString(translationsDir));
}
