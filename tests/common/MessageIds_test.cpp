// Every message the program shows by section and number must exist in the
// demo installation's language file, in both of its languages: the sources
// are scanned, so that a new message cannot be forgotten there.
#include "demo/DemoTexts.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace telvar {
namespace {

struct FoundId {
    int section;
    int number;
    QString where;
};

QList<FoundId> idsInSources()
{
    // Mensajes(section, number) with literal numbers, and MessageId{section,
    // number} wherever an id is named or listed in a table.
    static const QRegularExpression pattern(
        QStringLiteral(R"((?:Mensajes\(\s*|MessageId\s*\{\s*)(\d+)\s*,\s*(\d+)\s*[)}])"));
    QList<FoundId> found;
    QDirIterator files(QStringLiteral(TELVAR_SOURCE_DIR "/src"),
                       {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        auto matches = pattern.globalMatch(text);
        while (matches.hasNext()) {
            const auto match = matches.next();
            const int line = int(text.left(match.capturedStart()).count(QLatin1Char('\n'))) + 1;
            found.append({match.captured(1).toInt(), match.captured(2).toInt(),
                          path.mid(path.indexOf(QStringLiteral("/src/")) + 1) + QLatin1Char(':') +
                              QString::number(line)});
        }
    }
    return found;
}

TEST(MessageIds, EveryMessageTheSourcesShowHasADemoTextInBothLanguages)
{
    QSet<QPair<int, int>> spanish;
    QSet<QPair<int, int>> english;
    for (const demo::DemoMessage& message : demo::demoMessages()) {
        if (message.spanish && *message.spanish)
            spanish.insert({message.section, message.number});
        if (message.english && *message.english)
            english.insert({message.section, message.number});
    }
    const QList<FoundId> ids = idsInSources();
    // The scan itself must work: the main window's caption is always there.
    ASSERT_GT(ids.size(), 20);
    for (const FoundId& id : ids) {
        EXPECT_TRUE(spanish.contains({id.section, id.number}))
            << "no Spanish text for (" << id.section << ", " << id.number << ") used at "
            << id.where.toStdString();
        EXPECT_TRUE(english.contains({id.section, id.number}))
            << "no English text for (" << id.section << ", " << id.number << ") used at "
            << id.where.toStdString();
    }
}

} // namespace
} // namespace telvar
