// The importer's file chooser: a modal open dialog limited to the picture and
// movie files the composer takes.

#include "design/L10n.h"
#include "design/QtWords.h"
#include "services/media/MediaImporter.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QMimeDatabase>

QList<QUrl> MediaImporter::pickFiles(bool allowsMultiple, const QString &title, QWidget *parent)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(allowsMultiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    // Where photos live, not wherever the application was started from.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    dialog.setDirectory(QDir(pictures).exists() ? pictures : QDir::homePath());
    dialog.setLabelText(QFileDialog::Accept, L10n::t("Choose"));
    dialog.setWindowTitle(title);
    // The sentence on the kinds of file names the filter.
    const QString message = L10n::t("JPEG, PNG or HEIC pictures and MP4 or MOV videos.");
    QStringList patterns;
    const QMimeDatabase db;
    for (const QString &type : allowedTypes())
        for (const QString &glob : db.mimeTypeForName(type).globPatterns())
            if (!patterns.contains(glob, Qt::CaseInsensitive))
                patterns << glob;
    // Upper-case spellings too: file names from cameras often are.
    const QStringList lower = patterns;
    for (const QString &glob : lower)
        if (glob.toUpper() != glob)
            patterns << glob.toUpper();
    dialog.setNameFilter(message + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    QtWords::fitWords(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedUrls();
}
