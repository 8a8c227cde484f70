#include "portform/Mnemonics.h"

#include <QSet>

namespace telvar {

namespace {

// A caption read apart: the text it shows and the index in it of the
// character its own mark selects (-1 when none).
struct Parsed {
    QString text;
    qsizetype marked = -1;
};

Parsed parse(const QString& caption)
{
    Parsed parsed;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        const QChar c = caption[i];
        if (c != QLatin1Char('&')) {
            parsed.text += c;
            continue;
        }
        if (i + 1 >= caption.size()) {
            parsed.text += QLatin1Char('&'); // a trailing '&' marks nothing
            break;
        }
        if (caption[i + 1] == QLatin1Char('&')) {
            parsed.text += QLatin1Char('&');
            ++i;
            continue;
        }
        if (caption[i + 1].isSpace()) {
            parsed.text += QLatin1Char('&'); // "A & B": a plain '&'
            continue;
        }
        if (parsed.marked < 0)
            parsed.marked = parsed.text.size();
    }
    return parsed;
}

QChar folded(QChar c)
{
    return c.toCaseFolded();
}

bool isPlainAlnum(QChar c)
{
    return c.unicode() < 128 && c.isLetterOrNumber();
}

bool startsWord(const QString& text, qsizetype i)
{
    return i == 0 || !text[i - 1].isLetterOrNumber();
}

qsizetype choose(const QString& text, const QSet<QChar>& taken)
{
    auto free = [&](qsizetype i) { return !taken.contains(folded(text[i])); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isPlainAlnum(text[i]) && startsWord(text, i) && free(i))
            return i;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isPlainAlnum(text[i]) && free(i))
            return i;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isLetterOrNumber() && free(i))
            return i;
    }
    return -1;
}

QString rebuilt(const QString& text, qsizetype mnemonic)
{
    QString caption;
    caption.reserve(text.size() + 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == mnemonic)
            caption += QLatin1Char('&');
        if (text[i] == QLatin1Char('&'))
            caption += QLatin1Char('&');
        caption += text[i];
    }
    return caption;
}

} // namespace

QStringList withMnemonics(const QStringList& captions)
{
    QList<Parsed> parsed;
    parsed.reserve(captions.size());
    for (const QString& caption : captions)
        parsed.append(parse(caption));

    // The captions' own marks come first, in order; a mark whose character
    // an earlier caption holds is dropped.
    QSet<QChar> taken;
    for (Parsed& p : parsed) {
        if (p.marked < 0)
            continue;
        const QChar c = folded(p.text[p.marked]);
        if (!p.text[p.marked].isLetterOrNumber() || taken.contains(c))
            p.marked = -1;
        else
            taken.insert(c);
    }
    for (Parsed& p : parsed) {
        if (p.marked >= 0)
            continue;
        p.marked = choose(p.text, taken);
        if (p.marked >= 0)
            taken.insert(folded(p.text[p.marked]));
    }

    QStringList result;
    result.reserve(parsed.size());
    for (const Parsed& p : parsed)
        result.append(rebuilt(p.text, p.marked));
    return result;
}

QString withoutMnemonic(const QString& caption)
{
    return parse(caption).text;
}

QChar mnemonicOf(const QString& caption)
{
    const Parsed p = parse(caption);
    return p.marked < 0 ? QChar() : folded(p.text[p.marked]);
}

} // namespace telvar
