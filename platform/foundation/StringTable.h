// The bundle's string table: Qt's compiled id-based translation files, one per language, in
// Contents/Resources/translations/ (sc820_en.qm, sc820_de.qm, ...).
#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>
#include <map>
#include <memory>
#include <optional>
#include <string>

class StringTable {
public:
    // The text for the key in the table of the user's language, or nothing when there is no
    // table or the table has no text for the key. The language is taken from the environment
    // at each call, so a change of locale takes effect at the next lookup.
    std::optional<QString> lookup(const std::string& translationsDir, const std::string& key);

    // The language of user-visible texts: LC_ALL, else LC_MESSAGES, else LANG, as POSIX orders
    // them. "C" and "POSIX" (and an unset locale) mean English.
    static QLocale userLocale();

private:
    const QTranslator* translatorFor(const std::string& dir, const QLocale& locale);

    // Loaded tables by directory and locale name; an entry without a translator records that
    // no table could be loaded. The texts themselves are looked up anew at every call.
    std::map<std::pair<std::string, QString>, std::unique_ptr<QTranslator>> loaded_;
};
