#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kibro {

// A path as the system knows it: bytes on Unix, whatever they are. Names from old disks are
// often Shift-JIS or carry stray bytes; going through QString would lose them.
using NativePath = QByteArray;

// A path the user or a test typed, in the system's terms, and back for display-free uses.
// Lossless only for names that are valid text; raw names must stay NativePath throughout.
[[nodiscard]] NativePath toNativePath(const QString& path);
[[nodiscard]] QString fromNativePath(const NativePath& path);

// A name as the user can read it: UTF-8 when it is valid UTF-8, Shift-JIS when it is valid
// Shift-JIS, else each byte that does not decode shown as \xNN; control and bidi characters
// shown escaped (see visibleText).
[[nodiscard]] QString readableName(const QByteArray& name);

// Control characters, and the characters that reorder or isolate text direction, shown as
// escapes (\n, \t, \x01, \u202E) so that a name can neither break a line nor turn around.
[[nodiscard]] QString visibleText(const QString& text);

// Whether the bytes are well-formed Shift-JIS (CP932 lead and trail byte ranges).
[[nodiscard]] bool isShiftJis(const QByteArray& bytes);

// The last component of a path, and a directory with a name appended with one separator.
[[nodiscard]] QByteArray baseName(const NativePath& path);
[[nodiscard]] NativePath childPath(const NativePath& directory, const QByteArray& name);

struct DirectoryEntry
{
    QByteArray name;
    bool isDirectory = false;
};

// Every entry of a directory but . and .., by its exact name; a link counts as what it
// points to. nullopt when the directory cannot be listed.
[[nodiscard]] std::optional<QList<DirectoryEntry>> listDirectory(const NativePath& path);

// The path itself when it is a directory, else the nearest parent that is; empty if none.
[[nodiscard]] NativePath nearestExistingDirectory(const NativePath& path);

// An absolute path with . and .. and doubled separators resolved by name, not by links.
[[nodiscard]] NativePath cleanNativePath(const NativePath& path);

// The path with every link in it followed; the path itself when that fails.
[[nodiscard]] NativePath resolveLinks(const NativePath& path);

} // namespace kibro
