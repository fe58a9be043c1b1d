// The asynchronous face of the importer: work off the main thread, the result
// or the error back on it, nothing left in the temporary directory, and the
// file chooser: the desktop's where a portal runs, else Qt's in the palette
// and the interface language.

#include "MediaTestSupport.h"
#include "support/FakeFileChooserPortal.h"
#include "support/TestSupport.h"
#include "support/TextPixels.h"

#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "design/QtWords.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QStandardPaths>
#include <QTreeView>
#include <QSemaphore>
#include <QThread>
#include <QTimeZone>
#include <QTimer>

using namespace mediatest;

namespace {

class ImportFlow : public ImportTest {};

QCoro::Task<QThread *> threadAfter(QCoro::Task<ImportedMedia> import, ImportedMedia &out)
{
    out = co_await std::move(import);
    co_return QThread::currentThread();
}

} // namespace

TEST_F(ImportFlow, ImportsOffTheMainThreadAndResumesOnIt)
{
    const QString file = writeImage(QStringLiteral("cat.png"), noise(50, 40, 5), "png");
    QThread *worker = nullptr;
    limits.afterOpen = [&worker](const QString &) { worker = QThread::currentThread(); };
    ImportedMedia media;
    QThread *resumed = zktest::run(threadAfter(MediaImporter::importFile(QUrl::fromLocalFile(file), limits), media));
    EXPECT_EQ(resumed, QThread::currentThread());
    EXPECT_NE(worker, nullptr);
    EXPECT_NE(worker, QThread::currentThread());
    EXPECT_EQ(media.pixelSize, QSizeF(50, 40));

    try {
        zktest::run(MediaImporter::importFile(QUrl::fromLocalFile(path(QStringLiteral("missing.heic")))));
        ADD_FAILURE() << "a missing file was imported";
    } catch (const MediaImportError &error) {
        EXPECT_EQ(error.kind(), MediaImportError::Kind::unreadable);
        EXPECT_EQ(error.errorDescription(), QStringLiteral("missing.heic could not be read."));
    }
}

TEST_F(ImportFlow, AConversionLeavesNothingInTheUsersTemporaryDirectory)
{
    // The default place: the user's temporary directory, which the rig makes private.
    const auto conversions = [] {
        return QDir::temp().entryList({QStringLiteral("zephyl-*")}, QDir::Files | QDir::Hidden);
    };
    const QStringList before = conversions();
    const QString mov = clip(QStringLiteral("clip.mov"),
                             QStringList{"-f", "lavfi", "-i", "testsrc=size=32x32:rate=10", "-t", "1", "-c:v",
                                         "libx264", "-preset", "ultrafast", "-f", "mov"});
    ImportedMedia media = zktest::run(MediaImporter::importFile(QUrl::fromLocalFile(mov)));
    EXPECT_FALSE(media.data.readAll().isEmpty());
    EXPECT_EQ(conversions(), before);

    MediaImporter::Limits tight;
    tight.largestVideoBytes = 100;
    EXPECT_THROW(zktest::run(MediaImporter::importFile(QUrl::fromLocalFile(mov), tight)), MediaImportError);
    EXPECT_EQ(conversions(), before);
}

TEST(MediaPicker, CancellingGivesNoFiles)
{
    const zktest::NoDesktopChooser qtsChooser;
    ASSERT_TRUE(qtsChooser.held());
    bool seen = false;
    QString title;
    QTimer::singleShot(0, [&seen, &title] {
        // The chooser is modal: answer it from inside its own loop.
        zktest::spinUntil([&seen, &title] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
                    seen = dialog->fileMode() == QFileDialog::ExistingFiles;
                    title = dialog->windowTitle();
                    dialog->reject();
                    return true;
                }
            return false;
        }, std::chrono::seconds(20));
    });
    EXPECT_TRUE(MediaImporter::pickFiles(true, QStringLiteral("Add more")).isEmpty());
    EXPECT_TRUE(seen);
    EXPECT_EQ(title, QStringLiteral("Add more")) << "titled by what opened it";
    EXPECT_EQ(MediaImporter::allowedTypes(),
              QStringList({"image/jpeg", "image/png", "image/heic", "image/tiff", "video/mp4", "video/quicktime"}));
}

// In Arabic the chooser's buttons show their words whole, clear of their
// edges, and it opens no smaller than its contents ask; in the X server's
// pixels when the suite runs on one.
TEST(MediaPicker, ItsButtonsShowTheirWordsWholeInArabic)
{
    const zktest::NoDesktopChooser qtsChooser;
    ASSERT_TRUE(qtsChooser.held());
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    const AppLanguage before = L10n::preference();
    L10n::setPreference(AppLanguage::ar);
    QtWords::follow(); // as the application does
    QApplication::setLayoutDirection(Qt::RightToLeft);
    QStringList words, cut;
    bool fitting = false;
    QTimer::singleShot(0, [&] {
        zktest::spinUntil([&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return false;
            fitting = dialog->width() >= dialog->sizeHint().width() && dialog->height() >= dialog->sizeHint().height();
            cut = zktest::cutButtonWords(dialog, words);
            dialog->reject();
            return true;
        }, std::chrono::seconds(20));
    });
    EXPECT_TRUE(MediaImporter::pickFiles(false, QStringLiteral("Choose")).isEmpty());
    EXPECT_EQ(words.size(), 2) << words.join(u' ').toStdString();
    EXPECT_TRUE(cut.isEmpty()) << cut.join(u'\n').toStdString();
    EXPECT_TRUE(fitting);
    L10n::setPreference(before);
    QtWords::follow();
    QApplication::setLayoutDirection(was);
}

namespace {

// What Qt's chooser showed, looked at from inside its own loop.
struct ChooserLook {
    bool seen = false;
    QRgb ground = 0, listGround = 0;
    // The ground of each of its parts: the places, the list's header, the
    // folder's path, the name field, the filter, the list of folders the
    // path opens.
    QMap<QString, QRgb> parts;
    Qt::LayoutDirection path = Qt::RightToLeft, places = Qt::RightToLeft;
    // How the folder's path reads where the X server shows it, and a name that
    // starts with digits in the list.
    Qt::LayoutDirection shownPath = Qt::RightToLeft, shownName = Qt::RightToLeft;
    // The name field's leading "/" drawn left of the letters after it.
    bool typedPathFromLeft = false;
    QString size, date;
    // The kind of each row, by its name.
    QMap<QString, QString> kinds;
    // Sorted by size, a smaller file whose name and size read later in the
    // alphabet comes first.
    bool bySize = false;
    // The column is as wide as its words ask; the places' names too.
    bool sizeWhole = false, dateWhole = false, placesWhole = false;
};

// The colour most pixels of each row of `image` have: the ground of a row,
// under a gradient too.
QList<QRgb> rowGrounds(const QImage &image)
{
    QList<QRgb> out;
    for (int y = 0; y < image.height(); ++y)
        out << zktest::commonest(image, QRect(0, y, image.width(), 1));
    return out;
}

// How much ink each column of `image` holds: its distance from its row's ground.
std::vector<double> inkColumns(const QImage &image, const QList<QRgb> &grounds)
{
    std::vector<double> out(size_t(image.width()), 0.0);
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            out[size_t(x)] += std::abs(qGray(image.pixel(x, y)) - qGray(grounds.at(y))) / 255.0;
    return out;
}

// Which way `text` reads in `shot`, the pixels of where `widget` draws it: the
// text drawn alone each way, in the widget's font and colours on its ground,
// is looked for along the columns; the way whose drawing the pixels match more
// closely.
Qt::LayoutDirection shownDirection(const QImage &shot, const QString &text, const QWidget *widget)
{
    const QList<QRgb> grounds = rowGrounds(shot);
    const std::vector<double> have = inkColumns(shot, grounds);
    const auto closest = [&](Qt::LayoutDirection direction) {
        QImage drawn(QFontMetrics(widget->font(), widget).horizontalAdvance(text) + 4, shot.height(),
                     QImage::Format_RGB32);
        // The screen's resolution, so that the font takes as many pixels.
        drawn.setDotsPerMeterX(qRound(widget->logicalDpiX() / 0.0254));
        drawn.setDotsPerMeterY(qRound(widget->logicalDpiY() / 0.0254));
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                drawn.setPixel(x, y, grounds.at(y));
        QPainter painter(&drawn);
        painter.setFont(widget->font());
        painter.setPen(widget->palette().color(QPalette::Text));
        painter.setLayoutDirection(direction);
        painter.drawText(drawn.rect().adjusted(2, 0, 0, 0), int(Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignVCenter), text);
        painter.end();
        const std::vector<double> want = inkColumns(drawn, grounds);
        double total = 0;
        for (const double v : want)
            total += v;
        double best = 1e9;
        for (size_t at = 0; at + want.size() <= have.size(); ++at) {
            double off = 0;
            for (size_t i = 0; i < want.size(); ++i)
                off += std::abs(have[at + i] - want[i]);
            best = std::min(best, off / std::max(total, 1.0));
        }
        return best;
    };
    return closest(Qt::LeftToRight) < closest(Qt::RightToLeft) / 2 ? Qt::LeftToRight : Qt::RightToLeft;
}

// Opens the composer's chooser on the pictures folder, where `file`,
// `digitsFirst` and `smaller` lie, and looks at it once the file's row shows
// its details.
ChooserLook lookAtChooser(const QString &file, const QString &digitsFirst, const QString &smaller)
{
    ChooserLook look;
    QTimer::singleShot(0, [&look, file, digitsFirst, smaller] {
        QFileDialog *dialog = nullptr;
        QTreeView *tree = nullptr;
        QModelIndex row, other;
        zktest::spinUntil([&] {
            dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            tree = dialog ? dialog->findChild<QTreeView *>(QStringLiteral("treeView")) : nullptr;
            if (!tree || !tree->isVisible())
                return false;
            const QAbstractItemModel *model = tree->model();
            for (int r = 0; r < model->rowCount(tree->rootIndex()); ++r)
                if (const QModelIndex at = model->index(r, 0, tree->rootIndex()); at.data().toString() == file)
                    row = at;
                else if (at.data().toString() == digitsFirst)
                    other = at;
            return row.isValid() && other.isValid() && !row.siblingAtColumn(3).data().toString().isEmpty();
        }, std::chrono::seconds(20));
        if (!row.isValid() || !other.isValid()) {
            if (dialog)
                dialog->reject();
            return;
        }
        look.seen = true;
        look.size = row.siblingAtColumn(1).data().toString();
        look.date = row.siblingAtColumn(3).data().toString();
        const QAbstractItemModel *model = tree->model();
        const auto rowOf = [&](const QString &name) {
            for (int r = 0; r < model->rowCount(tree->rootIndex()); ++r)
                if (model->index(r, 0, tree->rootIndex()).data().toString() == name)
                    return r;
            return -1;
        };
        for (int r = 0; r < model->rowCount(tree->rootIndex()); ++r)
            look.kinds[model->index(r, 0, tree->rootIndex()).data().toString()] =
                model->index(r, 2, tree->rootIndex()).data().toString();
        tree->sortByColumn(1, Qt::AscendingOrder);
        look.bySize = rowOf(smaller) >= 0 && rowOf(smaller) < rowOf(file);
        tree->sortByColumn(0, Qt::AscendingOrder);
        // Columns fitted to their contents settle a moment after the details come.
        const QAbstractItemView *view = tree; // asked as any view is
        zktest::spinUntil([&] { return tree->columnWidth(3) >= view->sizeHintForColumn(3); }, std::chrono::seconds(2));
        look.sizeWhole = tree->columnWidth(1) >= view->sizeHintForColumn(1);
        look.dateWhole = tree->columnWidth(3) >= view->sizeHintForColumn(3);
        const QImage shot = zktest::drawnPixels(dialog);
        const QWidget *list = tree->viewport();
        look.listGround = zktest::commonest(shot, QRect(list->mapTo(dialog, QPoint()), list->size()));
        const QRect name = tree->visualRect(other);
        look.shownName = shownDirection(shot.copy(QRect(list->mapTo(dialog, name.topLeft()), name.size())),
                                        digitsFirst, tree);
        if (auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("lookInCombo"))) {
            look.path = combo->layoutDirection();
            look.shownPath = shownDirection(shot.copy(QRect(combo->mapTo(dialog, QPoint()), combo->size())),
                                            combo->currentText(), combo);
            // The margin above the row of the folder's path.
            look.ground = zktest::commonest(shot, QRect(0, 0, shot.width(), combo->mapTo(dialog, QPoint()).y()));
        }
        if (auto *places = dialog->findChild<QAbstractItemView *>(QStringLiteral("sidebar"))) {
            look.places = places->layoutDirection();
            look.placesWhole = places->viewport()->width() >= places->sizeHintForColumn(0);
        }
        const auto groundOf = [&](const QString &part, const char *name) {
            if (const auto *widget = dialog->findChild<QWidget *>(QLatin1String(name)))
                look.parts[part] = zktest::commonest(shot, QRect(widget->mapTo(dialog, QPoint()), widget->size()));
        };
        groundOf(QStringLiteral("places"), "sidebar");
        look.parts[QStringLiteral("header")] =
            zktest::commonest(shot, QRect(tree->header()->mapTo(dialog, QPoint()), tree->header()->size()));
        groundOf(QStringLiteral("path"), "lookInCombo");
        groundOf(QStringLiteral("name field"), "fileNameEdit");
        groundOf(QStringLiteral("filter"), "fileTypeCombo");
        if (auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("lookInCombo"))) {
            combo->showPopup();
            if (QWidget *folders = combo->view()->window(); zktest::spinUntil([&] { return folders->isVisible(); }))
                look.parts[QStringLiteral("path's list")] = zktest::commonest(zktest::drawnPixels(folders));
            combo->hidePopup();
        }
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
            name->setText(QStringLiteral("/tmp/x"));
            name->setCursorPosition(0);
            const int root = name->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
            name->setCursorPosition(1);
            look.typedPathFromLeft = root < name->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
        }
        dialog->reject();
    });
    EXPECT_TRUE(MediaImporter::pickFiles(false, QStringLiteral("Choose")).isEmpty());
    return look;
}

} // namespace

// Where no portal runs, Qt's chooser takes the palette and the interface
// language: dark in the dark theme, paths from the left in Arabic, and the
// details of a picture changed on the night the clocks went forward (in
// Berlin, where this suite runs) whole, with the month and the kinds of file
// named in the language; sorted by size, by the sizes and not their words.
TEST(MediaPicker, QtsChooserFollowsThePaletteAndTheInterfaceLanguage)
{
    const zktest::NoDesktopChooser qtsChooser;
    ASSERT_TRUE(qtsChooser.held());
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    const AppLanguage before = L10n::preference();
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    ASSERT_TRUE(QDir().mkpath(pictures));
    QFile picture(QDir(pictures).filePath(QStringLiteral("cat.png")));
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly));
    picture.write(QByteArray(20480, 'x'));
    // 01:30 UTC on 31 March 2024 is 03:30 summer time in Berlin.
    ASSERT_TRUE(picture.setFileTime(QDateTime(QDate(2024, 3, 31), QTime(1, 30), QTimeZone::utc()),
                                    QFileDevice::FileModificationTime));
    picture.close();
    QFile walk(QDir(pictures).filePath(QStringLiteral("2024-03-31 walk.png")));
    ASSERT_TRUE(walk.open(QIODevice::WriteOnly));
    walk.close();
    QFile dog(QDir(pictures).filePath(QStringLiteral("dog.png")));
    ASSERT_TRUE(dog.open(QIODevice::WriteOnly));
    dog.write(QByteArray(900, 'x'));
    dog.close();
    const QDir trips(QDir(pictures).filePath(QStringLiteral("trips")));
    ASSERT_TRUE(trips.mkpath(QStringLiteral(".")));

    L10n::setPreference(AppLanguage::ar);
    QtWords::follow();
    QApplication::setLayoutDirection(Qt::RightToLeft);
    AppearanceService::shared().setTheme(AppTheme::dark);
    const ChooserLook arabic = lookAtChooser(QStringLiteral("cat.png"), QStringLiteral("2024-03-31 walk.png"),
                                             QStringLiteral("dog.png"));
    ASSERT_TRUE(arabic.seen);
    EXPECT_EQ(arabic.ground & 0xFFFFFF, 0x0B0B0Bu) << std::hex << arabic.ground;
    EXPECT_EQ(arabic.listGround & 0xFFFFFF, 0x1A1A1Au) << std::hex << arabic.listGround;
    EXPECT_EQ(arabic.parts.size(), 6);
    for (auto part = arabic.parts.cbegin(); part != arabic.parts.cend(); ++part)
        EXPECT_LT(qGray(part.value()), 0x40) << part.key().toStdString() << " " << std::hex << part.value();
    EXPECT_EQ(arabic.path, Qt::LeftToRight);
    EXPECT_EQ(arabic.shownPath, Qt::LeftToRight) << "the path's leading slash drawn at its end";
    EXPECT_EQ(arabic.places, Qt::LeftToRight);
    EXPECT_TRUE(arabic.placesWhole);
    EXPECT_TRUE(arabic.typedPathFromLeft);
    EXPECT_EQ(arabic.shownName, Qt::LeftToRight) << "a name that starts with digits read from its end";
    EXPECT_EQ(arabic.date, QStringLiteral("31 مارس 2024، 3:30 ص")) << arabic.date.toStdString();
    EXPECT_EQ(arabic.size, QStringLiteral("20.00 KiB")) << arabic.size.toStdString();
    EXPECT_TRUE(arabic.dateWhole);
    EXPECT_TRUE(arabic.sizeWhole);
    EXPECT_EQ(arabic.kinds.value(QStringLiteral("cat.png")), QStringLiteral("صورة PNG"));
    EXPECT_EQ(arabic.kinds.value(QStringLiteral("trips")), QStringLiteral("مجلّد"));
    EXPECT_TRUE(arabic.bySize) << "not sorted by the sizes themselves";

    L10n::setPreference(AppLanguage::de);
    QtWords::follow();
    QApplication::setLayoutDirection(Qt::LeftToRight);
    AppearanceService::shared().setTheme(AppTheme::light);
    const ChooserLook german = lookAtChooser(QStringLiteral("cat.png"), QStringLiteral("2024-03-31 walk.png"),
                                             QStringLiteral("dog.png"));
    ASSERT_TRUE(german.seen);
    EXPECT_EQ(german.shownPath, Qt::LeftToRight);
    EXPECT_EQ(german.ground & 0xFFFFFF, 0xF6F5F2u) << std::hex << german.ground;
    EXPECT_EQ(german.listGround & 0xFFFFFF, 0xFFFEFCu) << std::hex << german.listGround;
    EXPECT_EQ(german.parts.size(), 6);
    EXPECT_EQ(german.date, QStringLiteral("31. März 2024, 03:30"));
    EXPECT_EQ(german.size, QStringLiteral("20,00 KiB"));
    EXPECT_TRUE(german.dateWhole);
    EXPECT_TRUE(german.sizeWhole);
    EXPECT_EQ(german.kinds.value(QStringLiteral("cat.png")), QStringLiteral("PNG-Bild"));
    EXPECT_EQ(german.kinds.value(QStringLiteral("trips")), QStringLiteral("Ordner"));
    EXPECT_TRUE(german.bySize);
    EXPECT_TRUE(german.placesWhole);

    AppearanceService::shared().setTheme(AppTheme::system);
    L10n::setPreference(before);
    QtWords::follow();
    QApplication::setLayoutDirection(was);
    QFile::remove(picture.fileName());
    QFile::remove(walk.fileName());
    QFile::remove(dog.fileName());
    QDir().rmdir(trips.path());
}

// Where the desktop runs a portal with a chooser, the composer asks it over
// its window, waits for it as for a dialog of its own, and takes the files it
// answers with; a cancelled chooser gives none, and a portal whose chooser
// fails leaves Qt's to open.
TEST(MediaPicker, TheDesktopsChooserWhereAPortalRuns)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    const AppLanguage before = L10n::preference();
    L10n::setPreference(AppLanguage::en);
    zktest::FakeFileChooserPortal portal;
    ASSERT_TRUE(portal.begin());
    QWidget window;
    window.resize(400, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // Answers the next request from inside the wait, once it is made; a Qt
    // chooser that opens instead is closed and told.
    bool qtChooser = false, waited = false;
    const auto answerWith = [&](const zktest::FakeFileChooserPortal::Answer &answer, qsizetype asked) {
        qtChooser = waited = false;
        QTimer::singleShot(0, [&, answer, asked] {
            zktest::spinUntil([&] {
                for (QWidget *w : QApplication::topLevelWidgets())
                    if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
                        qtChooser = true;
                        dialog->reject();
                        return true;
                    }
                return portal.asked().size() > asked;
            }, std::chrono::seconds(20));
            if (qtChooser)
                return;
            // The window takes no input while the desktop's chooser is open.
            waited = QApplication::activeModalWidget() != nullptr && QApplication::activeModalWidget() != &window;
            portal.answer(answer);
        });
    };

    answerWith({0, {QStringLiteral("file:///home/u/Pictures/cat%20one.jpg"), QStringLiteral("sftp://host/far.png"),
                    QStringLiteral("file:///home/u/Pictures/clip.MOV")}},
               0);
    const QList<QUrl> chosen = MediaImporter::pickFiles(true, QStringLiteral("Add more"), &window);
    EXPECT_FALSE(qtChooser);
    EXPECT_TRUE(waited);
    EXPECT_EQ(chosen, (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/Pictures/cat one.jpg")),
                                   QUrl::fromLocalFile(QStringLiteral("/home/u/Pictures/clip.MOV"))}));
    ASSERT_EQ(portal.asked().size(), 1);
    const auto asked = portal.asked().at(0);
    EXPECT_EQ(asked.parentWindow, QStringLiteral("x11:") + QString::number(window.winId(), 16));
    EXPECT_EQ(asked.title, QStringLiteral("Add more"));
    EXPECT_EQ(asked.options.value(QStringLiteral("multiple")), QVariant(true));
    EXPECT_EQ(asked.options.value(QStringLiteral("modal")), QVariant(true));
    EXPECT_EQ(asked.options.value(QStringLiteral("accept_label")), QVariant(QStringLiteral("Choose")));
    ASSERT_EQ(asked.filters.size(), 1);
    const QString filter = asked.filters.at(0);
    EXPECT_TRUE(filter.startsWith(QStringLiteral("JPEG, PNG or HEIC pictures and MP4 or MOV videos.: 0 *.")))
        << filter.toStdString();
    const QStringList globs = filter.section(QStringLiteral(".: "), 1).split(QStringLiteral(", "));
    for (const char *glob : {"0 *.jpg", "0 *.JPG", "0 *.png", "0 *.heic", "0 *.mp4", "0 *.MOV"})
        EXPECT_TRUE(globs.contains(QLatin1String(glob))) << glob << filter.toStdString();

    answerWith({1, {}}, 1);
    EXPECT_TRUE(MediaImporter::pickFiles(false, QStringLiteral("Replace"), &window).isEmpty());
    EXPECT_FALSE(qtChooser);
    ASSERT_EQ(portal.asked().size(), 2);
    EXPECT_EQ(portal.asked().at(1).options.value(QStringLiteral("multiple")), QVariant(false));

    portal.refuseOpen = true;
    answerWith({}, 2);
    EXPECT_TRUE(MediaImporter::pickFiles(false, QStringLiteral("Replace"), &window).isEmpty());
    EXPECT_TRUE(qtChooser) << "a failing portal leaves Qt's chooser";
    L10n::setPreference(before);
}

TEST_F(ImportFlow, ACancelledImportStopsItsConversion)
{
    const QString mov = clip(QStringLiteral("long.mov"),
                             QStringList{"-f", "lavfi", "-t", "4", "-i", "testsrc=size=320x240:rate=25", "-c:v",
                                         "libx264", "-preset", "ultrafast", "-f", "mov"});
    // Cancelled once the file is open: the conversion never starts.
    CancelSource source;
    limits.cancel = source.token();
    limits.afterOpen = [&source](const QString &) { source.cancel(); };
    const MediaImportError stopped = refused(mov);
    EXPECT_EQ(stopped.kind(), MediaImportError::Kind::transcodeFailed);
    EXPECT_EQ(QString::fromUtf8(stopped.what()), QStringLiteral("long.mov could not be converted to MP4."));
    limits.afterOpen = nullptr;
    limits.cancel = CancelToken();
    EXPECT_FALSE(imported(mov).data.isEmpty());

    // Cancelled from the main thread while the worker holds the open file.
    QSemaphore opened, release;
    limits.cancel = source.renew();
    limits.afterOpen = [&opened, &release](const QString &) {
        opened.release();
        release.acquire();
    };
    bool finished = false;
    std::optional<MediaImportError> error;
    auto import = [](QCoro::Task<ImportedMedia> task, bool &done,
                     std::optional<MediaImportError> &failure) -> QCoro::Task<> {
        try {
            co_await std::move(task);
        } catch (const MediaImportError &e) {
            failure = e;
        }
        done = true;
    };
    QCoro::Task<> running = import(MediaImporter::importFile(QUrl::fromLocalFile(mov), limits), finished, error);
    ASSERT_TRUE(zktest::spinUntil([&] { return opened.available() > 0; }));
    source.cancel();
    release.release();
    ASSERT_TRUE(zktest::spinUntil([&] { return finished; }));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind(), MediaImportError::Kind::transcodeFailed);
}
