#include "config/ConfigLookup.h"

#include "config/ConfigGridModel.h"

namespace telvar {

int ConfigLookup::count() const
{
    return m_rsConf.rowCount();
}

ConfigRow ConfigLookup::row(int i) const
{
    return m_rsConf.row(i);
}

std::optional<ConfigRow> ConfigLookup::find(int puert) const
{
    const std::optional<int> i = m_rsConf.rowOfPuert(puert);
    if (!i)
        return std::nullopt;
    return m_rsConf.row(*i);
}

} // namespace telvar
