#include "platform/foundation/StringTable.h"

#include <cstdlib>

namespace {

constexpr char kTableName[] = "sc820";

QString LocaleVariable() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return QString::fromLocal8Bit(value);
    }
    return {};
}

}  // namespace

QLocale StringTable::userLocale() {
    QString value = LocaleVariable();
    // "de_DE.UTF-8@euro" -> "de_DE"
    QString name = value.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX")) {
        return QLocale(QLocale::English);
    }
    return QLocale(name);
}

const QTranslator* StringTable::translatorFor(const std::string& dir, const QLocale& locale) {
    auto key = std::make_pair(dir, locale.name());
    auto found = loaded_.find(key);
    if (found != loaded_.end()) return found->second.get();

    auto translator = std::make_unique<QTranslator>();
    QString directory = QString::fromStdString(dir);
    // Tries sc820_de_DE.qm, sc820_de.qm, ... for the locale, then the English table.
    bool ok = translator->load(locale, QLatin1String(kTableName), QStringLiteral("_"), directory) ||
              translator->load(QLatin1String(kTableName) + QStringLiteral("_en"), directory);
    if (!ok) translator.reset();
    return (loaded_[key] = std::move(translator)).get();
}

std::optional<QString> StringTable::lookup(const std::string& translationsDir,
                                           const std::string& key) {
    const QTranslator* translator = translatorFor(translationsDir, userLocale());
    if (translator == nullptr) return std::nullopt;
    // Id-based tables store each message under an empty context with the id as its source,
    // which is how qtTrId looks them up.
    QString text = translator->translate(nullptr, key.c_str());
    if (text.isEmpty()) return std::nullopt;
    return text;
}
