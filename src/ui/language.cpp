#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kibro {

namespace {

// Qt's catalogue less the system's error texts: those only reach stderr, which stays English.
class QtTranslator : public QTranslator
{
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        if (qstrcmp(context, "QIODevice") == 0)
            return {};
        return QTranslator::translate(context, sourceText, disambiguation, n);
    }
};

const QString kOwnCatalogue = QStringLiteral("kibro");

} // namespace

QString shownLanguage()
{
    const auto* app = QCoreApplication::instance();
    const auto* own =
        app ? app->findChild<QTranslator*>(kOwnCatalogue, Qt::FindDirectChildrenOnly) : nullptr;
    return own ? own->language() : QString();
}

QString translationLanguage(const QStringList& uiLanguages)
{
    for (const QString& entry : uiLanguages) {
        const QString language = entry.section(u'-', 0, 0).section(u'_', 0, 0).toLower();
        if (language == u"ja" || language == u"c" || language == u"posix")
            return {};
        if (language == u"en" || language == u"de" || language == u"fr")
            return language;
    }
    return QStringLiteral("en");
}

bool installTranslation(const QString& language)
{
    if (language.isEmpty())
        return true;
    auto* app = QCoreApplication::instance();
    auto* own = new QTranslator(app);
    own->setObjectName(kOwnCatalogue);
    if (!own->load(QStringLiteral(":/i18n/kibro_") + language)) {
        delete own;
        return false;
    }
    QCoreApplication::installTranslator(own);
    // Qt's catalogue is a package of its own; without it only Qt's buttons stay English.
    auto* qt = new QtTranslator(app);
    if (qt->load(QStringLiteral("qtbase_") + language,
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    return true;
}

} // namespace kibro
