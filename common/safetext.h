// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class QJsonDocument;

// Text from the network or from a file can carry characters that make a terminal, a log or a
// widget show something else than the text: control characters (escape sequences, line
// breaks), bidirectional overrides and isolates (which reorder what follows), and the
// Unicode line and paragraph separators. Every such text passes through here on its way out.
namespace SafeText {

// C0 and C1 controls and DEL, the bidirectional marks, embeddings, overrides and isolates,
// and U+2028 / U+2029.
bool isUnsafe(char16_t c);
bool containsUnsafe(const QString &text);
// text with every unsafe character shown as '?'.
QString shown(QString text);
// The compact JSON text of document, with every unsafe character inside its strings written
// as a \uXXXX escape: the data stays exact, the text stays inert on a terminal.
QByteArray json(const QJsonDocument &document);

} // namespace SafeText
