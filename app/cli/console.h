// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The terminal or console that corvane-cli writes to.
namespace Console {

// Made ready for the run: on Linux a reader that goes away (`| head -1`, a closed terminal's
// tee) costs no more than the failed write to it; on Windows the console takes UTF-8, so
// the five languages' texts and non-ASCII paths show as they are (its code page is set back
// when the program ends), and lines end in "\n" alone as on Linux.
void prepare();
// Whether standard output (1) or standard error (2) is a terminal someone watches.
bool isTerminal(int stream);
// text as one word for the system's shell, so that advice can be copied as it is: a POSIX
// shell's on Linux; on Windows one that both the command prompt and PowerShell take.
QString shellWord(QString text);

} // namespace Console
