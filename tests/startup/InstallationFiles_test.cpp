#include "startup/InstallationFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct RutaConBarraCase {
    QString path;
    QString expected;
};

class RutaConBarraCases : public testing::TestWithParam<RutaConBarraCase> {};

TEST_P(RutaConBarraCases, TrimsAndEndsInASeparator)
{
    EXPECT_EQ(telvar::RutaConBarra(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RutaConBarraCases,
    testing::Values(RutaConBarraCase{u"/opt/telvar"_s, u"/opt/telvar"_s + QDir::separator()},
                    RutaConBarraCase{u"  /opt/telvar  "_s, u"/opt/telvar"_s + QDir::separator()},
                    RutaConBarraCase{u"/opt/telvar/"_s, u"/opt/telvar/"_s},
                    RutaConBarraCase{u" /opt/telvar/ "_s, u"/opt/telvar/"_s},
                    RutaConBarraCase{u"C:\\Telvar\\"_s, u"C:\\Telvar\\"_s},
                    RutaConBarraCase{u"C:"_s, u"C:"_s},
                    RutaConBarraCase{u""_s, QString(QDir::separator())}));

class FindInstallationFile : public testing::Test {
protected:
    void touch(const QString& name)
    {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QString dir() const { return m_dir.path() + u"/"_s; }

    QTemporaryDir m_dir;
};

TEST_F(FindInstallationFile, MatchesTheNameInAnyCase)
{
    touch(u"QLDIREC.IAU"_s);
    EXPECT_EQ(telvar::findInstallationFile(dir(), u"QLDirec.iau"_s), dir() + u"QLDIREC.IAU"_s);
    EXPECT_EQ(telvar::findInstallationFile(dir(), u"qldirec.IAU"_s), dir() + u"QLDIREC.IAU"_s);
}

TEST_F(FindInstallationFile, PrefersTheExactSpelling)
{
    touch(u"QLTURN.IAU"_s);
    touch(u"QLTurn.IAU"_s);
    EXPECT_EQ(telvar::findInstallationFile(dir(), u"QLTurn.IAU"_s), dir() + u"QLTurn.IAU"_s);
}

TEST_F(FindInstallationFile, FindsDirectoriesToo)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(u"IAU"_s));
    EXPECT_EQ(telvar::findInstallationFile(dir(), u"IAu"_s), dir() + u"IAU"_s);
}

TEST_F(FindInstallationFile, GivesThePathAsWrittenWhenNothingMatches)
{
    touch(u"QLDirec.iau.bak"_s);
    EXPECT_EQ(telvar::findInstallationFile(dir(), u"QLDirec.iau"_s), dir() + u"QLDirec.iau"_s);
    EXPECT_EQ(telvar::findInstallationFile(dir() + u"missing/"_s, u"QLDirec.iau"_s),
              dir() + u"missing/QLDirec.iau"_s);
}

} // namespace
