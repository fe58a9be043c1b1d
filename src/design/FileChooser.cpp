#include "design/FileChooser.h"

#include "design/AppearanceService.h"
#include "design/Controls.h"
#include "design/DateText.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/QtWords.h"
#include "platform/PortalFileChooser.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <QXmlStreamReader>

using Color = ZephylPalette::Color;

namespace {

// The kind of a file in `locale`'s language, as the shared MIME database names
// it for each language beside its type; the database's own choice of language
// (the system's) where it names it in no other.
QString typeName(const QMimeType &type, const QLocale &locale)
{
    const QString country = locale.name(), language = QLocale::languageToCode(locale.language());
    QString inLanguage;
    const QString path = QStringLiteral("mime/") + type.name() + QStringLiteral(".xml");
    for (const QString &file : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, path)) {
        QFile source(file);
        if (!source.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader xml(&source);
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("comment"))
                continue;
            const auto lang = xml.attributes().value(QLatin1String("xml:lang"));
            if (lang == country)
                return xml.readElementText();
            if (lang == language)
                inLanguage = xml.readElementText();
        }
        if (!inLanguage.isEmpty())
            return inLanguage;
    }
    return type.comment();
}

// The file list's sizes, kinds and dates in the interface language, as the
// rest of the application writes them; the toolkit's model writes them in the
// system's locale, with English month names and kinds under a C locale.
class InterfaceLanguageModel final : public QIdentityProxyModel {
public:
    explicit InterfaceLanguageModel(QObject *parent)
        : QIdentityProxyModel(parent), m_locale(L10n::locale()), m_dateFormat(DateText::editorFormat())
    {
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        if (index.column() == 1) {
            if (files->isDir(source))
                return QString();
            return m_locale.formattedDataSize(files->size(source));
        }
        if (index.column() == 2) {
            const QFileInfo info = files->fileInfo(source);
            if (!info.isDir() && !info.isFile()) // a drive, a device
                return QIdentityProxyModel::data(index, role);
            return kind(info);
        }
        const QDateTime at = files->lastModified(source);
        if (!at.isValid())
            return QString();
        return m_locale.toString(at.toTimeZone(QTimeZone::systemTimeZone()), m_dateFormat);
    }

private:
    QString kind(const QFileInfo &info) const
    {
        // By name alone: the list asks for every row it lays out.
        const QMimeType type = info.isDir() ? m_types.mimeTypeForName(QStringLiteral("inode/directory"))
                                            : m_types.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
        if (!m_kinds.contains(type.name()))
            m_kinds.insert(type.name(), typeName(type, m_locale));
        return m_kinds.value(type.name());
    }

    // Fixed while the dialog is open: it is modal, and nothing changes the
    // language behind it.
    QLocale m_locale;
    QString m_dateFormat;
    QMimeDatabase m_types;
    mutable QHash<QString, QString> m_kinds;
};

// Each cell of the file list read in its own direction inside the list's: in a
// right-to-left list, a name that starts with digits ("2024-03-31 walk.png")
// would read "walk.png 2024-03-31", a size "KiB 20". Only what is drawn is
// isolated: the dialog copies a chosen name from the model's words.
class OwnDirectionCells final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QString displayText(const QVariant &value, const QLocale &locale) const override
    {
        const QString text = QStyledItemDelegate::displayText(value, locale);
        return text.isEmpty() ? text : QChar(0x2068) + text + QChar(0x2069);
    }
};

// Words drawn left to right whatever the application's direction: a widget's
// painter reads the application's, not the widget's, so the folder's path of a
// left-to-right combo box inside a right-to-left window would still put its
// leading "/" at the end.
class LeftToRightWords final : public QProxyStyle {
public:
    static LeftToRightWords *shared()
    {
        static LeftToRightWords *style = [] {
            auto *s = new LeftToRightWords;
            s->setParent(qApp);
            return s;
        }();
        return style;
    }

    void drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &palette, bool enabled,
                      const QString &text, QPalette::ColorRole role) const override
    {
        const Qt::LayoutDirection was = painter->layoutDirection();
        painter->setLayoutDirection(Qt::LeftToRight);
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, role);
        painter->setLayoutDirection(was);
    }
};

// The dialog's colours from the palette: the ground behind its parts, the
// surface of its lists and fields, the palette's text.
QPalette chooserPalette(QPalette p)
{
    const QColor ground = PaletteColors::color(Color::background);
    const QColor surface = PaletteColors::color(Color::surface);
    const QColor soft = PaletteColors::color(Color::surfaceSoft);
    const QColor strong = PaletteColors::color(Color::surfaceStrong);
    const QColor text = PaletteColors::color(Color::text);
    const QColor muted = PaletteColors::color(Color::muted);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool off = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, ground);
        p.setColor(group, QPalette::Base, surface);
        p.setColor(group, QPalette::AlternateBase, soft);
        p.setColor(group, QPalette::Button, soft);
        p.setColor(group, QPalette::Light, strong);
        p.setColor(group, QPalette::Midlight, strong);
        p.setColor(group, QPalette::Mid, strong);
        p.setColor(group, QPalette::Dark, muted);
        p.setColor(group, QPalette::Shadow, PaletteColors::color(Color::ink));
        for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            p.setColor(group, role, off ? muted : text);
        p.setColor(group, QPalette::PlaceholderText, muted);
        p.setColor(group, QPalette::BrightText, text);
        p.setColor(group, QPalette::Highlight, PaletteColors::color(Color::accentSoft));
        p.setColor(group, QPalette::HighlightedText, text);
        p.setColor(group, QPalette::Link, PaletteColors::color(Color::accent));
        p.setColor(group, QPalette::ToolTipBase, surface);
        p.setColor(group, QPalette::ToolTipText, text);
    }
    return p;
}

// The chooser's own windows beside the dialog (a list a combo box or the name
// field opens) take no palette from it, and a combo box's list draws its rows
// with the application's palette where its own has not been set on it.
QList<QWidget *> popups(QFileDialog *dialog)
{
    QList<QWidget *> out;
    for (QComboBox *combo : dialog->findChildren<QComboBox *>())
        out << combo->view()->window() << combo->view();
    if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")); name && name->completer())
        out << name->completer()->popup();
    return out;
}

void paint(QFileDialog *dialog)
{
    dialog->setPalette(chooserPalette(dialog->palette()));
    for (QWidget *popup : popups(dialog))
        popup->setPalette(chooserPalette(popup->palette()));
}

// The name of `parent`'s window as the portal takes it; empty where the
// window system has none it knows.
QString portalWindowName(QWidget *parent)
{
    if (!parent || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    const QWidget *window = parent->window();
    if (!window->windowHandle())
        return {};
    return QStringLiteral("x11:") + QString::number(window->windowHandle()->winId(), 16);
}

QString ownTitle(FileChooser::Pick pick)
{
    return pick == FileChooser::Pick::folder ? QFileDialog::tr("Find Directory") : QFileDialog::tr("Open");
}

// The desktop's chooser, when the bus has a portal that offers one; none when
// it could not be asked.
std::optional<QList<QUrl>> throughPortal(const FileChooser::Options &options, QWidget *parent)
{
    PortalFileChooser portal;
    if (!portal.version())
        return std::nullopt;
    PortalFileChooser::Request request;
    request.parentWindow = portalWindowName(parent);
    request.title = options.title.isEmpty() ? ownTitle(options.pick) : options.title;
    request.acceptLabel = options.acceptLabel;
    request.multiple = options.pick == FileChooser::Pick::files;
    request.directory = options.pick == FileChooser::Pick::folder;
    request.filterName = options.filterName;
    request.patterns = options.patterns;
    request.folder = options.folder;
    // The application's windows wait while the desktop's chooser is open, as
    // they do behind a dialog of its own: a modal stand-in that is never shown.
    QDialog waiting(parent ? parent->window() : nullptr);
    waiting.setAttribute(Qt::WA_DontShowOnScreen);
    QList<QUrl> chosen;
    QObject::connect(&portal, &PortalFileChooser::answered, &waiting, [&chosen, &waiting](const QList<QUrl> &files) {
        chosen = files;
        waiting.done(QDialog::Accepted);
    });
    if (!portal.open(request))
        return std::nullopt;
    waiting.exec();
    return chosen;
}

// Qt's dialog in the application's look and language.
void dress(QFileDialog *dialog)
{
    dialog->setLocale(L10n::locale());
    auto *tree = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
    if (tree) { // Qt's own dialog, not one of the platform's
        dialog->setProxyModel(new InterfaceLanguageModel(dialog));
        for (const char *name : {"treeView", "listView"})
            if (auto *view = dialog->findChild<QAbstractItemView *>(QLatin1String(name)))
                view->setItemDelegate(new OwnDirectionCells(view));
        // Each detail whole, the name taking the room that is left.
        QHeaderView *header = tree->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    // Paths read from their root, left to right, in a right-to-left window too:
    // the folder's path, the name field that takes a typed path, the places.
    for (const char *name : {"lookInCombo", "fileNameEdit", "sidebar"})
        if (auto *part = dialog->findChild<QWidget *>(QLatin1String(name)))
            part->setLayoutDirection(Qt::LeftToRight);
    if (auto *look = dialog->findChild<QComboBox *>(QStringLiteral("lookInCombo"))) {
        look->setStyle(LeftToRightWords::shared());
        look->view()->window()->setLayoutDirection(Qt::LeftToRight);
        // Its list's rows laid out as the list is, not as the application:
        // the menu-like rows of a combo box take the application's direction.
        look->setItemDelegate(new QStyledItemDelegate(look));
        look->view()->setIconSize(look->iconSize());
    }
    if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")); name && name->completer())
        name->completer()->popup()->setLayoutDirection(Qt::LeftToRight);

    paint(dialog);
    QObject::connect(&AppearanceService::shared(), &AppearanceService::appearanceChanged, dialog,
                     [dialog] { paint(dialog); });
    for (QScrollBar *bar : dialog->findChildren<QScrollBar *>())
        ScrollBars::follow(bar);
    QtWords::fitWords(dialog);
    // Wide enough for the details beside the places; never past the screen.
    if (tree) {
        const QScreen *screen = dialog->parentWidget() ? dialog->parentWidget()->screen() : dialog->screen();
        const QSize room = screen ? screen->availableSize() * 9 / 10 : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        dialog->resize(dialog->size().expandedTo(QSize(820, 480)).boundedTo(room));
        // The places' names whole beside the list, once the dialog is laid out.
        QTimer::singleShot(0, dialog, [dialog] {
            auto *splitter = dialog->findChild<QSplitter *>(QStringLiteral("splitter"));
            auto *places = dialog->findChild<QAbstractItemView *>(QStringLiteral("sidebar"));
            if (!splitter || !places || splitter->count() != 2)
                return;
            QList<int> sizes = splitter->sizes();
            const int want = places->sizeHintForColumn(0) + 2 * places->frameWidth() + 4;
            if (sizes.at(0) < want && sizes.at(1) > 2 * want) {
                sizes[1] -= want - sizes.at(0);
                sizes[0] = want;
                splitter->setSizes(sizes);
            }
        });
    }
}

} // namespace

namespace FileChooser {

QList<QUrl> choose(const Options &options, QWidget *parent)
{
    if (const auto chosen = throughPortal(options, parent))
        return *chosen;
    QFileDialog dialog(parent ? parent->window() : nullptr);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(options.pick == Pick::oneFile ? QFileDialog::ExistingFile
                       : options.pick == Pick::files ? QFileDialog::ExistingFiles
                                                     : QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, options.pick == Pick::folder);
    if (!options.folder.isEmpty())
        dialog.setDirectory(options.folder);
    if (!options.title.isEmpty())
        dialog.setWindowTitle(options.title);
    if (!options.acceptLabel.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, options.acceptLabel);
    if (!options.patterns.isEmpty()) {
        // The sentence names the filter; its patterns stay out of sight.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilter(options.filterName + QStringLiteral(" (") + options.patterns.join(QLatin1Char(' ')) +
                             QLatin1Char(')'));
    }
    dress(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedUrls();
}

} // namespace FileChooser
