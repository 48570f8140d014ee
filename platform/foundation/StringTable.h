// The bundle's string table: Qt's compiled id-based translation files, one per language, in
// Contents/Resources/translations/ (sc820_en.qm, sc820_de.qm, ...). The main window's texts
// live beside it (window_de.qm) and follow the same choice of language.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
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

    // The language of the tables in the directory: the first of the user's languages that has
    // a string table there, else English. The window's texts are loaded for the same language,
    // so a window never speaks one language and its alerts another.
    QLocale tableLocale(const std::string& translationsDir);

    // The user's languages, most wanted first, taken as Qt programs take them on Unix: the
    // colon-separated LANGUAGE list when it is set, else the first that is set of LC_ALL,
    // LC_MESSAGES and LANG. The codeset and modifier are dropped ("de_DE.UTF-8@euro" ->
    // "de_DE"); "C" and "POSIX" mean English.
    static QStringList userLanguages();

private:
    const QTranslator* translatorFor(const std::string& dir, const QString& language);

    // Loaded tables by directory and language; an entry without a translator records that no
    // table could be loaded. The texts themselves are looked up anew at every call.
    std::map<std::pair<std::string, QString>, std::unique_ptr<QTranslator>> loaded_;
};

// Loads the main window's texts for the language the string table chooses in the directory
// into the translator; false when that language needs no table (English) or has none.
bool LoadWindowTexts(QTranslator& translator, const std::string& translationsDir);
