#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// Translations of the serial component (text domain "cport"). The language comes from LANG (the part before
// the first '.', then without its territory), else from the system locale; the catalogue is
// <folder>/<language>/LC_MESSAGES/cport.mo with <folder> the "locale" folder beside the executable. The .mo
// file is read directly rather than through the C library's gettext, which ignores catalogues whenever the
// process locale is "C" -- the case whenever LANG names a locale that is not generated on the machine.

// Parses a GNU .mo file into a table of source text -> translation. Malformed or truncated files give what
// could be read safely (possibly nothing); nothing is read outside the data.
QHash<QByteArray, QString> ParseMoCatalogue(const QByteArray& data);

// The folder the catalogues are looked up in by default for an executable in executableFolder: "locale" beside
// it (the build folder), else "../share/chipwright/locale" (an installed program in <prefix>/bin).
QString DefaultCatalogueFolder(const QString& executableFolder);

// Loads (again) the "cport" catalogue and refills PortErrorTexts. An empty folder means the default folder.
// Runs by itself on first use; call it again after changing LANG or to point at another folder.
void LoadSerialLibraryTexts(const QString& localeFolder = {});

// The translation of an English source text through the "cport" domain, or the text itself.
QString CportText(const char* english);

// The 23 numbered error texts, translated; index 1 to 23 (out-of-range codes give an empty text).
QString PortErrorText(int code);
// The English source texts, for catalogue tools and tests.
const char* PortErrorSourceText(int code);
inline constexpr const char* WinErrorSuffix = " (win error code: %d)";
