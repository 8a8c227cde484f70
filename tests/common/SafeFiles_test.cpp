#include "common/SafeFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <functional>
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

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

struct stat statOf(const QString& path)
{
    struct stat info {};
    (void)::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

// Sets the process's umask for a test's length.
class UmaskFor final {
public:
    explicit UmaskFor(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskFor() { ::umask(m_old); }

private:
    mode_t m_old;
};

// What the program does with a file at a name of a folder.
struct Operation {
    const char* name;
    std::function<Status(const SafeFolder&, const QString&)> act;
};

const Operation kOperations[] = {
    {"Replace", [](const SafeFolder& f, const QString& n) { return f.replace(n, "new\n"); }},
    {"Append",
     [](const SafeFolder& f, const QString& n) -> Status {
         Result<FileHandle> file = f.openInPlace(n, O_WRONLY | O_APPEND);
         return file ? Status() : Status(file.error());
     }},
    {"Read",
     [](const SafeFolder& f, const QString& n) -> Status {
         Result<FileHandle> file = f.openForReading(n);
         return file ? Status() : Status(file.error());
     }},
    {"RenameFrom", [](const SafeFolder& f, const QString& n) { return f.rename(n, u"other"_s); }},
    {"RenameOnto",
     [](const SafeFolder& f, const QString& n) -> Status {
         // A file of the program's own, moved onto the name.
         if (Result<FileHandle> mine = f.openInPlace(u"mine"_s, O_WRONLY); !mine)
             return mine.error();
         return f.rename(u"mine"_s, n);
     }},
};

class SafeFilesAt : public ::testing::TestWithParam<Operation> {};

TEST_P(SafeFilesAt, ALinkIsRefusedAndWhatItPointsToIsLeftAsItWas)
{
    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    const QString secret = elsewhere.filePath(u"secret"_s);
    writeFile(secret, "root only\n");
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
    for (const QString& target : {secret, elsewhere.filePath(u"missing"_s)}) {
        SCOPED_TRACE(target.toStdString());
        ASSERT_TRUE(QFile::link(target, folder.filePath(u"file"_s)));
        Result<SafeFolder> at = SafeFolder::open(folder.path());
        ASSERT_TRUE(at);
        const Status done = GetParam().act(at.value(), u"file"_s);
        ASSERT_FALSE(done);
        EXPECT_TRUE(done.error().description.contains(u"symbolic link"_s))
            << done.error().description.toStdString();
        EXPECT_TRUE(done.error().description.contains(folder.filePath(u"file"_s)));
        EXPECT_TRUE(QFileInfo(folder.filePath(u"file"_s)).isSymLink());
        EXPECT_EQ(contents(secret), "root only\n");
        EXPECT_EQ(statOf(secret).st_mode & 07777, 0600u);
        EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath(u"missing"_s)));
        QFile::remove(folder.filePath(u"file"_s));
    }
}

TEST_P(SafeFilesAt, AFileOfAnotherAccountIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a file of another account takes root";
    // A shared folder of root's (as /tmp), and a folder of another account
    // where root's own file was planted or left.
    struct Case {
        const char* name;
        uid_t folderOwner;
        mode_t folderMode;
        uid_t fileOwner;
    };
    const Case cases[] = {{"SharedRootFolder", 0, 01777, kNobody},
                          {"AnotherAccountsFolder", kNobody, 0750, 0},
                          {"ThirdAccountInAnotherAccountsFolder", kNobody, 0750, 4242}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QByteArray dir = QFile::encodeName(folder.path());
        ASSERT_EQ(::chown(dir.constData(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(dir.constData(), c.folderMode), 0);
        const QString file = folder.filePath(u"file"_s);
        writeFile(file, "theirs\n");
        ASSERT_EQ(::chown(QFile::encodeName(file).constData(), c.fileOwner, c.fileOwner), 0);
        Result<SafeFolder> at = SafeFolder::open(folder.path());
        ASSERT_TRUE(at);
        const Status done = GetParam().act(at.value(), u"file"_s);
        ASSERT_FALSE(done);
        EXPECT_TRUE(done.error().description.contains(u"belongs to the account"_s))
            << done.error().description.toStdString();
        EXPECT_EQ(contents(file), "theirs\n");
        EXPECT_EQ(statOf(file).st_uid, c.fileOwner);
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, SafeFilesAt, ::testing::ValuesIn(kOperations),
                         [](const auto& op) { return std::string(op.param.name); });

TEST(SafeFiles, NewFilesAreTheirOwnersAndGroupsAloneWhateverTheUmask)
{
    const UmaskFor mask(0);
    QTemporaryDir folder;
    Result<SafeFolder> at = SafeFolder::open(folder.path());
    ASSERT_TRUE(at);
    ASSERT_TRUE(at.value().replace(u"replaced"_s, "x"));
    ASSERT_TRUE(at.value().openInPlace(u"appended"_s, O_WRONLY | O_APPEND));
    QString created;
    ASSERT_TRUE(at.value().createNew(u"new-"_s, created));
    ASSERT_TRUE(replaceFile(folder.filePath(u"again"_s), "x"));
    for (const QString& name : {QStringLiteral("replaced"), QStringLiteral("appended"), created,
                                QStringLiteral("again")}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(statOf(folder.filePath(name)).st_mode & 07777, 0640u);
    }
    // A replacement leaves nothing beside the file.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

TEST(SafeFiles, RootMakingFilesInAnotherAccountsFolderGivesThemToThatAccount)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting in another account's folder as root takes root";
    QTemporaryDir folder;
    ASSERT_EQ(::chown(QFile::encodeName(folder.path()).constData(), kNobody, kNobody), 0);
    Result<SafeFolder> at = SafeFolder::open(folder.path());
    ASSERT_TRUE(at);
    ASSERT_TRUE(at.value().replace(u"replaced"_s, "x"));
    ASSERT_TRUE(at.value().openInPlace(u"appended"_s, O_WRONLY | O_APPEND));
    // Its own files are what it may write again.
    ASSERT_TRUE(at.value().replace(u"replaced"_s, "y"));
    for (const char* name : {"replaced", "appended"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(statOf(folder.filePath(QLatin1String(name))).st_uid, kNobody);
        EXPECT_EQ(statOf(folder.filePath(QLatin1String(name))).st_gid, kNobody);
    }
}

TEST(SafeFiles, AHardLinkIsNotWrittenInPlace)
{
    QTemporaryDir folder;
    writeFile(folder.filePath(u"one"_s), "one\n");
    ASSERT_EQ(::link(QFile::encodeName(folder.filePath(u"one"_s)).constData(),
                     QFile::encodeName(folder.filePath(u"two"_s)).constData()),
              0);
    Result<SafeFolder> at = SafeFolder::open(folder.path());
    ASSERT_TRUE(at);
    Result<FileHandle> opened = at.value().openInPlace(u"two"_s, O_WRONLY | O_APPEND);
    ASSERT_FALSE(opened);
    EXPECT_TRUE(opened.error().description.contains(u"hard link"_s));
}

TEST(SafeFiles, ALinkAtTheDatabaseOrAnyOfItsSideFilesIsRefusedBeforeSqliteOpensIt)
{
    for (const QString& suffix :
         {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        SCOPED_TRACE(suffix.toStdString());
        QTemporaryDir folder;
        const QString database = folder.filePath(u"Outbox.sqlite"_s);
        writeFile(folder.filePath(u"elsewhere"_s), "kept\n");
        if (!suffix.isEmpty())
            writeFile(database, QByteArray());
        EXPECT_TRUE(checkSqliteFiles(database));
        ASSERT_TRUE(QFile::link(folder.filePath(u"elsewhere"_s), database + suffix));
        const Status checked = checkSqliteFiles(database);
        ASSERT_FALSE(checked);
        EXPECT_TRUE(checked.error().description.contains(database + suffix));
        EXPECT_TRUE(checked.error().description.contains(u"symbolic link"_s));
        EXPECT_EQ(contents(folder.filePath(u"elsewhere"_s)), "kept\n");
    }
}

TEST(SafeFiles, RootOnAnotherAccountsFolderIsRefusedWithTheCommandToRunUnlessAllowed)
{
    QTemporaryDir folder;
    // Under root the folder is given away; otherwise it is this user's, and
    // root is what the check is told this process is.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(folder.path()).constData(), kNobody, kNobody), 0);
    }
    const uid_t owner = statOf(folder.path()).st_uid;
    QTemporaryDir rootsFolder;
    struct Case {
        const char* name;
        QString folder;
        uid_t euid;
        bool allowed;
        bool refused;
    };
    const Case cases[] = {
        {"RootOnAnotherAccountsFolder", folder.path(), 0, false, true},
        {"RootAllowed", folder.path(), 0, true, false},
        {"TheOwnerItself", folder.path(), owner, false, false},
        {"AnotherAccount", folder.path(), owner + 1, false, false},
        {"RootOnItsOwnFolder", QStringLiteral("/"), 0, false, false},
    };
    const QStringList arguments{QStringLiteral("--headless"), QStringLiteral("--installation"),
                                folder.path()};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString line = rootOnForeignFolderRefusal(QStringLiteral("telvar"), c.folder,
                                                        arguments, c.euid, c.allowed);
        EXPECT_EQ(!line.isEmpty(), c.refused) << line.toStdString();
        if (c.refused) {
            const QString account = foreignFolderOwner(c.folder, 0);
            EXPECT_FALSE(account.isEmpty());
            EXPECT_TRUE(line.contains(QStringLiteral("sudo -u ") + account +
                                      QStringLiteral(" telvar --headless --installation ") +
                                      folder.path()))
                << line.toStdString();
            EXPECT_TRUE(line.contains(QStringLiteral("--allow-root-on-foreign-folder")));
        }
    }
    // An argument with blanks or quotes reaches the shell as one.
    const QString quoted = rootOnForeignFolderRefusal(QStringLiteral("telvar"), folder.path(),
                                                      {QStringLiteral("it's here")}, 0, false);
    EXPECT_TRUE(quoted.contains(QStringLiteral("telvar 'it'\\''s here'"))) << quoted.toStdString();
}

TEST(SafeFolder, AMissingFolderOrAFileInsteadOfOneIsRefused)
{
    QTemporaryDir folder;
    writeFile(folder.filePath(u"file"_s), "x");
    for (const QString& path : {folder.filePath(u"missing"_s), folder.filePath(u"file"_s)}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(SafeFolder::open(path));
    }
    // Through a link the folder it names is opened, resolved.
    ASSERT_TRUE(QFile::link(folder.path(), folder.filePath(u"link"_s)));
    Result<SafeFolder> linked = SafeFolder::open(folder.filePath(u"link"_s));
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked.value().path(), QDir(folder.path()).canonicalPath());
}

} // namespace
} // namespace telvar
