// zephyl-askshots: the ask panel in its states (an empty conversation, a
// conversation with the last reply's chips, a question typed, the cat thinking, a filmed look's
// live portrait) in light, dark and Arabic right-to-left, as PNG files.
// Usage: zephyl-askshots OUTPUT_FOLDER   (QT_QPA_PLATFORM=offscreen works)

#include "app/AppModel.h"
#include "ask/AskBarView.h"
#include "ask/AskPanelController.h"
#include "ask/CatFace.h"
#include "base/DefaultsStore.h"
#include "companion/CompanionLibrary.h"
#include "design/AppearanceService.h"
#include "design/L10n.h"
#include "design/PaletteColors.h"
#include "design/FloatingPanel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTextStream>
#include <QTimer>

namespace {

class NoDesktopScheme final : public ColorSchemeSource {
public:
    std::optional<quint32> colorScheme() override { return std::nullopt; }
};

void breathe(int ms = 80)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

CatChatLine line(bool mine, const QString &text, CatLook look = CatLook::neutral, QList<AskAction> actions = {})
{
    return CatChatLine{QUuid::createUuid(), mine, text, look, std::move(actions)};
}

QList<CatChatLine> conversation()
{
    return {line(true, L10n::t("An idea for a post")),
            line(false,
                 QStringLiteral("How about a calm Reel of your morning desk: coffee, the plan for the week, and "
                                "one sentence about what you're making. Short and warm."),
                 CatLook::happy),
            line(true, QStringLiteral("<b>Nice</b>, and a caption?")),
            line(false, QStringLiteral("\"Slow mornings, clear plans.\" Shall I put it in the plan?"),
                 CatLook::curious,
                 {AskAction::make(QStringLiteral("a"), L10n::t("Tuck them away"), AskAction::Kind::tuckAway),
                  AskAction::make(QStringLiteral("b"), L10n::t("End session"), AskAction::Kind::stopFocus)})};
}

// The panel's picture on a plain desk, so its rounded corners and edge show.
QImage onDesk(QWidget *panel, Appearance appearance)
{
    const QImage card = panel->grab().toImage();
    QImage desk(card.size() + QSize(48, 48), QImage::Format_ARGB32_Premultiplied);
    desk.fill(appearance == Appearance::dark ? QColor(0x30, 0x33, 0x3a) : QColor(0xc9, 0xd3, 0xdc));
    QPainter painter(&desk);
    painter.drawImage(QPoint(24, 24), card);
    return desk;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream err(stderr), out(stdout);
    if (argc != 2) {
        err << "usage: zephyl-askshots OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath(QStringLiteral("."));
    AppearanceService::shared().setSource(std::make_unique<NoDesktopScheme>());

    // A filmed look of the bundle when there is one, for the live portrait.
    QString filmed;
    for (const CompanionVariant &look : CompanionLibrary::variants()) {
        if (look.isFilmed() && filmed.isEmpty())
            filmed = look.id;
    }

    const struct {
        const char *name;
        AppLanguage language;
        AppTheme theme;
    } variants[] = {{"light", AppLanguage::en, AppTheme::light},
                    {"dark", AppLanguage::en, AppTheme::dark},
                    {"arabic-rtl", AppLanguage::ar, AppTheme::light},
                    {"hebrew-rtl", AppLanguage::he, AppTheme::dark}};
    int failures = 0;
    for (const auto &variant : variants) {
        L10n::setPreference(variant.language);
        QApplication::setLayoutDirection(L10n::layoutDirection());
        AppearanceService::shared().setTheme(variant.theme);
        const Appearance appearance = AppearanceService::shared().appearance();

        DefaultsStore store;
        AppModel::Environment env;
        env.defaults = &store;
        env.selectedVariantID = [] { return QStringLiteral("drawn"); };
        AppModel model(env);
        model.setLanguage(variant.language);
        AskPanelController ask(model);

        auto shoot = [&](const char *state) {
            // Long enough for new rows to have come in on their spring.
            breathe(700);
            const QString path = root.filePath(QString::fromLatin1(variant.name) + u'-' + QString::fromLatin1(state) +
                                               QStringLiteral(".png"));
            if (onDesk(ask.panel(), appearance).save(path))
                out << path << "\n";
            else
                ++failures;
        };

        ask.show(false);
        shoot("empty");

        model.setCatChat(conversation());
        shoot("conversation");

        // Something typed: the send button is ready.
        model.setAskInput(QStringLiteral("And a hashtag or two?"));
        shoot("typing");

        model.setAskInput(QStringLiteral("And a hashtag or two?"));
        model.setAskBusy(true);
        QList<CatChatLine> asking = conversation();
        asking << line(true, QStringLiteral("And a hashtag or two?"));
        model.setCatChat(asking);
        shoot("busy");
        model.setAskBusy(false);
        model.setAskInput(QString());

        if (!filmed.isEmpty()) {
            model.setCompanionVariantID(filmed);
            model.setCompanionName(QStringLiteral("Biscuit"));
            model.setCatChat(conversation());
            // The live portrait decodes its clip in the background first.
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 5000 &&
                   !(ask.view()->headFilm() && ask.view()->headFilm()->figure().hasPicture()))
                breathe(40);
            shoot("filmed");
        }
        ask.hide();
    }
    return failures ? 1 : 0;
}
