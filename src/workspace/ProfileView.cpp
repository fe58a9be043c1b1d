#include "workspace/ProfileView.h"
#include "design/TextDirection.h"

#include "app/AppModel.h"
#include "base/Bundle.h"
#include "design/AppLanguage.h"
#include "design/Controls.h"
#include "design/L10n.h"
#include "design/ReadingOrder.h"
#include "design/ServiceDomain.h"
#include "design/SettingRow.h"
#include "design/StatusPill.h"
#include "design/TextBlock.h"
#include "design/Titles.h"
#include "workspace/KeyboardHold.h"
#include "workspace/ProfilePicture.h"
#include "services/Json.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include <memory>

using ZephylPalette::Color;

namespace {

// Gives `control` the keyboard now, or once it is enabled (still held for the
// work under way) if the keyboard has not moved meanwhile.
void takeKeyboardOnceEnabled(QWidget *control)
{
    if (control->isEnabled()) {
        control->setFocus(Qt::OtherFocusReason);
        return;
    }
    struct Waiter final : QObject {
        QPointer<QWidget> from = QApplication::focusWidget();
        explicit Waiter(QWidget *control) : QObject(control) { control->installEventFilter(this); }
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            auto *control = static_cast<QWidget *>(watched);
            if (event->type() != QEvent::EnabledChange || !control->isEnabled())
                return false;
            if (QApplication::focusWidget() == from)
                control->setFocus(Qt::OtherFocusReason);
            deleteLater();
            return false;
        }
    };
    new Waiter(control);
}

using Fill = std::function<void(QWidget *, QVBoxLayout *)>;

// Makes the part in `section` again. The keyboard stays in it, where it was
// there or `back` asks for it: on the same control, or on its first where that
// is gone (connected, "Connect Instagram" is; started, "Start" is).
void refillKeepingKeyboard(QWidget *section, QVBoxLayout *layout, const Fill &fill, bool back = false)
{
    QWidget *focus = QApplication::focusWidget();
    QWidget *had = section->isAncestorOf(focus) ? focus : nullptr; // deleted only later
    // Held by the part meanwhile, rather than run on to the next part (and
    // the page scrolled to it) as its control hides.
    if (had)
        section->setFocus(Qt::OtherFocusReason);
    clearLayout(layout);
    fill(section, layout);
    if (!had && !back)
        return;
    for (QWidget *w : widgetsIn<QWidget>(layout))
        w->show(); // now rather than a moment later, to take the keyboard
    QWidget *same = had ? KeyboardHold::sameControl(had, section) : nullptr;
    for (QWidget *w : ReadingOrder::controls(section)) {
        if (!same && w->isVisible())
            same = w;
    }
    if (same)
        takeKeyboardOnceEnabled(same);
}

// A part of a card made again whenever one of the state object's signals fires.
template <typename... Signals>
QWidget *liveSection(AppModel &model, QWidget *parent, Fill fill, Signals... changes)
{
    auto *section = new QWidget(parent);
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // Where the keyboard went when a control of the part that had it was
    // disabled for the work it started ("Connect Instagram" while it connects),
    // for as long as it stays there (a sign-in window may have it meanwhile).
    auto pushedTo = std::make_shared<QPointer<QWidget>>();
    QObject::connect(qApp, &QApplication::focusChanged, section, [section, pushedTo](QWidget *old, QWidget *now) {
        if (old && section->isAncestorOf(old) && !old->isEnabled() && now && !section->isAncestorOf(now))
            *pushedTo = now;
        else if (now && now->window() == section->window() && now != *pushedTo)
            *pushedTo = nullptr;
    });
    auto refill = [section, layout, fill, pushedTo] {
        QWidget *focus = QApplication::focusWidget();
        refillKeepingKeyboard(section, layout, fill, focus && focus == *pushedTo);
    };
    refill();
    (QObject::connect(&model, changes, section, refill), ...);
    return section;
}

// The first `count` characters as a reader counts them (an emoji or an accented
// letter is one).
QString firstCharacters(const QString &text, int count)
{
    return Text::prefixGraphemes(text, count);
}

QWidget *switchControl(bool on, QWidget *parent)
{
    auto *control = new ToggleSwitch(QString(), parent);
    control->setOn(on);
    return control;
}

StyledButton *button(const QString &title, const ButtonStyle &style, QWidget *parent)
{
    return new StyledButton(title, style, parent);
}

} // namespace

ProfileView::ProfileView(AppModel &model, QWidget *parent) : Screen(model, parent) { populate(); }

QString ProfileView::versionText()
{
    const Bundle &bundle = Bundle::shared();
    const QString shortVersion = bundle.info(QStringLiteral("version")).value_or(QStringLiteral("0"));
    const QString build = bundle.info(QStringLiteral("build")).value_or(QStringLiteral("0"));
    return shortVersion + QStringLiteral(" (") + build + QStringLiteral(")");
}

QString ProfileView::distractionsText(const std::vector<DistractingWindow> &windows)
{
    if (windows.empty())
        return L10n::t("None found.");
    QStringList lines;
    for (std::size_t i = 0; i < std::min<std::size_t>(windows.size(), 4); ++i)
        lines << isolatedPiece(windows[i].appName) + QStringLiteral(": ") +
                     isolatedPiece(firstCharacters(windows[i].title, 48));
    return lines.join(QLatin1Char('\n'));
}

QString ProfileView::headerLine(const std::optional<QString> &name, const std::optional<QString> &accountType)
{
    QStringList parts;
    if (name && !name->isEmpty())
        parts << isolatedPiece(*name);
    if (accountType && !accountType->isEmpty()) {
        QString words = accountType->toLower();
        bool start = true;
        for (QChar &c : words) {
            if (start && c.isLetter())
                c = c.toUpper();
            start = c.isSpace();
        }
        parts << words;
    }
    return parts.join(QStringLiteral(" · "));
}

void ProfileView::showEvent(QShowEvent *event)
{
    Screen::showEvent(event);
    if (!event->spontaneous())
        refreshPermission();
}

void ProfileView::refreshPermission()
{
    // Reads only; asking for the right is requestAccessibility()'s.
    AppModel &model = this->model();
    model.setAccessibilityTrusted(model.windows().trusted());
    model.setDistractions(FocusGuard::scan(model.windows()));
}

void ProfileView::askToDisconnect()
{
    if (m_disconnect)
        return;
    AppModel &model = this->model();
    m_disconnect = new ConfirmationDialog(
        L10n::t("Disconnect Instagram?"),
        L10n::t("Scheduled publications that have not gone out yet will not be able to publish until an account is "
                "connected again."),
        L10n::t("Disconnect"), this);
    connect(m_disconnect, &ConfirmationDialog::confirmed, &model, [&model] { model.disconnectInstagram(); });
    m_disconnect->open();
}

void ProfileView::askToSignOut()
{
    if (m_signOut)
        return;
    AppModel &model = this->model();
    // Plan changes the service has not taken (a save under way included) stay
    // with this account on this computer, when they could be kept here at all.
    std::optional<QString> message;
    if (model.planUnsaved() || model.planSaving())
        message = model.planKept()
                      ? L10n::t("Plan changes that are not saved yet stay on this computer and are saved when this "
                                "account signs in here again.")
                      : L10n::t("Plan changes that are not saved yet could not be kept on this computer: signing out "
                                "loses them.");
    m_signOut = new ConfirmationDialog(L10n::t("Sign out of Zephyl?"), message, L10n::t("Sign out"), this);
    connect(m_signOut, &ConfirmationDialog::confirmed, &model, [&model] { model.signOut(); });
    m_signOut->open();
}

QWidget *ProfileView::build()
{
    QVBoxLayout *column = nullptr;
    QScrollArea *area = scrollColumn(column, 760, QMargins(32, 44, 32, 32), 22);
    keepScroll(area);
    QWidget *body = column->parentWidget();
    column->addWidget(new ScreenTitle(L10n::t("Profile"), L10n::t("Connection and settings"), body));
    column->addWidget(instagramCard(body));
    column->addWidget(companionCard(body));
    column->addWidget(focusCard(body));
    column->addWidget(appearanceCard(body));
    column->addWidget(accountCard(body));
    column->addWidget(text(L10n::t("Publishing is prepared in Zephyl beta and sent through the official Instagram "
                                   "API only after your confirmation. Access tokens stay on the server; this computer "
                                   "never sees them."),
                           12, DesignFonts::Weight::regular, Color::muted, body));
    column->addStretch(1);
    return area;
}

QWidget *ProfileView::instagramCard(QWidget *parent)
{
    AppModel &model = this->model();
    // The card's title is the product's name, as it is.
    auto *card = new CardFrame(QStringLiteral("Instagram"), {}, 4, parent);
    card->rows()->addWidget(liveSection(
        model, card,
        [this, &model](QWidget *section, QVBoxLayout *rows) {
            const auto &profile = model.instagram();
            QList<QWidget *> busyBound;
            if (!profile && !model.instagramKnown()) {
                // Off line nothing says the account is not connected: the service is what is missing.
                rows->addWidget(new SettingRow(L10n::t(ZEPHYL_SERVICE_DOMAIN " can't be reached"), std::nullopt,
                                               nullptr, section));
                return;
            }
            if (!profile) {
                auto *connectButton = new RowButton(L10n::t("Connect Instagram"), PrimaryButtonStyle(true), section);
                connect(connectButton, &QAbstractButton::clicked, section, [&model] { model.connectInstagram(false); });
                auto follow = [connectButton, &model] {
                    connectButton->setBusy(model.instagramBusy());
                    connectButton->setEnabled(!model.instagramBusy());
                };
                follow();
                connect(&model, &AppModel::instagramBusyChanged, connectButton, follow);
                rows->addWidget(new SettingRow(
                    L10n::t("Not connected"),
                    L10n::t("A professional Instagram account (Business or Creator) is needed to publish. The login "
                            "happens in your browser, on Instagram's own page."),
                    connectButton, section));
                return;
            }
            auto *header = new QWidget(section);
            auto *headerRow = new QHBoxLayout(header);
            headerRow->setContentsMargins(0, 6, 0, 6);
            headerRow->setSpacing(14);
            auto *picture = new ProfilePicture(52, header);
            picture->setAddress(profile->profilePictureUrl);
            headerRow->addWidget(picture);
            auto *names = new QVBoxLayout;
            names->setSpacing(3);
            auto *account = text(handle(profile->username), 15, DesignFonts::Weight::semibold, Color::text, header);
            account->setMaxLines(1);
            names->addWidget(account);
            names->addWidget(text(headerLine(profile->name, profile->accountType), 12.5,
                                  DesignFonts::Weight::regular, Color::muted, header));
            headerRow->addLayout(names, 1);
            headerRow->addWidget(new StatusPill(L10n::t("Connected"), PillTone::settled, header), 0, Qt::AlignVCenter);
            rows->addWidget(header);
            rows->addWidget(new Divider2(section));

            auto *another = button(L10n::t("Connect another"), QuietButtonStyle(true), section);
            connect(another, &QPushButton::clicked, section, [&model] { model.connectInstagram(true); });
            rows->addWidget(new SettingRow(
                L10n::t("Connect a different account"),
                L10n::t("Opens Instagram's login in a fresh browser session so you can choose which account."), another,
                section));
            rows->addWidget(new Divider2(section));
            auto *disconnect = button(L10n::t("Disconnect"), QuietButtonStyle(true), section);
            connect(disconnect, &QPushButton::clicked, this, &ProfileView::askToDisconnect);
            rows->addWidget(new SettingRow(
                L10n::t("Disconnect"), L10n::t("Removes the connection from Zephyl. Your Instagram account is untouched."),
                disconnect, section));
            auto follow = [another, disconnect, &model] {
                another->setEnabled(!model.instagramBusy());
                disconnect->setEnabled(!model.instagramBusy());
            };
            follow();
            connect(&model, &AppModel::instagramBusyChanged, section, follow);
        },
        &AppModel::instagramChanged));
    return card;
}

QWidget *ProfileView::companionCard(QWidget *parent)
{
    AppModel &model = this->model();
    auto *card = new CardFrame(L10n::t("Companion"), {}, 4, parent);
    QVBoxLayout *rows = card->rows();

    auto *shown = static_cast<ToggleSwitch *>(switchControl(model.companionEnabled(), card));
    connect(shown, &ToggleSwitch::switched, card, [&model](bool on) { model.setCompanionEnabled(on); });
    connect(&model, &AppModel::companionEnabledChanged, shown, [shown, &model] { shown->setOn(model.companionEnabled()); });
    rows->addWidget(new SettingRow(
        L10n::t("Show the cat on the desktop"),
        L10n::t("It walks along the tops of your windows, sleeps when you are away, and sits on the Ask bar."), shown,
        card));
    rows->addWidget(new Divider2(card));

    RoundedField::Look look;
    look.fontSize = 13;
    look.radius = 6;
    look.height = 26;
    look.padding = 8;
    look.fill = Color::background;
    auto *name = new RoundedField(L10n::t("Cat"), look, card);
    name->setFixedWidth(180);
    name->setText(model.companionName());
    connect(name, &QLineEdit::textEdited, card, [&model](const QString &typed) { model.setCompanionName(typed); });
    connect(&model, &AppModel::companionNameChanged, name,
            [name, &model] { name->setTextKeepingCursor(model.companionName()); });
    rows->addWidget(new SettingRow(L10n::t("Name"), L10n::t("How the cat is called in messages."), name, card));
    rows->addWidget(new Divider2(card));

    auto *walks = static_cast<ToggleSwitch *>(switchControl(model.companionWalksOnWindows(), card));
    connect(walks, &ToggleSwitch::switched, card, [&model](bool on) { model.setCompanionWalksOnWindows(on); });
    connect(&model, &AppModel::companionWalksOnWindowsChanged, walks,
            [walks, &model] { walks->setOn(model.companionWalksOnWindows()); });
    rows->addWidget(new SettingRow(L10n::t("Walk on other windows"),
                                   L10n::t("Uses only window positions from the window server; no permission is "
                                           "needed and nothing is read from the windows."),
                                   walks, card));
    rows->addWidget(new Divider2(card));

    auto *click = static_cast<ToggleSwitch *>(switchControl(model.companionClickOpensAsk(), card));
    connect(click, &ToggleSwitch::switched, card, [&model](bool on) { model.setCompanionClickOpensAsk(on); });
    connect(&model, &AppModel::companionClickOpensAskChanged, click,
            [click, &model] { click->setOn(model.companionClickOpensAsk()); });
    rows->addWidget(new SettingRow(L10n::t("Click the cat to ask"),
                                   L10n::t("A click opens the Ask bar. Alt+Space opens it from anywhere either way."),
                                   click, card));
    return card;
}

QWidget *ProfileView::focusCard(QWidget *parent)
{
    AppModel &model = this->model();
    auto *card = new CardFrame(L10n::t("Focus"), {}, 4, parent);
    QVBoxLayout *rows = card->rows();

    // Session length: the stepper with its value beside it.
    auto *lengthControl = new QWidget(card);
    auto *lengthRow = new QHBoxLayout(lengthControl);
    lengthRow->setContentsMargins(0, 0, 0, 0);
    lengthRow->setSpacing(8);
    const QFont digits = DesignFonts::system(13, DesignFonts::Weight::medium);
    auto *minutes = new TextBlock(L10n::tf("%d min", model.focusMinutes()), digits, Color::text, lengthControl);
    minutes->setFixedWidth(60);
    minutes->setMaxLines(1);
    auto *stepper = new Stepper(10, 90, 5, lengthControl);
    stepper->setNames(L10n::t("Decrease session length"), L10n::t("Increase session length"));
    stepper->setValue(model.focusMinutes());
    lengthRow->addWidget(minutes);
    lengthRow->addWidget(stepper);
    connect(stepper, &Stepper::stepped, card, [&model](int value) { model.setFocusMinutes(value); });
    connect(&model, &AppModel::focusMinutesChanged, stepper, [stepper, minutes, &model] {
        stepper->setValue(model.focusMinutes());
        minutes->setText(L10n::tf("%d min", model.focusMinutes()));
    });
    rows->addWidget(new SettingRow(L10n::t("Session length"), L10n::t("Minutes of work before a five-minute break."),
                                   lengthControl, card));
    rows->addWidget(new Divider2(card));

    auto *guard = static_cast<ToggleSwitch *>(switchControl(model.focusGuardEnabled(), card));
    connect(guard, &ToggleSwitch::switched, card, [&model](bool on) { model.setFocusGuardEnabled(on); });
    connect(&model, &AppModel::focusGuardEnabledChanged, guard,
            [guard, &model] { guard->setOn(model.focusGuardEnabled()); });
    rows->addWidget(new SettingRow(L10n::t("Tuck away feeds during focus"),
                                   L10n::t("When a session starts, browser windows showing Instagram, TikTok, YouTube "
                                           "and the like are minimised to the taskbar. Nothing is closed."),
                                   guard, card));
    rows->addWidget(new Divider2(card));

    // The permission, and the feed windows found while it is granted.
    rows->addWidget(liveSection(
        model, card,
        [this, &model](QWidget *section, QVBoxLayout *part) {
            const bool trusted = model.accessibilityTrusted();
            QWidget *control = nullptr;
            if (trusted) {
                control = new StatusPill(L10n::t("Granted"), PillTone::settled, section);
            } else {
                auto *allow = button(L10n::t("Check again"), PrimaryButtonStyle(true), section);
                connect(allow, &QPushButton::clicked, section, [&model] { model.requestAccessibility(); });
                control = allow;
            }
            part->addWidget(new SettingRow(
                L10n::t("Window access"),
                trusted ? L10n::t("Granted. Zephyl can see window titles and minimise windows.")
                        : L10n::t("Needed to read browser window titles and minimise them. X11 allows it without "
                                  "asking; this session is not X11."),
                control, section));
            if (!trusted)
                return;
            part->addWidget(new Divider2(section));
            auto *buttons = new QWidget(section);
            auto *buttonRow = new QHBoxLayout(buttons);
            buttonRow->setContentsMargins(0, 0, 0, 0);
            buttonRow->setSpacing(8);
            auto *scan = button(L10n::t("Scan"), QuietButtonStyle(true), buttons);
            connect(scan, &QPushButton::clicked, this, &ProfileView::refreshPermission);
            buttonRow->addWidget(scan);
            if (!model.distractions().empty()) {
                auto *tuck = button(L10n::t("Tuck away"), PrimaryButtonStyle(true), buttons);
                connect(tuck, &QPushButton::clicked, section, [&model] { model.tuckAwayDistractions(); });
                buttonRow->addWidget(tuck);
            }
            part->addWidget(new SettingRow(L10n::t("Feed windows open now"), distractionsText(model.distractions()),
                                           buttons, section));
        },
        &AppModel::accessibilityTrustedChanged, &AppModel::distractionsChanged));
    rows->addWidget(new Divider2(card));

    // The session: started here, or running (paused counts) with its time left.
    auto idle = [&model] { return model.focus().phase.kind == FocusSession::Phase::Kind::idle; };
    auto *sessionSlot = new QWidget(card);
    auto *sessionLayout = new QVBoxLayout(sessionSlot);
    sessionLayout->setContentsMargins(0, 0, 0, 0);
    const Fill fillSession = [idle, &model](QWidget *slot, QVBoxLayout *part) {
        const bool resting = idle();
        auto *act = new StyledButton(resting ? L10n::t("Start") : L10n::t("End"), QuietButtonStyle(true), slot);
        if (resting)
            connect(act, &QPushButton::clicked, slot, [&model] { model.startFocus(std::nullopt); });
        else
            connect(act, &QPushButton::clicked, slot, [&model] { model.stopFocus(); });
        auto *row = new SettingRow(resting ? L10n::t("Start a session") : L10n::t("A session is running"),
                                   resting ? L10n::t("The timer appears bottom right and the cat keeps it company.")
                                           : model.focus().display(),
                                   act, slot);
        row->setProperty("idle", resting);
        part->addWidget(row);
    };
    fillSession(sessionSlot, sessionLayout);
    connect(&model, &AppModel::focusChanged, sessionSlot, [sessionSlot, sessionLayout, idle, fillSession, &model] {
        auto *row = sessionSlot->findChild<SettingRow *>();
        const bool resting = idle();
        if (row && row->property("idle").toBool() == resting) {
            if (!resting && row->detailText())
                row->detailText()->setText(model.focus().display());
            return;
        }
        refillKeepingKeyboard(sessionSlot, sessionLayout, fillSession);
    });
    rows->addWidget(sessionSlot);
    return card;
}

QWidget *ProfileView::appearanceCard(QWidget *parent)
{
    AppModel &model = this->model();
    auto *card = new CardFrame(L10n::t("Appearance and language"), {}, 4, parent);
    QVBoxLayout *rows = card->rows();

    auto *theme = new SegmentedPicker({L10n::t("System"), L10n::t("Light"), L10n::t("Dark")}, 260, card);
    theme->setCurrentIndex(int(AppThemes::allCases().indexOf(model.theme())));
    connect(theme, &SegmentedPicker::chosen, card,
            [&model](int index) { model.setTheme(AppThemes::allCases().value(index, AppTheme::system)); });
    connect(&model, &AppModel::themeChanged, theme,
            [theme, &model] { theme->setCurrentIndex(int(AppThemes::allCases().indexOf(model.theme()))); });
    rows->addWidget(new SettingRow(L10n::t("Theme"), std::nullopt, theme, card));
    rows->addWidget(new Divider2(card));

    // Each language by its own name; "System" in the interface's language.
    QStringList names;
    for (AppLanguage language : AppLanguages::allCases())
        names << AppLanguages::nativeName(language);
    auto *language = new MenuPicker(names, 260, card);
    language->setCurrent(int(AppLanguages::allCases().indexOf(model.language())));
    connect(language, &MenuPicker::picked, card, [&model](int index) {
        model.setLanguage(AppLanguages::allCases().value(index, AppLanguage::system));
    });
    rows->addWidget(new SettingRow(L10n::t("Language"), std::nullopt, language, card));
    return card;
}

QWidget *ProfileView::accountCard(QWidget *parent)
{
    AppModel &model = this->model();
    auto *card = new CardFrame(L10n::t("Account"), {}, 4, parent);
    QVBoxLayout *rows = card->rows();
    rows->addWidget(liveSection(
        model, card,
        [&model](QWidget *section, QVBoxLayout *part) {
            const auto &user = model.user();
            QWidget *pill = nullptr;
            if (model.sessionUnverified())
                pill = new StatusPill(L10n::t("Offline"), PillTone::neutral, section);
            std::optional<QString> detail;
            if (user && user->displayName)
                detail = *user->displayName;
            part->addWidget(new SettingRow(user ? user->email : QString(), detail, pill, section));
        },
        &AppModel::userChanged, &AppModel::sessionUnverifiedChanged));
    rows->addWidget(new Divider2(card));

    auto *signOut = button(L10n::t("Sign out"), QuietButtonStyle(true), card);
    connect(signOut, &QPushButton::clicked, this, &ProfileView::askToSignOut);
    rows->addWidget(new SettingRow(L10n::t("Sign out"),
                                   L10n::t("The plan, drafts and connection stay on the server for the next sign-in."),
                                   signOut, card));
    rows->addWidget(new Divider2(card));

    QFont mono = DesignFonts::system(12.5, DesignFonts::Weight::regular);
    mono.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    mono.setStyleHint(QFont::Monospace);
    auto *version = new TextBlock(versionText(), mono, Color::muted, card);
    version->setMaxLines(1);
    version->setLayoutDirection(Qt::LeftToRight);
    rows->addWidget(new SettingRow(L10n::t("Version"), std::nullopt, version, card));
    return card;
}
