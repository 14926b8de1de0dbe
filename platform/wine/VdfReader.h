#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace qm {

// One entry of a Valve key-value text file: a key with either a text or a block of
// entries of its own.
struct VdfEntry
{
    QString key;
    QString text;                  // the value, when the entry is no block
    std::vector<VdfEntry> entries; // the block's entries, in file order
    bool isBlock = false;

    // The first entry of the block with this key, compared without regard to case as
    // Steam does; nothing when there is none.
    const VdfEntry *find(const QString &key) const;
};

// The deepest nesting of blocks that a file may have; Steam's own files use four or five.
inline constexpr int VdfMaxDepth = 64;

// Reads the text format of Steam's files such as "libraryfolders.vdf" (UTF-8): keys and
// values as quoted strings ("\\", "\"", "\n" and "\t" escaped) or as bare words, blocks in
// braces, "//" comments, and platform conditions such as [$LINUX] after an entry, which are
// skipped. Gives the entries at the file's top level, or nothing when the text is not
// such a file: an unterminated string or block, a stray brace, a key without a value or
// blocks nested deeper than VdfMaxDepth. Takes time in proportion to the text's length.
std::optional<std::vector<VdfEntry>> parseVdf(const QByteArray &text);

} // namespace qm
