// The importer's file chooser: a modal open dialog limited to the picture and
// movie files the composer takes.

#include "design/FileChooser.h"
#include "design/L10n.h"
#include "services/media/MediaImporter.h"

#include <QDir>
#include <QMimeDatabase>
#include <QStandardPaths>

QList<QUrl> MediaImporter::pickFiles(bool allowsMultiple, const QString &title, QWidget *parent)
{
    FileChooser::Options options;
    options.pick = allowsMultiple ? FileChooser::Pick::files : FileChooser::Pick::oneFile;
    options.title = title;
    options.acceptLabel = L10n::t("Choose");
    // Where photos live, not wherever the application was started from.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    options.folder = QDir(pictures).exists() ? pictures : QDir::homePath();
    // The sentence on the kinds of file names the filter.
    options.filterName = L10n::t("JPEG, PNG or HEIC pictures and MP4 or MOV videos.");
    const QMimeDatabase db;
    for (const QString &type : allowedTypes())
        for (const QString &glob : db.mimeTypeForName(type).globPatterns())
            if (!options.patterns.contains(glob, Qt::CaseInsensitive))
                options.patterns << glob;
    // Upper-case spellings too: file names from cameras often are.
    const QStringList lower = options.patterns;
    for (const QString &glob : lower)
        if (glob.toUpper() != glob)
            options.patterns << glob.toUpper();
    return FileChooser::choose(options, parent);
}
