#include "demo/DemoInstallation.h"

#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "demo/ConfigDemo.h"
#include "demo/DemoTexts.h"
#include "demo/QualitraDemo.h"
#include "startup/Password.h"
#include "startup/UnicodeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace telvar::demo {

namespace {

Error fileError(const QString& path, const QString& what)
{
    return Error{75, QStringLiteral("telvar_demo_install"), what + QStringLiteral(": ") + path};
}

Status writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fileError(path, QStringLiteral("cannot write") + QStringLiteral(" (") +
                                   file.errorString() + QStringLiteral(")"));
    file.write(bytes);
    if (!file.commit())
        return fileError(path, QStringLiteral("cannot write") + QStringLiteral(" (") +
                                   file.errorString() + QStringLiteral(")"));
    return {};
}

QByteArray latin1Lines(const QStringList& lines)
{
    return lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n";
}

QString quoted(const QString& field)
{
    return QLatin1Char('"') + field + QLatin1Char('"');
}

// The SPC database with its data files, and the two configuration databases
// with TLVDirec.IAU naming them. Databases that exist are kept (they may hold
// the person's own edits) unless a rebuild is asked for.
Status buildDemoDatabases(const DemoInstallationOptions& options, const QDir& program,
                          const QDir& iauDir, const QString& data)
{
    const QString qualitra = QDir(data).filePath(QStringLiteral("Qualitra.MDB"));
    const QString config1 = program.filePath(QStringLiteral("TLVConf.mdb"));
    const QString config2 = program.filePath(QStringLiteral("TLVConf2.mdb"));
    const QString tlvDirec = iauDir.filePath(QStringLiteral("TLVDirec.IAU"));

    if (options.recreateDatabases) {
        QDir(data).removeRecursively();
        QFile::remove(config1);
        QFile::remove(config2);
        QFile::remove(tlvDirec);
    }
    if (!QFileInfo::exists(qualitra)) {
        // The data files belong to the SPC database: rebuild them together.
        QDir(data).removeRecursively();
        if (!QDir().mkpath(data))
            return fileError(data, QStringLiteral("cannot create the data directory"));
        if (Status s = createQualitraDemoFile(qualitra, options.passBD); !s)
            return s;
        // The data files follow the assignment chain of the database just built.
        auto spc = EngineLayer::open(jetConnectionString(qualitra, options.passBD));
        if (!spc)
            return spc.error();
        if (Status s = createDemoDataFiles(
                *spc.value(), QDir::toNativeSeparators(data) + QDir::separator(), options.passBD);
            !s)
            return s;
    }
    if (!QFileInfo::exists(config1))
        if (Status s = buildDemoConfigDatabase(config1, options.passBD); !s)
            return s;
    if (!QFileInfo::exists(config2))
        if (Status s = buildSecondDemoConfigDatabase(config2, options.passBD); !s)
            return s;
    if (!QFileInfo::exists(tlvDirec)) {
        const QStringList paths = {QDir::toNativeSeparators(config1),
                                   QDir::toNativeSeparators(config2)};
        if (Status s = writeFile(tlvDirec, latin1Lines(paths)); !s)
            return s;
    }
    return {};
}

} // namespace

Status buildDemoInstallation(const DemoInstallationOptions& options, const CoverPainter& drawCover)
{
    const QDir program(options.programDir);
    if (!program.exists())
        return fileError(options.programDir, QStringLiteral("program directory not found"));
    const QString iau = program.filePath(QStringLiteral("IAu"));
    const QString data = program.filePath(QStringLiteral("DemoData"));
    if (!QDir().mkpath(iau) || !QDir().mkpath(data))
        return fileError(iau, QStringLiteral("cannot create the installation directories"));
    const QDir iauDir(iau);

    const QStringList company = {QStringLiteral("Planta de demostración Telvar"),
                                 QStringLiteral("QLTR2026"), QStringLiteral("Demo")};
    if (Status s = writeFile(
            iauDir.filePath(QStringLiteral("QLCompa.iau")),
            unicodeFileBytes(company.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
        !s)
        return s;
    if (Status s = writeFile(iauDir.filePath(QStringLiteral("QLLang.IAU")),
                             unicodeFileBytes(languageFileText(1)));
        !s)
        return s;

    const std::optional<QByteArray> password = encodePassword(options.passBD);
    if (!password)
        return Error{5, QStringLiteral("telvar_demo_install"),
                     QStringLiteral("the database password cannot be encoded: each "
                                    "character must have a code in 33..126")};
    if (Status s = writeFile(iauDir.filePath(QStringLiteral("QLTRPASS.IAU")), *password + "\r\n");
        !s)
        return s;

    const QString dataWithSeparator = QDir::toNativeSeparators(data) + QDir::separator();
    const QStringList directory = {
        QStringLiteral("[IMAGE]"),          quoted(QStringLiteral("demo")),
        QStringLiteral("[JET4]"),           quoted(dataWithSeparator),
        QStringLiteral("[POSTGRESQL]"),     quoted(QStringLiteral("127.0.0.1:5432")),
        quoted(QStringLiteral("qualitra")), quoted(QStringLiteral("telvar"))};
    // One field per line except the server entry, which keeps its fields together.
    QStringList directoryLines = {directory[0] + QStringLiteral(",") + directory[1],
                                  directory[2] + QStringLiteral(",") + directory[3],
                                  directory.mid(4).join(QStringLiteral(","))};
    if (Status s =
            writeFile(iauDir.filePath(QStringLiteral("QLDirec.iau")), latin1Lines(directoryLines));
        !s)
        return s;

    const QStringList shifts = {QStringLiteral("4"), QStringLiteral("\"N\",600"),
                                QStringLiteral("\"M\",1400"), QStringLiteral("\"T\",2200"),
                                QStringLiteral("\"N\",2400")};
    if (Status s = writeFile(iauDir.filePath(QStringLiteral("QLTurn.IAU")), latin1Lines(shifts));
        !s)
        return s;

    if (Status s =
            drawCover(iauDir.filePath(QStringLiteral("CARATULA1.JPG")), QStringLiteral("Telvar"),
                      QStringLiteral("Ruteador de lecturas para Qualitra"));
        !s)
        return s;
    if (Status s =
            drawCover(iauDir.filePath(QStringLiteral("CARATULA2.JPG")), QStringLiteral("Telvar"),
                      QStringLiteral("Reading router for Qualitra"));
        !s)
        return s;

    return buildDemoDatabases(options, program, iauDir, data);
}

} // namespace telvar::demo
