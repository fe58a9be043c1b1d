// The asynchronous face of the importer: work off the main thread, the result
// or the error back on it, nothing left in the temporary directory, and the
// file chooser.

#include "MediaTestSupport.h"
#include "support/TestSupport.h"
#include "support/TextPixels.h"

#include "design/L10n.h"
#include "design/QtWords.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSemaphore>
#include <QThread>
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
