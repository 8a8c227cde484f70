#include "app/HeadlessInteraccion.h"

#include "common/LogText.h"

#include <QStringList>
#include <cstdio>

namespace telvar {

namespace {

QString kindName(BoxKind kind)
{
    switch (kind) {
    case BoxKind::Critical:
        return QStringLiteral("critical");
    case BoxKind::Question:
        return QStringLiteral("question");
    case BoxKind::Exclamation:
        return QStringLiteral("warning");
    case BoxKind::Information:
        return QStringLiteral("information");
    case BoxKind::Plain:
        break;
    }
    return QStringLiteral("message");
}

} // namespace

void writeStandardErrorLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

HeadlessInteraccion::HeadlessInteraccion(LineWriter write)
    : m_write(write ? std::move(write) : LineWriter(writeStandardErrorLine))
{
}

QString HeadlessInteraccion::lineFor(BoxKind kind, const QString& text)
{
    // Boxes break their lines with LF (and some with CR LF); blank lines
    // only space a box out.
    QStringList lines;
    for (const QString& line : QString(text)
                                   .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                   .split(QLatin1Char('\n'))) {
        const QString shown = line.trimmed();
        if (!shown.isEmpty())
            lines.append(logLineText(shown));
    }
    return QStringLiteral("Telvar ") + kindName(kind) + QStringLiteral(": ") +
           lines.join(QStringLiteral(" | "));
}

void HeadlessInteraccion::messageBox(const QString& text, BoxKind kind)
{
    m_write(lineFor(kind, text));
}

void HeadlessInteraccion::mensaBox(const QString& mensaje, BoxKind icono, double)
{
    m_write(lineFor(icono, mensaje));
}

void HeadlessInteraccion::notice(const QString& text, BoxKind kind, double)
{
    m_write(lineFor(kind, text));
}

bool HeadlessInteraccion::questionBox(const QString& question)
{
    m_write(lineFor(BoxKind::Question, question));
    unanswered(QStringLiteral("the question above"));
    return false;
}

std::optional<QString> HeadlessInteraccion::inputBox(const QString& prompt, InputEcho echo)
{
    m_write(lineFor(BoxKind::Question, prompt));
    unanswered(echo == InputEcho::Password ? QStringLiteral("the password asked above (it must "
                                                            "come from the installation's files)")
                                           : QStringLiteral("the input asked above"));
    return std::nullopt;
}

QString HeadlessInteraccion::superListBox(const ListPickerRequest& request)
{
    m_write(lineFor(BoxKind::Question, request.Title));
    unanswered(QStringLiteral("the choice asked above"));
    return QString();
}

void HeadlessInteraccion::unanswered(const QString& what)
{
    m_write(QStringLiteral("Telvar: running without a screen, nobody can answer ") + what +
            QStringLiteral("; it is taken as cancelled"));
}

} // namespace telvar
