#include "design/QtWords.h"

#include "design/L10n.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

#include <optional>

namespace QtWords {

void follow()
{
    static QPointer<QTranslator> loaded;
    static std::optional<AppLanguage> loadedFor;
    const AppLanguage language = L10n::effectiveLanguage();
    if (loadedFor == language)
        return;
    loadedFor = language;
    if (loaded) {
        QCoreApplication::removeTranslator(loaded);
        delete loaded;
    }
    if (language == AppLanguage::en)
        return;
    // "qt" is the catalogue that gathers the modules' own (qtbase, qtmultimedia, ...).
    auto *next = new QTranslator(QCoreApplication::instance());
    if (next->load(L10n::locale(), QStringLiteral("qt"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(next);
        loaded = next;
    } else {
        delete next;
    }
}

void fitWords(QDialog *dialog)
{
    for (const QDialogButtonBox *box : dialog->findChildren<QDialogButtonBox *>())
        for (QAbstractButton *button : box->buttons())
            button->setIcon(QIcon());
    dialog->ensurePolished();
    dialog->resize(dialog->size().expandedTo(dialog->sizeHint()));
}

} // namespace QtWords
