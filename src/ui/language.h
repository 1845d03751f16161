#pragma once

#include <QString>
#include <QStringList>

namespace kibro {

// The language the windows speak for a list of UI languages, best first (as
// QLocale::uiLanguages() gives them): "en", "de" or "fr"; empty for Japanese, the program's own
// language, which the C and POSIX locales show too. Any other list falls back to English.
[[nodiscard]] QString translationLanguage(const QStringList& uiLanguages);

// The language installTranslation put the windows into; empty for Japanese.
[[nodiscard]] QString shownLanguage();

// Installs the program's translation into that language, and Qt's own for the buttons Qt
// draws, on the running application; nothing for Japanese. False when the program's is missing.
[[nodiscard]] bool installTranslation(const QString& language);

} // namespace kibro
