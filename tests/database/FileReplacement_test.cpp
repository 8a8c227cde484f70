#include "database/FileReplacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

constexpr uid_t kNobody = 65534;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct stat statOf(const QString& path)
{
    struct stat info {};
    (void)::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

// The whole replacement as telvar-import --replace runs it: "" when the file
// was replaced by "new", else why not.
QString replaceWithNew(const QString& path)
{
    Result<FileReplacement> replacement = FileReplacement::prepare(path);
    if (!replacement)
        return replacement.error().description;
    Result<QString> backup = replacement.value().backUp();
    if (!backup)
        return backup.error().description;
    Result<QString> newVersion = replacement.value().newVersionFile();
    if (!newVersion)
        return newVersion.error().description;
    if (!writeFile(newVersion.value(), "new"))
        return u"the new version cannot be written"_s;
    if (Status replaced = replacement.value().replaceWith(newVersion.value()); !replaced) {
        FileReplacement::removeWithSideFiles(newVersion.value());
        replacement.value().discardBackup();
        return replaced.error().description;
    }
    return QString();
}

// Something planted at a name beside the database (the name's suffix to
// the database's): a link to a root-only file elsewhere, or a file of
// another account.
struct Planted {
    const char* name;
    const char* suffix;
    bool link;
    const char* said;
};

const Planted kPlanted[] = {
    {"LinkAtTheFile", "", true, "outside its folder"},
    {"LinkAtTheJournal", "-journal", true, "symbolic link"},
    {"LinkAtTheWal", "-wal", true, "symbolic link"},
    {"LinkAtTheShm", "-shm", true, "symbolic link"},
    {"LinkAtTheBackup", ".bak", true, "symbolic link"},
    {"LinkAtTheBackupsWal", ".bak-wal", true, "symbolic link"},
    {"OtherAccountsWal", "-wal", false, "belongs to the account"},
    {"OtherAccountsShm", "-shm", false, "belongs to the account"},
    {"OtherAccountsBackup", ".bak", false, "belongs to the account"},
};

class FileReplacementPlanted : public ::testing::TestWithParam<Planted> {};

TEST_P(FileReplacementPlanted, IsRefusedAndNothingIsWrittenAnywhere)
{
    const Planted& planted = GetParam();
    const bool root = ::geteuid() == 0;
    if (!planted.link && !root)
        GTEST_SKIP() << "a file of another account takes root to make";
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    // As the service's folder is: another account's, which run as root is
    // the case that matters. Without root: this user's own.
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), kNobody, kNobody), 0);
    }
    const QString target = dir.filePath(u"TLVConf.mdb"_s);
    ASSERT_TRUE(writeFile(target, "old"));
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(target).constData(), kNobody, kNobody), 0);
    }
    const QString shadow = elsewhere.filePath(u"shadow"_s);
    ASSERT_TRUE(writeFile(shadow, "secret"));
    ASSERT_EQ(::chmod(QFile::encodeName(shadow).constData(), 0600), 0);
    const QString at = target + QLatin1String(planted.suffix);
    if (planted.link) {
        if (QLatin1String(planted.suffix).isEmpty()) {
            ASSERT_TRUE(QFile::remove(target));
        }
        ASSERT_TRUE(QFile::link(shadow, at));
    } else {
        ASSERT_TRUE(writeFile(at, "theirs"));
        ASSERT_EQ(::chown(QFile::encodeName(at).constData(), 4242, 4242), 0);
    }
    const QStringList before =
        QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);

    const QString why = replaceWithNew(target);
    ASSERT_FALSE(why.isEmpty());
    EXPECT_TRUE(why.contains(QLatin1String(planted.said))) << why.toStdString();
    EXPECT_TRUE(why.contains(planted.link && QLatin1String(planted.suffix).isEmpty() ? target : at))
        << why.toStdString();
    EXPECT_EQ(contents(shadow), "secret");
    EXPECT_EQ(statOf(shadow).st_mode & 07777, 0600u);
    EXPECT_EQ(statOf(shadow).st_uid, ::geteuid());
    if (!QLatin1String(planted.suffix).isEmpty()) {
        EXPECT_EQ(contents(target), "old");
    }
    // Nothing new beside it: no backup, no temporary file.
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              before);
}

INSTANTIATE_TEST_SUITE_P(Names, FileReplacementPlanted, ::testing::ValuesIn(kPlanted),
                         [](const auto& planted) { return std::string(planted.param.name); });

TEST(FileReplacement, AFileOfAnAccountTheFolderDoesNotBelongToIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a file of another account takes root to make";
    struct Case {
        const char* name;
        uid_t folderOwner;
        uid_t fileOwner;
    };
    // Root's own file in another account's folder (planted, or a hard link
    // to one of root's), and a third account's file there.
    const Case cases[] = {{"RootsFileInAnotherAccountsFolder", kNobody, 0},
                          {"AThirdAccountsFile", kNobody, 4242}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), c.folderOwner, c.folderOwner),
                  0);
        const QString target = dir.filePath(u"TLVConf.mdb"_s);
        ASSERT_TRUE(writeFile(target, "old"));
        ASSERT_EQ(::chown(QFile::encodeName(target).constData(), c.fileOwner, c.fileOwner), 0);
        const QString why = replaceWithNew(target);
        EXPECT_TRUE(why.contains(u"belongs to the account"_s)) << why.toStdString();
        EXPECT_EQ(contents(target), "old");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{u"TLVConf.mdb"_s});
    }
}

TEST(FileReplacement, InAnotherAccountsFolderRootReplacesThatAccountsFileAndItKeepsItAll)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "another account's folder takes root to make";
    QTemporaryDir dir;
    ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), kNobody, kNobody), 0);
    const QString target = dir.filePath(u"TLVConf.mdb"_s);
    ASSERT_TRUE(writeFile(target, "old"));
    ASSERT_TRUE(writeFile(target + u"-wal"_s, "wal"));
    for (const QString& file : {target, target + u"-wal"_s}) {
        ASSERT_EQ(::chown(QFile::encodeName(file).constData(), kNobody, kNobody), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    }
    ASSERT_EQ(replaceWithNew(target), QString());
    EXPECT_EQ(contents(target), "new");
    EXPECT_EQ(contents(target + u".bak"_s), "old");
    EXPECT_EQ(contents(target + u".bak-wal"_s), "wal");
    for (const QString& file : {target, target + u".bak"_s, target + u".bak-wal"_s}) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_EQ(statOf(file).st_uid, kNobody);
        EXPECT_EQ(statOf(file).st_mode & 07777, 0640u);
    }
}

TEST(FileReplacement, ALinkToAFileInsideItsFolderIsFollowedAndStays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(u"datos"_s));
    const QString real = dir.filePath(u"datos/TLVConf.mdb"_s);
    ASSERT_TRUE(writeFile(real, "old"));
    const QString link = dir.filePath(u"TLVConf.mdb"_s);
    ASSERT_TRUE(QFile::link(u"datos/TLVConf.mdb"_s, link));
    ASSERT_EQ(replaceWithNew(link), QString());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(contents(real), "new");
    EXPECT_EQ(contents(real + u".bak"_s), "old");
}

} // namespace
} // namespace telvar
