#pragma once

#include <QString>
#include <memory>
#include <optional>

class QTranslator;

namespace telvar {

// Qt's own texts (the standard buttons of message boxes and button boxes,
// the file dialog) in the installation's language. Qt speaks English by
// itself; for Spanish it needs its catalogue qtbase_es.qm, which the system's
// Qt translations package ships. The translator stays installed in the
// application while this object lives.
class QtTranslations final {
public:
    QtTranslations();
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // The catalogue's language for the message table's language idioma:
    // "es" for every language but 2 (English), as the program's own texts
    // are chosen; "" when Qt's built-in English serves.
    static QString languageFor(int idioma);

    // The catalogue file for idioma in directory ("" when none is needed).
    static QString catalogueFor(int idioma, const QString& directory);

    // The directory Qt's catalogues are installed in on this system.
    static QString systemDirectory();

    // Installs the catalogue of idioma from directory (the system's by
    // default), replacing one installed before by this object. Nothing when
    // Qt's English serves. A catalogue that is missing or unreadable is not
    // a failure: the buttons stay in English, and the one-line note that
    // says so comes back.
    std::optional<QString> load(int idioma, const QString& directory = systemDirectory());

    // True while a catalogue of this object is installed.
    bool installed() const { return m_installed; }

private:
    void remove();

    std::unique_ptr<QTranslator> m_translator;
    bool m_installed = false;
};

} // namespace telvar
