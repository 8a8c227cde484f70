#include "startup/QtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

namespace telvar {

QtTranslations::QtTranslations() : m_translator(std::make_unique<QTranslator>()) {}

QtTranslations::~QtTranslations()
{
    remove();
}

QString QtTranslations::languageFor(int idioma)
{
    return idioma == 2 ? QString() : QStringLiteral("es");
}

QString QtTranslations::catalogueFor(int idioma, const QString& directory)
{
    const QString language = languageFor(idioma);
    if (language.isEmpty())
        return QString();
    return QDir(directory).filePath(QStringLiteral("qtbase_") + language + QStringLiteral(".qm"));
}

QString QtTranslations::systemDirectory()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

std::optional<QString> QtTranslations::load(int idioma, const QString& directory)
{
    remove();
    const QString file = catalogueFor(idioma, directory);
    if (file.isEmpty())
        return std::nullopt;
    if (!QFileInfo(file).isFile())
        return QStringLiteral("Qt's translation ") + file +
               QStringLiteral(" is not installed: standard buttons stay in English");
    if (!m_translator->load(file))
        return QStringLiteral("Qt's translation ") + file +
               QStringLiteral(" cannot be read: standard buttons stay in English");
    m_installed = QCoreApplication::installTranslator(m_translator.get());
    if (!m_installed)
        return QStringLiteral("Qt's translation ") + file +
               QStringLiteral(" could not be installed: standard buttons stay in English");
    return std::nullopt;
}

void QtTranslations::remove()
{
    if (m_installed)
        QCoreApplication::removeTranslator(m_translator.get());
    m_installed = false;
}

} // namespace telvar
