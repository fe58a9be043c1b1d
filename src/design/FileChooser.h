#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

// The one file chooser of the application, for the composer's media and for a
// page's file field alike. Where the desktop runs a portal with a chooser, its
// own chooser opens over the window; elsewhere Qt's dialog opens, in the
// palette's colours, its paths read left to right in a right-to-left window,
// its columns whole and its dates and sizes in the interface language.
namespace FileChooser {

enum class Pick { oneFile, files, folder };

struct Options {
    Pick pick = Pick::oneFile;
    // Empty: the toolkit's own ("Open", or for a folder "Find Directory").
    QString title;
    // The confirming button's word; empty leaves the chooser's own.
    QString acceptLabel;
    // One filter, named; none without patterns.
    QString filterName;
    QStringList patterns;
    // Where it opens; empty leaves the chooser's own choice.
    QString folder;
};

// Shows the chooser modally over `parent`'s window and returns the chosen
// files in the chooser's order, or nothing when the user cancels.
QList<QUrl> choose(const Options &options, QWidget *parent);

} // namespace FileChooser
