#include "acquisition/MarkerLimits.h"

#include "common/ErrorNumbers.h"
#include "common/Modulo1.h"
#include "common/TrimBlanks.h"
#include "database/Connection.h"
#include "database/OpenDBOK.h"

namespace telvar {

namespace {

// The three keys as one unambiguous text: each is preceded by its length.
QString tripleKey(const QString& machine, const QString& product, const QString& characteristic)
{
    QString key;
    for (const QString* text : {&machine, &product, &characteristic}) {
        key += QString::number(text->size());
        key += QLatin1Char(':');
        key += *text;
    }
    return key;
}

// What an opening that was abandoned at the password prompt leaves to use.
Error connectionNotOpen()
{
    return Error{ErrorNumber::ConnectionNotOpen, QStringLiteral("Telvar"),
                 QStringLiteral("The connection cannot be used to perform this operation. "
                                "It is either closed or invalid in this context.")};
}

} // namespace

MarkerLimits::MarkerLimits(Modulo1& m, Interaccion& ui) : m_m(m), m_ui(ui) {}

MarkerLimits::~MarkerLimits() = default;

Result<Limits> MarkerLimits::limitsFor(const QString& machine, const QString& product,
                                       const QString& characteristic, const Limits& configured)
{
    const QString maq = trimBlanks(machine);
    const QString pro = trimBlanks(product);
    const QString car = trimBlanks(characteristic);
    const QString key = tripleKey(maq, pro, car);
    if (const auto known = m_answers.constFind(key); known != m_answers.cend())
        return known.value().value_or(configured);

    if (std::optional<Error> failed = open())
        return *failed;
    Result<std::optional<Limits>> found = m_cxp->find(maq, pro, car);
    if (!found) {
        m_cxp.reset();
        m_cn.reset();
        return found.error();
    }
    m_answers.insert(key, found.value());
    return found.value().value_or(configured);
}

void MarkerLimits::reset()
{
    m_answers.clear();
    m_cxp.reset();
    m_cn.reset();
}

bool MarkerLimits::isOpen() const
{
    return m_cn && m_cn->isOpen();
}

std::optional<Error> MarkerLimits::open()
{
    if (m_cxp)
        return std::nullopt;
    OpenDBOKResult opened =
        OpenDBOK(m_m, m_ui, OpenRequest{m_m.CadConexion, m_m.TipoBD, /*Avisa=*/true});
    keepTypedPassword(m_m, opened);
    if (!opened)
        return opened.error ? *opened.error : connectionNotOpen();
    m_cn = std::move(opened.cn);
    m_cxp = std::make_unique<CxpLimits>(*m_cn);
    return std::nullopt;
}

} // namespace telvar
