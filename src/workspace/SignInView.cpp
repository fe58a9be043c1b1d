#include "workspace/SignInView.h"

#include "app/AppModel.h"
#include "design/Controls.h"
#include "design/L10n.h"
#include "design/NoticeBanner.h"
#include "design/ServiceDomain.h"
#include "design/TextBlock.h"
#include "design/Titles.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

using ZephylPalette::Color;

SignInView::SignInView(AppModel &model, QWidget *parent) : Screen(model, parent) { populate(); }

QWidget *SignInView::build()
{
    AppModel &model = this->model();
    auto *page = new QWidget;
    auto *row = new QHBoxLayout(page);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    // The introduction, on warm paper.
    auto *intro = new Backdrop(Color::warmPaper, 1.0, page);
    auto *introColumn = new QVBoxLayout(intro);
    introColumn->setContentsMargins(48, 48, 48, 48);
    introColumn->setSpacing(22);
    introColumn->addStretch(1);
    introColumn->addWidget(new CatFigureView(1.8, QSize(150, 110), Qt::AlignLeading, intro), 0, Qt::AlignLeading);
    auto *headline = new TextBlock(
        L10n::t("Publish to Instagram without opening Instagram."),
        DesignFonts::tracked(DesignFonts::serif(38, DesignFonts::Weight::semibold), L10n::languageTracking(-1.4)),
        Color::text, intro);
    introColumn->addWidget(headline);
    auto *introduction = text(L10n::t("A cat lives on your desktop, keeps the feed away while you work, and helps "
                                      "you prepare, plan and confirm every publication."),
                              15, DesignFonts::Weight::regular, Color::muted, intro);
    introduction->setLineSpacing(4);
    introColumn->addWidget(introduction);
    introColumn->addStretch(1);
    row->addWidget(intro, 1);

    // The form, on the window's own background.
    auto *form = new QWidget(page);
    form->setFixedWidth(440);
    auto *column = new QVBoxLayout(form);
    column->setContentsMargins(48, 48, 48, 48);
    column->setSpacing(16);
    column->addStretch(1);
    column->addWidget(new Eyebrow(m_creating ? L10n::t("New account") : L10n::t("Sign in"), form));
    auto *title = new TextBlock(m_creating ? L10n::t("Create your Zephyl account") : L10n::t("Welcome back"),
                                DesignFonts::system(24, DesignFonts::Weight::semibold), Color::text, form);
    column->addWidget(title);

    // The current notice, without a timer or a tap of its own.
    auto *bannerSlot = new QWidget(form);
    auto *bannerLayout = new QVBoxLayout(bannerSlot);
    bannerLayout->setContentsMargins(0, 0, 0, 0);
    column->addWidget(bannerSlot);
    auto followNotice = [bannerSlot, bannerLayout, &model] {
        const auto &notice = model.notice();
        auto *banner = bannerSlot->findChild<NoticeBanner *>();
        if (notice && banner) {
            banner->setNotice(*notice);
        } else if (notice) {
            bannerLayout->addWidget(new NoticeBanner(*notice, bannerSlot));
        } else {
            delete banner;
        }
        bannerSlot->setVisible(notice.has_value());
    };
    followNotice();
    connect(&model, &AppModel::noticeChanged, bannerSlot, followNotice);

    auto *fields = new QVBoxLayout;
    fields->setSpacing(10);
    m_nameField = nullptr;
    if (m_creating) {
        m_nameField = new RoundedField(L10n::t("Name"), form);
        m_nameField->setText(m_name);
        connect(m_nameField, &QLineEdit::textEdited, this, [this](const QString &typed) { m_name = typed; });
        connect(m_nameField, &QLineEdit::returnPressed, this, &SignInView::submit);
        fields->addWidget(m_nameField);
    }
    m_emailField = new RoundedField(L10n::t("Email"), form);
    m_emailField->setText(m_email);
    m_emailField->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    connect(m_emailField, &QLineEdit::textEdited, this, [this](const QString &typed) {
        m_email = typed;
        sync();
    });
    connect(m_emailField, &QLineEdit::returnPressed, this, &SignInView::submit);
    fields->addWidget(m_emailField);
    m_passwordField = new RoundedField(L10n::t("Password"), form);
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_passwordField->setText(m_password);
    connect(m_passwordField, &QLineEdit::textEdited, this, [this](const QString &typed) {
        m_password = typed;
        sync();
    });
    connect(m_passwordField, &QLineEdit::returnPressed, this, &SignInView::submit);
    fields->addWidget(m_passwordField);
    column->addLayout(fields);

    m_main = new RowButton(m_creating ? L10n::t("Create account") : L10n::t("Sign in"), PrimaryButtonStyle(false), form);
    m_main->setFillsWidth(true);
    connect(m_main, &QAbstractButton::clicked, this, &SignInView::submit);
    column->addWidget(m_main);

    m_google = new RowButton(L10n::t("Continue with Google"), QuietButtonStyle(false), form);
    m_google->setFillsWidth(true);
    connect(m_google, &QAbstractButton::clicked, this, [&model] { model.signInWithGoogle(); });
    column->addWidget(m_google);

    auto *modeRow = new QHBoxLayout;
    const QFont modeFont = DesignFonts::system(12.5, DesignFonts::Weight::medium);
    m_mode = new PlainButton(m_creating ? L10n::t("I already have an account") : L10n::t("Create an account"),
                             modeFont, Color::muted, form);
    connect(m_mode, &QAbstractButton::clicked, this, &SignInView::toggleMode);
    modeRow->addWidget(m_mode);
    modeRow->addStretch(1);
    m_forgot = nullptr;
    if (!m_creating) {
        m_forgot = new PlainButton(L10n::t("Forgot the password?"), modeFont, Color::muted, form);
        // No busy guard of its own: a reset may be asked for while a sign-in runs.
        connect(m_forgot, &QAbstractButton::clicked, this, [this, &model] {
            if (!m_email.isEmpty())
                model.resetPassword(m_email);
        });
        modeRow->addWidget(m_forgot);
    }
    column->addLayout(modeRow);

    auto *note = text(L10n::t("The same account as on " ZEPHYL_SERVICE_DOMAIN
                              " and on the iPhone. Your password goes to Supabase, never to Zephyl."),
                      11.5, DesignFonts::Weight::regular, Color::muted, form);
    note->setContentsMargins(0, 4, 0, 0);
    column->addWidget(note);
    column->addStretch(1);
    row->addWidget(form, 0);

    connect(&model, &AppModel::signInBusyChanged, form, [this] { sync(); });
    sync();
    return page;
}

NoticeBanner *SignInView::banner() const
{
    return content() ? content()->findChild<NoticeBanner *>() : nullptr;
}

void SignInView::sync()
{
    const bool busy = model().signInBusy();
    if (m_main) {
        m_main->setBusy(busy);
        m_main->setEnabled(!busy && !m_email.isEmpty() && !m_password.isEmpty());
    }
    if (m_google)
        m_google->setEnabled(!busy);
    if (m_forgot)
        m_forgot->setEnabled(!m_email.isEmpty());
}

void SignInView::submit()
{
    // The fields as typed: no trimming, no check of the address's form.
    if (m_email.isEmpty() || m_password.isEmpty() || model().signInBusy())
        return;
    if (m_creating)
        model().createAccount(m_name, m_email, m_password);
    else
        model().signIn(m_email, m_password);
}

void SignInView::toggleMode()
{
    m_creating = !m_creating;
    model().setNotice(std::nullopt);
    // The form changes shape; what was typed stays.
    rebuild();
}

void SignInView::showEvent(QShowEvent *event)
{
    Screen::showEvent(event);
    // The form opens ready for typing, unless the user is already in one of its fields.
    QTimer::singleShot(0, this, [this] {
        QWidget *first = m_creating && m_nameField ? static_cast<QWidget *>(m_nameField) : m_emailField.data();
        if (first && isVisible() && !isAncestorOf(QApplication::focusWidget()))
            first->setFocus(Qt::OtherFocusReason);
    });
}
