// Pictures of the shell's own windows: the update prompt (with short, long and
// empty notes), the tray menu and the focus timer's face (full, compact, paused,
// with its controls), in light, dark and Arabic right-to-left.
// Usage: zephyl-shellshots OUTPUT_FOLDER   (QT_QPA_PLATFORM=offscreen works)
#include "app/AppModel.h"
#include "base/Clock.h"
#include "base/DefaultsStore.h"
#include "design/AppTheme.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "shell/FocusTimerView.h"
#include "shell/StatusMenuController.h"
#include "shell/UpdatePrompt.h"

#include <QApplication>
#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTextStream>

namespace {
class NoDesktopScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> colorScheme() override { return std::nullopt; }
};
// The face three times its size on a plain backdrop, so its rounded corners show.
QImage enlarged(FocusTimerView &view)
{
    constexpr int scale = 3;
    constexpr int margin = 12;
    QImage image((view.size() + QSize(2 * margin, 2 * margin)) * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(QColor(0x6B, 0x7F, 0x94));
    QPainter p(&image);
    view.render(&p, QPoint(margin, margin), QRegion(), QWidget::DrawChildren);
    return image;
}

void hover(FocusTimerView &view)
{
    const QPointF middle(view.width() / 2.0, view.height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, middle, middle, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    QElapsedTimer waited;
    waited.start();
    while (view.controlsOpacity() < 1.0 && waited.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream err(stderr), out(stdout);
    if (argc != 2) {
        err << "usage: zephyl-shellshots OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath(QStringLiteral("."));
    AppearanceService::shared().setSource(std::make_unique<NoDesktopScheme>());
    const struct {
        const char *name;
        AppLanguage language;
        AppTheme theme;
    } variants[] = {{"light", AppLanguage::en, AppTheme::light},
                    {"dark", AppLanguage::en, AppTheme::dark},
                    {"arabic-rtl", AppLanguage::ar, AppTheme::light}};
    const QString notes = QStringLiteral(
        "The cat naps more calmly and wakes when you come back.\n\nFocus rounds remember their length.\n\n"
        "<b>Markup</b> in notes is shown as typed.");
    int failures = 0;
    DefaultsStore store;
    FakeClock clock;
    AppModel::Environment environment;
    environment.defaults = &store;
    environment.clock = &clock;
    AppModel model(environment);
    for (const auto &variant : variants) {
        L10n::setPreference(variant.language);
        QApplication::setLayoutDirection(L10n::layoutDirection());
        AppearanceService::shared().setTheme(variant.theme);
        const QString name = QString::fromLatin1(variant.name);
        const std::pair<const char *, QString> offers[] = {
            {"prompt", notes}, {"prompt-long", QStringList(40, notes).join(u'\n')}, {"prompt-empty", QString()}};
        for (const auto &[file, text] : offers) {
            UpdatePromptView view(UpdateOffer{QStringLiteral("12"), QStringLiteral("1.2"), text}, QStringLiteral("1.1"));
            view.adjustSize();
            const QString path = root.filePath(name + u'-' + QString::fromLatin1(file) + QStringLiteral(".png"));
            if (view.grab().save(path))
                out << path << "\n";
            else
                ++failures;
        }
        StatusMenu::State state;
        state.readyVersion = QStringLiteral("1.2");
        StatusMenuController tray([state] { return state; }, [](StatusMenu::Command) {});
        tray.menu()->aboutToShow();
        tray.menu()->adjustSize();
        const QString path = root.filePath(name + QStringLiteral("-tray-menu.png"));
        if (tray.menu()->grab().save(path))
            out << path << "\n";
        else
            ++failures;

        const struct {
            const char *file;
            bool compact;
            FocusSession::Phase phase;
            bool hovering;
        } faces[] = {{"timer-full", false, FocusSession::Phase::working(), false},
                     {"timer-full-break", false, FocusSession::Phase::resting(), false},
                     {"timer-full-paused", false, FocusSession::Phase::paused(true), false},
                     {"timer-full-hover", false, FocusSession::Phase::working(), true},
                     {"timer-full-hover-paused", false, FocusSession::Phase::paused(true), true},
                     {"timer-compact", true, FocusSession::Phase::working(), false},
                     {"timer-compact-paused", true, FocusSession::Phase::paused(true), false}};
        for (const auto &face : faces) {
            FocusSession session = model.focus();
            session.phase = face.phase;
            session.remaining = 24 * 60 + 13;
            model.setFocus(session);
            FocusTimerView view(model, face.compact);
            view.setAttribute(Qt::WA_DontShowOnScreen);
            view.show();
            if (face.hovering)
                hover(view);
            const QString path = root.filePath(name + u'-' + QString::fromLatin1(face.file) + QStringLiteral(".png"));
            if (enlarged(view).save(path))
                out << path << "\n";
            else
                ++failures;
        }
    }
    return failures ? 1 : 0;
}
