#include "settingsstore.h"

#include "errors.h"

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

namespace kibro {

namespace {

bool isOnDisk(const QString& fileName, const QString& path, const QString& text)
{
    // QSettings caches a file by its name and would answer from memory; a copy is read afresh.
    const QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("check.conf"));
    if (!dir.isValid() || !QFile::copy(fileName, copy))
        return false;
    const QSettings check(copy, QSettings::IniFormat);
    const QVariant value = check.value(path);
    return value.typeId() == QMetaType::QString && value.toString() == text;
}

// Says a store's trouble on stderr once, not at every key: again only after the store worked.
void sayOnce(QString& said, const QString& fileName, const char* what, const QString& reason)
{
    if (said == fileName)
        return;
    said = fileName;
    qWarning("kibro: cannot %s the settings store %s: %s", what, qUtf8Printable(fileName),
             qUtf8Printable(reason));
}

QString& unreadableSaid()
{
    static QString fileName;
    return fileName;
}

QString& unwritableSaid()
{
    static QString fileName;
    return fileName;
}

QString readFailure(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? QStringLiteral("not readable") : file.errorString();
}

// The reason the system gives for refusing the file, as QSettings writes it (a new file beside
// it that takes its place).
QString writeFailure(const QString& fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.cancelWriting();
    return QStringLiteral("not written");
}

} // namespace

QString SettingsStore::read(QStringView section, const QString& key,
                            const QString& defaultText) const
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kApplication.toString());
    const QVariant value = store.value(section.toString() + u'/' + key);
    if (store.status() == QSettings::AccessError)
        sayOnce(unreadableSaid(), store.fileName(), "read", readFailure(store.fileName()));
    else
        unreadableSaid().clear();
    if (!value.isValid())
        return defaultText;
    // A hand-edited "9600,N,8,1" without quotes comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

void SettingsStore::write(QStringView section, const QString& key, const QString& text)
{
    const QString path = section.toString() + u'/' + key;
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kApplication.toString());
    store.setValue(path, text);
    store.sync();
    const QSettings::Status status = store.status();
    // A hand-edited line QSettings cannot parse leaves a format error that hides whether
    // this write reached the disk, so the disk is asked.
    if (status == QSettings::NoError ||
        (status == QSettings::FormatError && isOnDisk(store.fileName(), path, text))) {
        unwritableSaid().clear();
        return;
    }
    sayOnce(unwritableSaid(), store.fileName(), "write", writeFailure(store.fileName()));
    throw KibroError(ErrorNumber::StoreFailed,
                     QStringLiteral("Cannot write %1 to %2").arg(key, store.fileName()));
}

} // namespace kibro
