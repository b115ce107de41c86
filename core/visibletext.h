#ifndef FILEHASH_CORE_VISIBLETEXT_H
#define FILEHASH_CORE_VISIBLETEXT_H

#include <QString>

// Text from outside (the service's fields and answer, file names, paths, order numbers) as a
// document shows it, so that it can neither hide itself nor reorder what stands around it: every
// Unicode control or format character (C0 and C1 controls, bidi embeddings, overrides, isolates
// and marks, zero-width characters, the byte order mark), line and paragraph separator and
// unpaired surrogate becomes a visible escape such as "<U+202E>". A long text is cut.
struct VisibleText {
    QString text;
    bool cut = false;   // text shows only the start
    int characters = 0; // in the whole text, whether cut or not
};

// At most this many characters are shown, escapes counted as the characters they print.
constexpr int kMaxVisibleCharacters = 2000;

// With maxLines 1 a line feed is escaped like any control; with more, up to maxLines lines are
// kept and the text is cut at the line feed after the last.
VisibleText visibleText(const QString &text, int maxLines = 1, int maxCharacters = kMaxVisibleCharacters);

#endif
