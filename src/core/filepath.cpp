#include "filepath.h"

namespace kibro {

QChar pathSeparator()
{
#if defined(Q_OS_WIN)
    return u'\\';
#else
    return u'/';
#endif
}

QString joinPath(const QString& directory, const QString& name, QChar separator)
{
    if (directory.endsWith(separator))
        return directory + name;
    return directory + separator + name;
}

} // namespace kibro
