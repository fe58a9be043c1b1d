// The shared components as widgets: their states, geometry and colours, the
// appearance service and its desktop-portal source, icons and the spring curve.
#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "support/TextPixels.h"

#include "base/Clock.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/DesignFonts.h"
#include "design/EmptyStateCard.h"
#include "design/GrowingTextField.h"
#include "design/Icons.h"
#include "design/L10n.h"
#include "design/Legibility.h"
#include "design/Controls.h"
#include "design/NoticeBanner.h"
#include "design/PaletteColors.h"
#include "design/PortalColorScheme.h"
#include "design/PressAnimator.h"
#include "design/ReadingOrder.h"
#include "design/SettingRow.h"
#include "design/StatusPill.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "design/UnevenCorners.h"
#include "design/ZephylSpringCurve.h"
#include "design/ZephylSurface.h"

#include <QApplication>
#include <QBoxLayout>
#include <QPushButton>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QRawFont>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>
#include <tuple>

#include <cmath>

using ZephylPalette::Color;
using namespace std::chrono_literals;

namespace {

class FakeScheme final : public ColorSchemeSource {
public:
    explicit FakeScheme(std::optional<quint32> value = std::nullopt) : value(value) {}
    std::optional<quint32> colorScheme() override
    {
        ++asked;
        return value;
    }
    void set(std::optional<quint32> next)
    {
        value = next;
        Q_EMIT changed();
    }
    std::optional<quint32> value;
    int asked = 0;
};

// Each test runs in virtual time, light, English, left to right.
class Components : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clock::setShared(&clock);
        AppearanceService::shared().setSource(std::make_unique<FakeScheme>());
        AppearanceService::shared().setTheme(AppTheme::light);
        L10n::setPreference(AppLanguage::en);
        QApplication::setLayoutDirection(Qt::LeftToRight);
    }
    void TearDown() override
    {
        AppearanceService::shared().setTheme(AppTheme::light);
        L10n::setPreference(AppLanguage::system);
        QApplication::setLayoutDirection(Qt::LeftToRight);
        Clock::setShared(nullptr);
    }

    FakeClock clock;
};

QImage render(QWidget &widget, QColor background = Qt::white)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void expectColorNear(QColor actual, QColor expected, int tolerance = 2)
{
    EXPECT_NEAR(actual.red(), expected.red(), tolerance) << actual.name().toStdString();
    EXPECT_NEAR(actual.green(), expected.green(), tolerance) << actual.name().toStdString();
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance) << actual.name().toStdString();
}

// ----- Appearance

TEST(Appearance, ThemeSettingDecidesAndSystemFollowsTheDesktop)
{
    auto owned = std::make_unique<FakeScheme>(1u);
    FakeScheme *desktop = owned.get();
    AppearanceService service(std::move(owned));
    EXPECT_EQ(service.appearance(), Appearance::dark); // system, desktop prefers dark
    service.setTheme(AppTheme::light);
    EXPECT_EQ(service.appearance(), Appearance::light);
    service.setTheme(AppTheme::system);
    EXPECT_EQ(service.appearance(), Appearance::dark);
    // No preference, prefer light, an unknown value and no answer all draw light.
    for (std::optional<quint32> value : {std::optional<quint32>(0u), std::optional<quint32>(2u),
                                         std::optional<quint32>(7u), std::optional<quint32>()}) {
        desktop->set(value);
        EXPECT_EQ(service.appearance(), Appearance::light);
    }
    desktop->set(0u);
    service.setTheme(AppTheme::dark);
    EXPECT_EQ(service.appearance(), Appearance::dark);
}

TEST(Appearance, EmitsOnlyOnRealChangesAndAsksTheDesktopOnlyWhenFollowingIt)
{
    auto owned = std::make_unique<FakeScheme>(0u);
    FakeScheme *desktop = owned.get();
    AppearanceService service(std::move(owned));
    service.setTheme(AppTheme::light);
    EXPECT_EQ(service.appearance(), Appearance::light);
    EXPECT_EQ(desktop->asked, 0);

    QSignalSpy spy(&service, &AppearanceService::appearanceChanged);
    service.setTheme(AppTheme::system);
    EXPECT_EQ(spy.count(), 0); // desktop says light: nothing changed
    desktop->set(1u);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<Appearance>(), Appearance::dark);
    desktop->set(1u);
    service.setTheme(AppTheme::dark);
    EXPECT_EQ(spy.count(), 1);
    desktop->set(0u); // ignored while the theme is fixed
    EXPECT_EQ(spy.count(), 1);
    service.setTheme(AppTheme::system);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(service.appearance(), Appearance::light);
}

// Stands in for the desktop portal on the test's own session bus.
class FakePortal final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    std::atomic<quint32> scheme{1};
    std::atomic<bool> hasReadOne{true};

public Q_SLOTS:
    QDBusVariant ReadOne(const QString &nameSpace, const QString &key)
    {
        if (!hasReadOne) {
            sendErrorReply(QDBusError::UnknownMethod, QStringLiteral("no ReadOne"));
            return {};
        }
        if (!known(nameSpace, key))
            return {};
        return QDBusVariant(QVariant::fromValue(quint32(scheme)));
    }
    // Older portals: the value wrapped in one more variant.
    QDBusVariant Read(const QString &nameSpace, const QString &key)
    {
        if (!known(nameSpace, key))
            return {};
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant::fromValue(quint32(scheme)))));
    }

private:
    bool known(const QString &nameSpace, const QString &key)
    {
        if (nameSpace == QLatin1String("org.freedesktop.appearance") && key == QLatin1String("color-scheme"))
            return true;
        sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("unknown"));
        return false;
    }
};

// The portal runs on its own connection and thread, as another process would:
// the application blocks on its call, and signals come from the name's owner.
class PortalHost final : public QThread {
public:
    static constexpr const char *kConnection = "zk-fake-portal";
    FakePortal *portal = nullptr;
    std::atomic<bool> ready{false};
    std::atomic<bool> registered{false};

protected:
    void run() override
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QLatin1String(kConnection));
        FakePortal fake;
        portal = &fake;
        registered = bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &fake,
                                        QDBusConnection::ExportAllSlots) &&
                     bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
        ready = true;
        exec();
        bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        portal = nullptr;
    }
};

class Portal : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus";
        host.start();
        ASSERT_TRUE(zktest::spinUntil([&] { return host.ready.load(); }));
        ASSERT_TRUE(host.registered);
    }
    void TearDown() override
    {
        if (!host.isRunning())
            return;
        host.quit();
        host.wait();
        QDBusConnection::disconnectFromBus(QLatin1String(PortalHost::kConnection));
    }
    void emitChange(QVariant value)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                         QStringLiteral("org.freedesktop.portal.Settings"),
                                                         QStringLiteral("SettingChanged"));
        signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(value));
        ASSERT_TRUE(QDBusConnection(QLatin1String(PortalHost::kConnection)).send(signal));
    }

    PortalHost host;
};

TEST_F(Portal, ReadsTheColorSchemeAndFollowsChanges)
{
    auto owned = std::make_unique<PortalColorScheme>();
    PortalColorScheme *source = owned.get();
    AppearanceService service(std::move(owned));
    EXPECT_EQ(source->colorScheme(), 1u);
    EXPECT_EQ(service.appearance(), Appearance::dark);

    QSignalSpy spy(&service, &AppearanceService::appearanceChanged);
    emitChange(QVariant::fromValue(quint32(2)));
    ASSERT_TRUE(zktest::spinUntil([&] { return spy.count() == 1; }));
    EXPECT_EQ(service.appearance(), Appearance::light);
    // A malformed value is no answer (and draws light). Each step waits for the
    // source to change, so the values are seen in order.
    emitChange(QVariant::fromValue(QStringLiteral("1")));
    ASSERT_TRUE(zktest::spinUntil([&] { return source->colorScheme() != 2u; }));
    EXPECT_EQ(source->colorScheme(), std::nullopt);
    emitChange(QVariant::fromValue(quint32(7)));
    ASSERT_TRUE(zktest::spinUntil([&] { return source->colorScheme() == 7u; }));
    emitChange(QVariant::fromValue(qint32(-1)));
    ASSERT_TRUE(zktest::spinUntil([&] { return source->colorScheme() != 7u; }));
    EXPECT_EQ(source->colorScheme(), std::nullopt);
    emitChange(QVariant::fromValue(quint32(1)));
    ASSERT_TRUE(zktest::spinUntil([&] { return spy.count() == 2; }));
    EXPECT_EQ(service.appearance(), Appearance::dark);
}

TEST_F(Portal, FallsBackToReadOnOlderPortals)
{
    host.portal->hasReadOne = false;
    host.portal->scheme = 2;
    PortalColorScheme source;
    EXPECT_EQ(source.colorScheme(), 2u);
}

TEST_F(Portal, NoPortalMeansNoAnswer)
{
    host.quit();
    host.wait();
    QDBusConnection::disconnectFromBus(QLatin1String(PortalHost::kConnection));
    PortalColorScheme source;
    EXPECT_EQ(source.colorScheme(), std::nullopt);
    AppearanceService service(std::make_unique<PortalColorScheme>());
    EXPECT_EQ(service.appearance(), Appearance::light);
}

// ----- Palette as drawn

TEST_F(Components, PaletteColorsCarryLineOpacity)
{
    const QColor line = PaletteColors::color(Color::line, Appearance::light);
    EXPECT_EQ(line.rgb() & 0xFFFFFF, 0x201F1Cu);
    EXPECT_NEAR(line.alphaF(), 0.12, 0.002);
    EXPECT_EQ(PaletteColors::color(Color::surface, Appearance::dark), QColor(0x1A1A1A));
    AppearanceService::shared().setTheme(AppTheme::dark);
    EXPECT_EQ(PaletteColors::color(Color::text), QColor(0xF5F5F3));
}

// ----- Notice banner

TEST_F(Components, BannerToneChoosesSymbolAndColours)
{
    NoticeBanner banner(AppNotice::make(QStringLiteral("Saved."), AppNotice::Tone::settled));
    EXPECT_EQ(banner.symbol(), QStringLiteral("checkmark.circle"));
    EXPECT_EQ(banner.foregroundColor(), Color::settled);
    EXPECT_EQ(banner.fillColor(), Color::settledSoft);
    banner.setNotice(AppNotice::make(QStringLiteral("Failed."), AppNotice::Tone::attention));
    EXPECT_EQ(banner.symbol(), QStringLiteral("exclamationmark.circle"));
    EXPECT_EQ(banner.foregroundColor(), Color::attention);
    EXPECT_EQ(banner.fillColor(), Color::attentionSoft);

    // The fill is resolved when drawn, so a theme change shows at the next paint.
    banner.resize(300, NoticeBanner::kHeight);
    expectColorNear(render(banner).pixelColor(150, 2), QColor(0xF3DED2));
    AppearanceService::shared().setTheme(AppTheme::dark);
    expectColorNear(render(banner).pixelColor(150, 2), QColor(0x3A2318));
}

// The pixel of a picture that stands furthest from `ground`: the ink at its fullest.
QColor fullestInk(const QImage &image, QColor ground)
{
    QColor best = ground;
    int far = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int d = std::abs(c.red() - ground.red()) + std::abs(c.green() - ground.green()) +
                          std::abs(c.blue() - ground.blue());
            if (d > far) {
                far = d;
                best = c;
            }
        }
    return best;
}

// A tone's words on its own soft fill: in its colour where that reads at 4.5:1,
// in the text colour where it does not (the light accent at 2.4:1, the light
// settled tone at 4.0:1).
TEST_F(Components, ToneWordsReadOnTheirSoftFills)
{
    struct Case {
        AppTheme theme;
        PillTone tone;
        QColor fill, ink;
    };
    const Case pills[] = {
        {AppTheme::light, PillTone::accent, QColor(0xF0E3C6), QColor(0x201F1C)},
        {AppTheme::light, PillTone::settled, QColor(0xE9E3D5), QColor(0x201F1C)},
        {AppTheme::light, PillTone::attention, QColor(0xF3DED2), QColor(0xA2471E)},
        {AppTheme::light, PillTone::neutral, QColor(0xEEECE6), QColor(0x6B6A63)},
        {AppTheme::dark, PillTone::accent, QColor(0x3A2F14), QColor(0xE0B45C)},
        {AppTheme::dark, PillTone::settled, QColor(0x232323), QColor(0xC9C9C4)},
    };
    for (const Case &c : pills) {
        AppearanceService::shared().setTheme(c.theme);
        StatusPill pill(QStringLiteral("Waiting"), c.tone);
        pill.resize(pill.sizeHint());
        // The role stays the tone's; only the drawn colour gives way.
        EXPECT_EQ(pill.colorRole(), StatusPill::textColor(c.tone));
        SCOPED_TRACE(int(c.tone));
        expectColorNear(fullestInk(render(pill, c.fill), c.fill), c.ink, 12);
    }

    // The chip's label: the accent on the soft accent, so the text colour in light.
    for (const auto &[theme, fill, ink] : {std::tuple{AppTheme::light, QColor(0xF0E3C6), QColor(0x201F1C)},
                                           std::tuple{AppTheme::dark, QColor(0x3A2F14), QColor(0xE0B45C)}}) {
        AppearanceService::shared().setTheme(theme);
        StyledButton chip(QStringLiteral("Discuss"), ChipButtonStyle());
        chip.resize(chip.sizeHint());
        const QImage picture = render(chip, fill);
        expectColorNear(fullestInk(picture.copy(12, 8, picture.width() - 24, picture.height() - 16), fill), ink, 12);
    }

    // The settled notice: its words and symbol in the text colour in light, the tone in dark.
    AppearanceService::shared().setTheme(AppTheme::light);
    NoticeBanner banner(AppNotice::make(QStringLiteral("Saved."), AppNotice::Tone::settled));
    banner.resize(300, NoticeBanner::kHeight);
    expectColorNear(fullestInk(render(banner, QColor(0xE9E3D5)), QColor(0xE9E3D5)), QColor(0x201F1C), 12);
    AppearanceService::shared().setTheme(AppTheme::dark);
    expectColorNear(fullestInk(render(banner, QColor(0x232323)), QColor(0x232323)), QColor(0xC9C9C4), 12);
}

// Off, a switch is edged by a hairline of the text colour (its track alone is
// 1.4:1 on a card) that reaches 3:1 on every ground a switch sits on, and no
// harder than the muted colour would ring it; on, the accent track stands out
// by itself and has no edge.
TEST_F(Components, AnOffSwitchIsEdgedWhereItsTrackWouldVanish)
{
    struct Case {
        AppTheme theme;
        std::vector<QColor> grounds; // surface, background, surfaceSoft, milk, warmPaper, canvas
        QColor muted, accent;
    };
    const Case cases[] = {
        {AppTheme::light,
         {QColor(0xFFFEFC), QColor(0xF6F5F2), QColor(0xEEECE6), QColor(0xFBF6EC), QColor(0xF1EBDD), QColor(0xE9E8E4)},
         QColor(0x6B6A63), QColor(0xC08A26)},
        {AppTheme::dark,
         {QColor(0x1A1A1A), QColor(0x0B0B0B), QColor(0x242424), QColor(0x201D18), QColor(0x232323), QColor(Qt::black)},
         QColor(0xA9A9A5), QColor(0xE0B45C)},
    };
    for (const Case &c : cases) {
        AppearanceService::shared().setTheme(c.theme);
        for (const QColor &card : c.grounds) {
            ToggleSwitch toggle;
            toggle.resize(toggle.sizeHint());
            const QPoint top(toggle.width() / 2, 2);
            const QRgb edge = render(toggle, card).pixel(top);
            const double ratio = ZephylPalette::contrastRatio(edge & 0xFFFFFF, card.rgb() & 0xFFFFFF);
            EXPECT_GE(ratio, 3.0) << qPrintable(card.name());
            EXPECT_LT(ratio, ZephylPalette::contrastRatio(c.muted.rgb() & 0xFFFFFF, card.rgb() & 0xFFFFFF))
                << qPrintable(card.name()) << ": softer than a muted ring";
            toggle.setOn(true);
            expectColorNear(render(toggle, card).pixelColor(top), c.accent, 6);
        }
    }
}

TEST_F(Components, BannerClampsToTwoLinesAndStaysFortyHigh)
{
    const QString longText = QStringLiteral(
        "one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen "
        "seventeen eighteen nineteen twenty twenty-one twenty-two twenty-three twenty-four");
    QWidget host;
    auto *layout = new QVBoxLayout(&host);
    auto *banner = new NoticeBanner(AppNotice::make(longText, AppNotice::Tone::attention));
    layout->addWidget(banner);
    host.resize(260, 400);
    host.show();
    EXPECT_EQ(banner->height(), NoticeBanner::kHeight);
    const QStringList lines = banner->visibleLines();
    ASSERT_EQ(lines.size(), NoticeBanner::kMaxLines);
    EXPECT_TRUE(lines.last().endsWith(QChar(0x2026))) << lines.last().toStdString();
    EXPECT_TRUE(longText.startsWith(lines.first()));
    // Both lines fit the text area, so nothing is drawn under the edge.
    const QFontMetricsF metrics(DesignFonts::system(13, DesignFonts::Weight::medium));
    for (const QString &line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line), 260 - 28 - Icons::boxForFontSize(14) - 10 + 0.5);

    banner->setNotice(AppNotice::make(QStringLiteral("first\nsecond\nthird"), AppNotice::Tone::settled));
    EXPECT_EQ(banner->visibleLines(), (QStringList{QStringLiteral("first"), QStringLiteral("second…")}));
    banner->setNotice(AppNotice::make(QStringLiteral("Saved."), AppNotice::Tone::settled));
    EXPECT_EQ(banner->visibleLines(), QStringList{QStringLiteral("Saved.")});
    EXPECT_EQ(banner->height(), NoticeBanner::kHeight);
}

// ----- Buttons

TEST_F(Components, PrimaryButtonDimsWhenDisabledAndEasesWhenPressed)
{
    StyledButton button(QStringLiteral("Send"), PrimaryButtonStyle(false));
    button.resize(button.sizeHint());
    EXPECT_EQ(button.sizeHint().height(), 42);
    EXPECT_EQ(StyledButton(QStringLiteral("Send"), PrimaryButtonStyle(true)).sizeHint().height(), 32);
    EXPECT_EQ(button.currentOpacity(), 1.0);
    EXPECT_EQ(button.currentScale(), 1.0);

    QTest::mousePress(&button, Qt::LeftButton, {}, button.rect().center());
    ASSERT_TRUE(button.isDown());
    EXPECT_EQ(button.pressProgress(), 0.0); // eases in from released
    clock.advance(70ms);
    EXPECT_GT(button.currentOpacity(), 0.82);
    EXPECT_LT(button.currentOpacity(), 1.0);
    clock.advance(70ms);
    EXPECT_DOUBLE_EQ(button.currentOpacity(), 0.82);
    EXPECT_DOUBLE_EQ(button.currentScale(), 0.985);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, button.rect().center());
    clock.advance(140ms);
    EXPECT_EQ(button.currentOpacity(), 1.0);
    EXPECT_EQ(button.currentScale(), 1.0);

    // Disabled is 0.45, pressed or not.
    button.setEnabled(false);
    EXPECT_DOUBLE_EQ(button.currentOpacity(), 0.45);
    button.setDown(true);
    QEvent poke(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(&button, &poke);
    clock.advance(200ms);
    EXPECT_DOUBLE_EQ(button.currentOpacity(), 0.45);
    button.setDown(false);

    // And it is drawn that way: the fill over white at 0.45.
    QCoreApplication::sendEvent(&button, &poke);
    clock.advance(200ms);
    const QColor fill = render(button).pixelColor(6, button.height() / 2);
    const auto blend = [](int c) { return int(std::lround(0.45 * c + 0.55 * 255)); };
    expectColorNear(fill, QColor(blend(0x24), blend(0x1F), blend(0x1A)));
}

TEST_F(Components, TextCrossFadesOnlyWhenAskedAndShown)
{
    QWidget host;
    auto *block = new TextBlock(QStringLiteral("Listening."), DesignFonts::system(20, DesignFonts::Weight::regular),
                                ZephylPalette::Color::text, &host);
    block->resize(200, 30);
    // Without a cross-fade the new text is there at once.
    host.show();
    block->setText(QStringLiteral("Thinking…"));
    EXPECT_EQ(block->crossFadeProgress(), 1.0);

    block->setCrossFade(0.18);
    host.hide();
    block->setText(QStringLiteral("Listening."));
    EXPECT_EQ(block->crossFadeProgress(), 1.0) << "a hidden block has nothing to fade";

    host.show();
    // The darkest pixel: a settled word is drawn at full strength.
    auto darkest = [&] {
        const QImage image = render(*block);
        int least = 255;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                least = std::min(least, qGray(image.pixel(x, y)));
        return least;
    };
    const int before = darkest();
    block->setText(QStringLiteral("Thinking…"));
    EXPECT_EQ(block->text(), QStringLiteral("Thinking…"));
    EXPECT_EQ(block->crossFadeProgress(), 0.0);
    // Half-way both words are faint: no pixel is as dark as a settled word's.
    clock.advance(96ms);
    EXPECT_GT(block->crossFadeProgress(), 0.5);
    EXPECT_LT(block->crossFadeProgress(), 1.0);
    const int during = darkest();
    clock.advance(96ms);
    EXPECT_EQ(block->crossFadeProgress(), 1.0);
    EXPECT_LT(before, 100);
    EXPECT_NEAR(darkest(), before, 8);
    EXPECT_GT(during, before + 20);
}

TEST_F(Components, ASpringAnimatorOvershootsThenSettlesOnItsTarget)
{
    const SpringAnimation spring{0.34, 0.72, 0};
    PressAnimator animator(spring);
    animator.setPressed(true);
    EXPECT_EQ(animator.value(), 0.0);
    clock.advance(48ms);
    EXPECT_NEAR(animator.value(), spring.position(0.048), 1e-9);
    double most = 0;
    while (animator.running()) {
        clock.advance(16ms);
        most = std::max(most, animator.value());
    }
    EXPECT_GT(most, 1.0);
    EXPECT_EQ(animator.value(), 1.0);
    EXPECT_GE(clock.uptime(), spring.settlingDuration());
}

// One change may run with a timing of its own; the next goes back to the animator's.
TEST_F(Components, AnAnimatorChangeCarriesItsOwnTiming)
{
    PressAnimator animator(0.5);
    animator.setPressed(true, AnimationTiming::easeOut(0.22));
    EXPECT_EQ(animator.value(), 0.0);
    clock.advance(110ms);
    EXPECT_NEAR(animator.value(), zktest::referenceEaseOut(0.5), 1e-3) << "half-way through 0.22 s";
    clock.advance(110ms);
    EXPECT_FALSE(animator.running());
    EXPECT_EQ(animator.value(), 1.0);

    animator.setPressed(false);
    clock.advance(250ms);
    EXPECT_NEAR(animator.value(), 1 - zktest::referenceEaseOut(0.5), 1e-3) << "its own half second";
    // Turned back in mid-flight with no time to take, it is there at once.
    ASSERT_TRUE(animator.running());
    animator.setPressed(true, AnimationTiming::immediate());
    EXPECT_FALSE(animator.running());
    EXPECT_EQ(animator.value(), 1.0);

    // Asked again for the state it is already going to, with no time to take,
    // it is there at once rather than finishing on its own time.
    animator.setPressed(false);
    clock.advance(100ms);
    ASSERT_TRUE(animator.running());
    animator.setPressed(false, AnimationTiming::immediate());
    EXPECT_FALSE(animator.running());
    EXPECT_EQ(animator.value(), 0.0);
    animator.setPressed(true);
    animator.setPressed(true, AnimationTiming::easeOut(0.22));
    clock.advance(100ms);
    EXPECT_NEAR(animator.value(), zktest::referenceEaseOut(0.2), 1e-3) << "the same state again keeps its course";
    clock.advance(400ms);
    ASSERT_FALSE(animator.running());

    // A spring's timing runs until the spring settles, overshooting on the way.
    const SpringAnimation spring{0.55, 0.82, 0};
    animator.setPressed(false, AnimationTiming::springing(spring));
    double lowest = 1;
    while (animator.running()) {
        clock.advance(16ms);
        lowest = std::min(lowest, animator.value());
    }
    EXPECT_LT(lowest, 0.0) << "past its rest";
    EXPECT_GT(lowest, -0.02);
    EXPECT_EQ(animator.value(), 0.0);
}

TEST_F(Components, QuietButtonFadesToSevenTenthsWithoutScaling)
{
    StyledButton button(QStringLiteral("Cancel"), QuietButtonStyle(false));
    button.resize(button.sizeHint());
    EXPECT_EQ(button.sizeHint().height(), 38);
    QTest::mousePress(&button, Qt::LeftButton, {}, button.rect().center());
    clock.advance(140ms);
    EXPECT_DOUBLE_EQ(button.currentOpacity(), 0.7);
    EXPECT_EQ(button.currentScale(), 1.0);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, button.rect().center());
    button.setEnabled(false);
    EXPECT_DOUBLE_EQ(button.currentOpacity(), 0.45);
}

// A screen that changes swaps its buttons out with deleteLater(); the button
// must not look at itself once the deletion has run.
TEST_F(Components, AButtonDeletedLaterGoesQuietly)
{
    QPointer<StyledButton> button = new StyledButton(QStringLiteral("Allow"), QuietButtonStyle(true));
    button->show();
    button->deleteLater();
    QCoreApplication::sendPostedEvents(button, QEvent::DeferredDelete);
    EXPECT_TRUE(button.isNull());
}

TEST_F(Components, ChipIgnoresEnabledAndPressesOnlyItsFill)
{
    StyledButton enabled(QStringLiteral("Discuss"), ChipButtonStyle());
    StyledButton disabled(QStringLiteral("Discuss"), ChipButtonStyle());
    disabled.setEnabled(false);
    for (StyledButton *b : {&enabled, &disabled})
        b->resize(b->sizeHint());
    EXPECT_EQ(enabled.sizeHint().height(), 30);
    EXPECT_EQ(render(enabled), render(disabled));

    const QImage released = render(enabled);
    QTest::mousePress(&enabled, Qt::LeftButton, {}, enabled.rect().center());
    // No animation: the pressed fill shows at once, the button's opacity stays.
    EXPECT_EQ(enabled.pressProgress(), 1.0);
    EXPECT_EQ(enabled.currentOpacity(), 1.0);
    EXPECT_EQ(enabled.currentScale(), 1.0);
    EXPECT_DOUBLE_EQ(enabled.buttonStyle().fillOpacity(enabled.pressProgress()), 0.6);
    EXPECT_NE(render(enabled), released);
    QTest::mouseRelease(&enabled, Qt::LeftButton, {}, enabled.rect().center());
}

// ----- Empty state

// Tab goes the way the controls read from the first on, whatever order they
// were made in; a control made again later takes its place in that order.
TEST_F(Components, TabGoesInReadingOrderFromTheFirstControlOn)
{
    // A view kept in order beside a control of the window's own.
    QWidget window;
    auto *beside = new QPushButton(QStringLiteral("Beside"), &window);
    auto *root = new QWidget(&window);
    auto *windowLayout = new QHBoxLayout(&window);
    windowLayout->addWidget(beside);
    windowLayout->addWidget(root);
    auto *column = new QVBoxLayout(root);
    auto *row = new QHBoxLayout;
    // Made last to first, laid first to last.
    auto *c = new QPushButton(QStringLiteral("C"), root);
    auto *b = new QPushButton(QStringLiteral("B"), root);
    auto *a = new QPushButton(QStringLiteral("A"), root);
    row->addWidget(a);
    row->addWidget(b);
    column->addLayout(row);
    column->addWidget(c);
    ReadingOrder::keep(root);
    EXPECT_EQ(ReadingOrder::controls(root), (QList<QWidget *>{a, b, c}));
    // The next control Tab stops at (the chain runs through widgets that take no Tab too).
    const auto next = [](QWidget *w) {
        do
            w = w->nextInFocusChain();
        while ((w->focusPolicy() & Qt::TabFocus) != Qt::TabFocus);
        return w;
    };
    EXPECT_EQ(next(a), b) << "the first control's successor";
    EXPECT_EQ(next(b), c);
    window.show();
    auto *first = new QPushButton(QStringLiteral("Made again"), root);
    row->insertWidget(0, first);
    first->show();
    EXPECT_TRUE(zktest::spinUntil([&] { return next(first) == a; }));
    EXPECT_EQ(next(c), beside);
}

TEST_F(Components, EmptyCardHasAButtonOnlyWithBothTitleAndAction)
{
    int runs = 0;
    EmptyStateCard both(QStringLiteral("sparkles"), QStringLiteral("Nothing yet"), QStringLiteral("Detail"),
                        QStringLiteral("Open"), [&] { ++runs; });
    ASSERT_NE(both.actionButton(), nullptr);
    EXPECT_EQ(both.actionButton()->text(), QStringLiteral("Open"));
    EXPECT_EQ(both.actionButton()->buttonStyle().height, PrimaryButtonStyle(false).height);
    QTest::mouseClick(both.actionButton(), Qt::LeftButton);
    EXPECT_EQ(runs, 1);

    EmptyStateCard titleOnly(QStringLiteral("camera"), QStringLiteral("T"), QStringLiteral("D"),
                             QStringLiteral("Open"), {});
    EXPECT_EQ(titleOnly.actionButton(), nullptr);
    EmptyStateCard actionOnly(QStringLiteral("camera"), QStringLiteral("T"), QStringLiteral("D"), std::nullopt,
                              [&] { ++runs; });
    EXPECT_EQ(actionOnly.actionButton(), nullptr);
    EXPECT_EQ(both.maximumWidth(), 520);
}

TEST_F(Components, EmptyCardDetailGrowsInsteadOfBeingCut)
{
    const QString detail = QStringLiteral(
        "Observations appear here only when the plan, your publications or your feed give evidence for them. "
        "A quiet summary is an honest one.");
    EmptyStateCard card(QStringLiteral("sparkles"), QStringLiteral("Nothing yet"), detail);
    EXPECT_GT(card.heightForWidth(260), card.heightForWidth(520));
    card.resize(300, card.heightForWidth(300));
    card.show();
    const QStringList lines = card.detailText()->visibleLines();
    EXPECT_GT(lines.size(), 2);
    EXPECT_EQ(lines.join(QLatin1Char(' ')), detail);
}

// ----- Titles

TEST_F(Components, EyebrowAndTitleTrackExceptInArabic)
{
    L10n::setPreference(AppLanguage::he);
    ScreenTitle hebrew(QStringLiteral("Connection and settings"), QStringLiteral("Profile"));
    // QFont keeps spacing in 1/64 pixel.
    EXPECT_NEAR(hebrew.eyebrow()->font().letterSpacing(), 2.2, 1.0 / 64);
    EXPECT_EQ(hebrew.eyebrow()->font().letterSpacingType(), QFont::AbsoluteSpacing);
    EXPECT_NEAR(hebrew.title()->font().letterSpacing(), -1.2, 1.0 / 64);
    EXPECT_EQ(hebrew.eyebrow()->text(), QStringLiteral("CONNECTION AND SETTINGS"));

    L10n::setPreference(AppLanguage::ar);
    ScreenTitle arabic(QStringLiteral("x"), QStringLiteral("y"));
    EXPECT_EQ(arabic.eyebrow()->font().letterSpacing(), 0.0);
    EXPECT_EQ(arabic.title()->font().letterSpacing(), 0.0);

    // A language change reaches widgets that already exist.
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&hebrew, &change);
    QCoreApplication::sendEvent(hebrew.eyebrow(), &change);
    EXPECT_EQ(hebrew.eyebrow()->font().letterSpacing(), 0.0);
    EXPECT_EQ(hebrew.title()->font().letterSpacing(), 0.0);
}

TEST_F(Components, EyebrowUpperCasesTheSameInEveryLanguage)
{
    L10n::setPreference(AppLanguage::tr);
    Eyebrow eyebrow(QStringLiteral("istanbul stra\u00dfe"));
    EXPECT_EQ(eyebrow.text(), QStringLiteral("ISTANBUL STRASSE"));
    EXPECT_EQ(eyebrow.colorRole(), Color::muted);
}

// ----- Pill, row, divider

TEST_F(Components, PillColoursFollowToneAndLongTextWraps)
{
    const std::pair<PillTone, std::pair<Color, Color>> table[] = {
        {PillTone::neutral, {Color::muted, Color::surfaceSoft}},
        {PillTone::accent, {Color::accent, Color::accentSoft}},
        {PillTone::settled, {Color::settled, Color::settledSoft}},
        {PillTone::attention, {Color::attention, Color::attentionSoft}},
    };
    for (const auto &[tone, colors] : table) {
        StatusPill pill(QStringLiteral("Draft"), tone);
        EXPECT_EQ(pill.colorRole(), colors.first);
        EXPECT_EQ(StatusPill::fillColor(tone), colors.second);
        EXPECT_GE(pill.sizeHint().height(), 22);
    }
    const QString text = QStringLiteral("Waiting for Instagram to finish processing");
    StatusPill pill(text, PillTone::accent);
    EXPECT_GT(pill.heightForWidth(80), pill.heightForWidth(600));
    pill.resize(80, pill.heightForWidth(80));
    // Wrapped, never cut: every letter is still there, no ellipsis.
    const auto letters = [](QString s) { return s.remove(QRegularExpression(QStringLiteral("\\s"))); };
    EXPECT_EQ(letters(pill.visibleLines().join(QString())), letters(text));

    // Where it must wrap, the lines come out about even: no word left alone on
    // the last line, and the pill asks only for the width its lines take.
    const QString sentence = QStringLiteral("Plan changes are kept here but not saved yet.");
    StatusPill wide(sentence, PillTone::attention);
    const QFontMetricsF metrics(wide.font());
    wide.setPreferredWidth(2000);
    const int full = wide.sizeHint().width() - 18;
    const QStringList greedy = TextBlock::layoutLines(sentence, wide.font(), full - 12, 0, Qt::LeftToRight);
    ASSERT_EQ(greedy.size(), 2);
    ASSERT_EQ(greedy.last(), QStringLiteral("yet."));
    wide.resize(full - 12 + 18, wide.heightForWidth(full - 12 + 18));
    const QStringList even = wide.visibleLines();
    ASSERT_EQ(even.size(), 2);
    EXPECT_LT(std::abs(metrics.horizontalAdvance(even.first()) - metrics.horizontalAdvance(even.last())),
              metrics.horizontalAdvance(QStringLiteral("kept here")));
    wide.setPreferredWidth(full - 12);
    EXPECT_LT(wide.sizeHint().width(), full - 12 + 18 - metrics.horizontalAdvance(QStringLiteral("kept")));
    EXPECT_EQ(wide.sizeHint().height(), wide.heightForWidth(full - 12 + 18));
}

TEST_F(Components, SettingRowDetailIsOptionalAndWraps)
{
    SettingRow plain(QStringLiteral("Theme"), std::nullopt, new QWidget);
    EXPECT_EQ(plain.detailText(), nullptr);
    EXPECT_EQ(plain.content()->parentWidget(), &plain);

    SettingRow detailed(QStringLiteral("Walk on other windows"),
                        QStringLiteral("Uses only window positions from the window server; no permission is needed "
                                       "and nothing is read from the windows."),
                        nullptr);
    ASSERT_NE(detailed.detailText(), nullptr);
    EXPECT_GT(detailed.heightForWidth(280), detailed.heightForWidth(1400));

    Divider2 divider;
    EXPECT_EQ(divider.minimumHeight(), 1);
    EXPECT_EQ(divider.maximumHeight(), 1);
}

// ----- Surface

TEST_F(Components, SurfaceShadowOnlyWhenRaisedAndStrongerInDark)
{
    const ZephylSurfaceModifier flat{16, false};
    for (Appearance appearance : {Appearance::light, Appearance::dark}) {
        EXPECT_EQ(flat.shadowColor(appearance).alpha(), 0);
        EXPECT_TRUE(flat.shadowImage(QSizeF(100, 60), appearance).isNull());
        EXPECT_TRUE(flat.shadowMargins(appearance).isNull());
    }
    const ZephylSurfaceModifier raised{16, true};
    EXPECT_NEAR(raised.shadowColor(Appearance::dark).alphaF(), 0.42, 0.003);
    EXPECT_NEAR(raised.shadowColor(Appearance::light).alphaF(), 0.06, 0.003);
    EXPECT_EQ(raised.shadowBlur(Appearance::dark), 16);
    EXPECT_EQ(raised.shadowBlur(Appearance::light), 18);
    EXPECT_EQ(raised.shadowOffsetY(Appearance::dark), 9);
    EXPECT_EQ(raised.shadowOffsetY(Appearance::light), 8);
    EXPECT_NEAR(raised.strokeColor(Appearance::dark).alphaF(), 0.12 * 0.62, 0.003);
    EXPECT_NEAR(raised.strokeColor(Appearance::light).alphaF(), 0.12 * 0.3, 0.003);

    // Drawn: the shadow darkens the room below the card, more in dark than light.
    auto belowCard = [](Appearance appearance) {
        AppearanceService::shared().setTheme(appearance == Appearance::dark ? AppTheme::dark : AppTheme::light);
        ZephylSurface surface(16, true);
        surface.resize(200, 160);
        const QRectF card = surface.cardRect();
        return render(surface).pixelColor(int(card.center().x()), int(card.bottom()) + 6).red();
    };
    const int light = belowCard(Appearance::light);
    const int dark = belowCard(Appearance::dark);
    EXPECT_LT(light, 255);
    EXPECT_LT(dark, light);
    ZephylSurface flatSurface(16, false);
    EXPECT_EQ(flatSurface.contentsMargins(), QMargins());
}

// ----- Uneven corners

TEST(UnevenCornersGeometry, ClampsToHalfTheShorterSide)
{
    const UnevenCorners shape{30, 0, 0, 0};
    const QRectF rect(0, 0, 100, 40);
    EXPECT_EQ(shape.clamped(rect.size()), (UnevenCorners{20, 0, 0, 0}));
    const QPainterPath path = shape.path(rect);
    EXPECT_EQ(path.elementAt(0).x, 20.0);
    EXPECT_EQ(path.elementAt(0).y, 0.0);
    EXPECT_EQ(path.boundingRect(), rect);
    EXPECT_FALSE(path.contains(QPointF(2, 2)));   // rounded away at radius 20
    EXPECT_TRUE(path.contains(QPointF(20, 2)));
    EXPECT_TRUE(path.contains(QPointF(99.5, 0.5))); // the other three stay sharp
    EXPECT_TRUE(path.contains(QPointF(99.5, 39.5)));
    EXPECT_TRUE(path.contains(QPointF(0.5, 39.5)));

    EXPECT_EQ((UnevenCorners{100, 100, 100, 100}.clamped(QSizeF(100, 40))), (UnevenCorners{20, 20, 20, 20}));
    EXPECT_EQ((UnevenCorners{-5, std::nan(""), 3, 0}.clamped(QSizeF(100, 40))), (UnevenCorners{0, 0, 3, 0}));
}

TEST(UnevenCornersGeometry, ZeroRadiiGiveThePlainRectangle)
{
    const QRectF rect(10, 5, 100, 40);
    const QPainterPath path = UnevenCorners{}.path(rect);
    QPainterPath plain;
    plain.addRect(rect);
    EXPECT_TRUE(path.subtracted(plain).isEmpty());
    EXPECT_TRUE(plain.subtracted(path).isEmpty());
    EXPECT_EQ(path.boundingRect(), rect);
}

TEST(UnevenCornersGeometry, EachCornerTakesItsOwnRadius)
{
    const QRectF rect(0, 0, 80, 80);
    const QPainterPath path = UnevenCorners{0, 0, 30, 0}.path(rect);
    EXPECT_FALSE(path.contains(QPointF(78, 78))); // bottom trailing rounded
    EXPECT_TRUE(path.contains(QPointF(1, 1)));
    EXPECT_TRUE(path.contains(QPointF(79, 1)));
    EXPECT_TRUE(path.contains(QPointF(1, 79)));
}

// ----- Growing text field

TEST_F(Components, GrowingFieldStepsByWholeLinesUpToMaxLines)
{
    GrowingTextField field(QStringLiteral("Ask anything…"), 4);
    field.resize(300, field.height());
    field.show();
    EXPECT_EQ(field.visibleLineCount(), 1);
    const int oneLine = field.height();
    EXPECT_EQ(oneLine, field.heightForLines(1));
    const double lineHeight = QFontMetricsF(field.font()).lineSpacing();

    QStringList lines;
    int previous = oneLine;
    for (int n = 1; n <= 6; ++n) {
        lines.append(QStringLiteral("line %1").arg(n));
        field.setText(lines.join(QLatin1Char('\n')));
        EXPECT_EQ(field.contentLineCount(), n);
        EXPECT_EQ(field.visibleLineCount(), std::min(n, 4)) << n;
        EXPECT_EQ(field.height(), field.heightForLines(std::min(n, 4))) << n;
        if (n >= 2 && n <= 4) {
            EXPECT_NEAR(field.height() - previous, lineHeight, 1.0) << n;
        } else if (n > 4) {
            EXPECT_EQ(field.height(), previous) << n;
        }
        previous = field.height();
    }
    field.setText(QString());
    EXPECT_EQ(field.height(), oneLine);

    // Wrapped lines count as lines.
    field.setText(QStringLiteral("a long paragraph that is far too wide for three hundred pixels of text, so it "
                                 "wraps onto another line"));
    EXPECT_GE(field.visibleLineCount(), 2);
}

TEST_F(Components, GrowingFieldTextStartsOnTheLeadingSide)
{
    // Where the first line's text sits across the field's document width.
    auto firstLine = [](GrowingTextField &field) {
        const QTextLayout *layout = field.document()->begin().layout();
        return layout->lineAt(0).naturalTextRect();
    };
    for (const QString &text : {QStringLiteral("مرحبًا"), QStringLiteral("Hello")}) {
        GrowingTextField ltr(QString(), 3);
        ltr.resize(300, ltr.height());
        ltr.show();
        ltr.setText(text);
        EXPECT_LT(firstLine(ltr).left(), 10) << text.toStdString();

        GrowingTextField rtl(QString(), 3);
        rtl.setLayoutDirection(Qt::RightToLeft);
        rtl.resize(300, rtl.height());
        rtl.show();
        rtl.setText(text);
        const double right = rtl.viewport()->width() - rtl.document()->documentMargin();
        EXPECT_NEAR(firstLine(rtl).right(), right, 2) << text.toStdString();
        // Turning the layout back puts the text back on the left.
        rtl.setLayoutDirection(Qt::LeftToRight);
        EXPECT_LT(firstLine(rtl).left(), 10) << text.toStdString();
    }
}

TEST_F(Components, GrowingFieldTreatsMaxLinesBelowOneAsOne)
{
    GrowingTextField field(QString(), 0);
    field.resize(300, field.height());
    field.show();
    field.setText(QStringLiteral("a\nb\nc"));
    EXPECT_EQ(field.maxLines(), 1);
    EXPECT_EQ(field.visibleLineCount(), 1);
    EXPECT_EQ(field.height(), field.heightForLines(1));
}

TEST_F(Components, GrowingFieldReturnSubmitsAndShiftReturnBreaksTheLine)
{
    GrowingTextField field(QString(), 3);
    field.show();
    QSignalSpy submitted(&field, &GrowingTextField::submitted);
    QTest::keyClicks(&field, QStringLiteral("hi"));
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(submitted.count(), 1);
    EXPECT_EQ(field.text(), QStringLiteral("hi"));
    QTest::keyClick(&field, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(&field, QStringLiteral("there"));
    EXPECT_EQ(field.text(), QStringLiteral("hi\nthere"));
    EXPECT_EQ(submitted.count(), 1);
    EXPECT_EQ(field.visibleLineCount(), 2);
}

// ----- Icons and spring

TEST_F(Components, IconsDrawKnownNamesAndMirrorDirectionalOnes)
{
    for (const char *name : {"exclamationmark.circle", "checkmark.circle", "sparkles", "camera", "square.grid.3x3"})
        EXPECT_TRUE(Icons::has(QString::fromLatin1(name))) << name;
    auto draw = [](const QString &name, Qt::LayoutDirection direction, bool *drawn = nullptr) {
        QImage image(24, 24, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        const bool ok = Icons::paint(painter, name, QRectF(0, 0, 24, 24), Qt::black, direction);
        if (drawn)
            *drawn = ok;
        return image;
    };
    QImage empty(24, 24, QImage::Format_ARGB32_Premultiplied);
    empty.fill(Qt::transparent);
    for (const QString &name : Icons::names()) {
        bool drawn = false;
        EXPECT_NE(draw(name, Qt::LeftToRight, &drawn), empty) << name.toStdString();
        EXPECT_TRUE(drawn);
    }
    bool drawn = true;
    EXPECT_EQ(draw(QStringLiteral("no.such.symbol"), Qt::LeftToRight, &drawn), empty);
    EXPECT_FALSE(drawn);

    // Where the ink sits: a left chevron's point is on the left, mirrored on the right.
    const auto inkCentre = [](const QImage &image) {
        double sum = 0, weight = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const double a = image.pixelColor(x, y).alphaF();
                sum += a * (x + 0.5);
                weight += a;
            }
        }
        return sum / weight;
    };
    const QString chevron = QStringLiteral("chevron.left");
    const double ltr = inkCentre(draw(chevron, Qt::LeftToRight));
    const double rtl = inkCentre(draw(chevron, Qt::RightToLeft));
    EXPECT_LT(ltr, 12.0);
    EXPECT_NEAR(rtl, 24.0 - ltr, 0.25);
    const QString check = QStringLiteral("checkmark.circle");
    EXPECT_EQ(draw(check, Qt::RightToLeft), draw(check, Qt::LeftToRight));
}

TEST(ZephylSpringCurve, RunsFromZeroToOneOverTheSettlingTime)
{
    const QEasingCurve curve = ZephylSpringCurve::curve();
    EXPECT_EQ(curve.valueForProgress(0), 0.0);
    EXPECT_EQ(curve.valueForProgress(1), 1.0);
    EXPECT_GT(curve.valueForProgress(0.5), 0.9);
    EXPECT_EQ(ZephylSpringCurve::durationMs(), int(std::lround(zephylSpring().settlingDuration() * 1000)));
}

} // namespace

#include "ComponentsTest.moc"

// The packaged faces carry the weights asked for: no title comes out bold
// for want of a semibold face, and each script has a face of its own.
TEST(DesignFonts, EachWeightAndScriptHasItsOwnFace)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Inter")))
        GTEST_SKIP() << "the design's fonts are not installed (scripts/install-deps)";
    struct Case {
        QFont font;
        const char *family;
        int weight;
    };
    const Case cases[] = {
        {DesignFonts::system(13, DesignFonts::Weight::regular), "Inter", 400},
        {DesignFonts::system(13.5, DesignFonts::Weight::medium), "Inter", 500},
        {DesignFonts::system(11, DesignFonts::Weight::semibold), "Inter", 600},
        {DesignFonts::system(28, DesignFonts::Weight::heavy), "Inter", 800},
        {DesignFonts::serif(34, DesignFonts::Weight::semibold), "Linux Libertine O", 600},
        {DesignFonts::serif(19, DesignFonts::Weight::bold), "Linux Libertine O", 700},
    };
    for (const Case &c : cases) {
        const QFontInfo info(c.font);
        EXPECT_EQ(info.family(), QString::fromLatin1(c.family));
        EXPECT_EQ(info.weight(), c.weight) << c.family << " " << info.styleName().toStdString();
    }
    EXPECT_EQ(QGuiApplication::font().families().value(0), QStringLiteral("Inter")) << "every window's default";

    // Arabic and Hebrew come from their own faces, the Arabic title from the
    // naskh face that stands for the serif.
    auto faceOf = [](const QFont &font, const QString &text) {
        QTextLayout layout(text, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        // The face of most glyphs (a space may come from the first face).
        QString face;
        qsizetype most = 0;
        for (const QGlyphRun &run : layout.glyphRuns()) {
            if (run.glyphIndexes().size() > most) {
                most = run.glyphIndexes().size();
                face = run.rawFont().familyName();
            }
        }
        return face;
    };
    EXPECT_EQ(faceOf(DesignFonts::system(11, DesignFonts::Weight::semibold), QStringLiteral("الملف الشخصي")),
              QStringLiteral("Noto Sans Arabic UI"));
    EXPECT_EQ(faceOf(DesignFonts::serif(34, DesignFonts::Weight::semibold), QStringLiteral("الملف الشخصي")),
              QStringLiteral("Noto Naskh Arabic UI"));
    EXPECT_EQ(faceOf(DesignFonts::system(13, DesignFonts::Weight::regular), QStringLiteral("פרופיל")),
              QStringLiteral("Noto Sans Hebrew"));
}

// A line in a script of a taller face is given its whole height: the text
// block and the text field are not cut to the first face's line.
TEST(DesignFonts, LinesOfATallerScriptAreNotCut)
{
    const QFont font = DesignFonts::serif(34, DesignFonts::Weight::semibold);
    const QString arabic = QStringLiteral("الملف الشخصي");
    QTextLayout layout(arabic, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(10000);
    layout.endLayout();
    TextBlock block(arabic, font, ZephylPalette::Color::text);
    EXPECT_GE(block.heightForWidth(2000), std::floor(line.height()));
    EXPECT_GE(block.sizeHint().width(), std::floor(line.naturalTextWidth())) << "kept on one line";
    EXPECT_EQ(TextBlock::layoutLines(arabic, font, block.sizeHint().width(), 0, Qt::RightToLeft).size(), 1);
}

namespace {
// The inked part of a text block's drawing, on a white ground.
QImage inkOf(TextBlock &block)
{
    QImage image(block.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    block.render(&image);
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 200)
                ink |= QRect(x, y, 1, 1);
    return image.copy(ink);
}
} // namespace

// A text is cut at the end of its own direction, whatever the window's: an
// English title in an Arabic window loses its right end, a Hebrew one in an
// English window its left end.
TEST(TextBlock, ElidesEachTextAtTheEndOfItsOwnDirection)
{
    AppearanceService::shared().setTheme(AppTheme::light);
    const QFont font = DesignFonts::system(13, DesignFonts::Weight::regular);
    for (const QString &text : {QStringLiteral("Weekly plan for the spring launch of the new collection"),
                                QStringLiteral("תוכנית שבועית להשקת האביב של הקולקציה החדשה")}) {
        SCOPED_TRACE(text.toStdString());
        QImage drawn[2];
        for (int i = 0; i < 2; ++i) {
            TextBlock block(text, font, ZephylPalette::Color::text);
            block.setMaxLines(1);
            block.setLayoutDirection(i == 0 ? Qt::LeftToRight : Qt::RightToLeft);
            block.resize(150, 24);
            const QStringList lines = block.visibleLines();
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines.first().endsWith(QChar(0x2026))) << "cut";
            drawn[i] = inkOf(block);
            ASSERT_FALSE(drawn[i].isNull());
            // The ellipsis (ink only low on the line) takes the end where the text reads to.
            const QImage &ink = drawn[i];
            const int dots = int(std::ceil(QFontMetricsF(font).horizontalAdvance(QChar(0x2026)))) - 2;
            const bool rtlText = text.isRightToLeft();
            int high = 0;
            for (int k = 0; k < dots; ++k) {
                const int x = rtlText ? k : ink.width() - 1 - k;
                for (int y = 0; y < ink.height() / 2; ++y)
                    high += qGray(ink.pixel(x, y)) < 200;
            }
            EXPECT_EQ(high, 0) << (i == 0 ? "left-to-right" : "right-to-left") << " window: the cut is at the wrong end";
        }
    }
}

// A wrapped paragraph reads in one direction on every line: in an Arabic
// window, a line of the outcome's sentence that begins with the Latin name
// "Zephyl" still reads from the right, the name at the line's right end, where
// a line laid out in its own direction would put it at its left.
TEST(TextBlock, EveryLineOfAParagraphReadsInTheParagraphsDirection)
{
    AppearanceService::shared().setTheme(AppTheme::light);
    L10n::setPreference(AppLanguage::ar);
    const QString text = L10n::tf(
        "The server publishes it at %@. You can close Zephyl; it does not depend on this computer being awake.",
        QString());
    L10n::setPreference(AppLanguage::en);
    const QFont font = DesignFonts::system(14, DesignFonts::Weight::regular);
    // A width at which a line begins with the name.
    int width = 0;
    for (int w = 120; w < 600 && width == 0; ++w) {
        const QStringList lines = TextBlock::layoutLines(text, font, w, 0, Qt::RightToLeft);
        for (qsizetype i = 1; i < lines.size(); ++i)
            width = lines.at(i).startsWith(QStringLiteral("Zephyl")) ? w : width;
    }
    ASSERT_GT(width, 0);
    TextBlock block(text, font, ZephylPalette::Color::text);
    block.setLayoutDirection(Qt::RightToLeft);
    block.resize(width, block.heightForWidth(width));
    const zktest::Drawn name = zktest::findDrawn(&block, QStringLiteral("Zephyl"));
    EXPECT_LT(name.difference, 25) << "the name is drawn";
    EXPECT_GE(name.at.x() + name.piece.width(), name.whole.right() - 6)
        << "the name starts its line at the right, found at " << name.at.x() << " in a block " << width << " wide";

    // Each paragraph takes its direction once: an English one under an Arabic
    // one (a mixed caption) keeps its full stop at its end.
    const QString caption = QStringLiteral("بداية هادئة للأسبوع\nA calm start. Zephyl");
    const QList<TextBlock::Line> mixed = TextBlock::layout(caption, font, 600, 0, Qt::RightToLeft);
    ASSERT_EQ(mixed.size(), 2);
    EXPECT_EQ(mixed.at(0).direction, Qt::RightToLeft);
    EXPECT_EQ(mixed.at(1).direction, Qt::LeftToRight);
}
