#include "config/ConfigBusca.h"

#include "config/ConfigGridModel.h"

namespace telvar {

int ConfigBusca::count() const
{
    return m_rsConf.rowCount();
}

ConfigRow ConfigBusca::fila(int i) const
{
    return m_rsConf.row(i);
}

std::optional<ConfigRow> ConfigBusca::busca(int puert) const
{
    const std::optional<int> i = m_rsConf.rowOfPuert(puert);
    if (!i)
        return std::nullopt;
    return m_rsConf.row(*i);
}

} // namespace telvar
