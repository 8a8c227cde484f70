#pragma once

#include <QString>
#include <QStringList>

namespace telvar {

// The captions of one window, each given a keyboard mnemonic (an '&' before
// the character that Alt selects) that no other caption of the window has.
// A caption that marks its own ('&' before a character) keeps it while that
// character is free. Otherwise the first free character is taken, trying in
// turn: the first letters of its words (A-Z, 0-9), any letter A-Z or digit,
// then any other letter or number. Characters are compared without case. A
// caption with no free character gets no mnemonic. An '&' that marks no
// mnemonic is kept as a plain '&' ("&&"), so texts from a language file show
// as they are written.
QStringList withMnemonics(const QStringList& captions);

// The caption as it shows: its mnemonic mark removed, "&&" as "&".
QString withoutMnemonic(const QString& caption);

// The character a caption's mnemonic selects, case-folded; a null QChar when
// it has none.
QChar mnemonicOf(const QString& caption);

} // namespace telvar
