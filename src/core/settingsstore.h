#pragma once

#include <QString>
#include <QStringView>

namespace kibro {

// The per-user store of text values: application "QUEPA_Kibro", a section, a key.
// Nothing is written unless a caller writes it; defaults belong to the reader.
class SettingsStore
{
public:
    static constexpr QStringView kApplication = u"QUEPA_Kibro";
    static constexpr QStringView kStartup = u"Startup";

    // The stored text, or the default when the key is absent.
    [[nodiscard]] QString read(QStringView section, const QString& key,
                               const QString& defaultText) const;
    // Creates or replaces a value. Throws KibroError when the store cannot be written.
    void write(QStringView section, const QString& key, const QString& text);
};

} // namespace kibro
