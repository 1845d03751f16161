#include "settingsstore.h"

#include "errors.h"

#include <QSettings>
#include <QStringList>

namespace kibro {

QString SettingsStore::read(QStringView section, const QString& key,
                            const QString& defaultText) const
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kApplication.toString());
    const QVariant value = store.value(section.toString() + u'/' + key);
    if (!value.isValid())
        return defaultText;
    // A hand-edited "9600,N,8,1" without quotes comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

void SettingsStore::write(QStringView section, const QString& key, const QString& text)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kApplication.toString());
    store.setValue(section.toString() + u'/' + key, text);
    store.sync();
    if (store.status() != QSettings::NoError)
        throw KibroError(ErrorNumber::StoreFailed,
                         QStringLiteral("Cannot write %1 to %2").arg(key, store.fileName()));
}

} // namespace kibro
