#include "FuzzSupport.h"

#include "FuzzTarget.h"

#include <QFile>
#include <QTemporaryDir>

namespace telvar::fuzz {

std::map<std::string, Entry>& targets()
{
    static std::map<std::string, Entry> all;
    return all;
}

bool registerTarget(const char* name, Entry entry)
{
    targets()[name] = entry;
    return true;
}

QString scratchDirectory()
{
    static QTemporaryDir dir;
    return dir.path() + QLatin1Char('/');
}

QString writeScratchFile(const QString& name, const std::uint8_t* data, std::size_t size)
{
    const QString path = scratchDirectory() + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes(data, size));
    return path;
}

} // namespace telvar::fuzz
