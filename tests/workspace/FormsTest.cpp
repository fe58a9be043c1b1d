// The sign-in form's guards and the summary screen's card choice.

#include "ScreensTestSupport.h"

#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/EmptyStateCard.h"
#include "design/L10n.h"
#include "design/NoticeBanner.h"
#include "design/StatusPill.h"
#include "workspace/SignInView.h"
#include "workspace/SummaryView.h"

using namespace flowtest;
using namespace screentest;

namespace {

class SignInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        flows.model().setSession(SessionState::signedOut);
        form = host.show(new SignInView(flows.model()));
    }
    AppModel &model() { return flows.model(); }
    void type(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        QTest::keyClicks(field, text);
        settle();
    }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    SignInView *form = nullptr;
};

} // namespace

TEST_F(SignInTest, NothingStartsUntilBothFieldsHoldText)
{
    struct Case {
        QString email;
        QString password;
        bool starts;
    };
    // An address of spaces counts as typed; it is sent as it is.
    const Case cases[] = {{"", "", false}, {"kitty@example.com", "", false}, {"", "secret", false},
                          {"   ", "secret", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.email.toStdString() + "/" + c.password.toStdString());
        flows.service.calls.clear();
        flows.service.signInEmails.clear();
        for (QLineEdit *field : {static_cast<QLineEdit *>(form->emailField()), static_cast<QLineEdit *>(form->passwordField())}) {
            field->selectAll();
            key(field, Qt::Key_Backspace);
        }
        type(form->emailField(), c.email);
        type(form->passwordField(), c.password);
        EXPECT_EQ(form->mainButton()->isEnabled(), c.starts);
        key(c.password.isEmpty() ? static_cast<QWidget *>(form->passwordField()) : form->emailField(), Qt::Key_Return);
        EXPECT_EQ(flows.service.count("signInWithEmail"), c.starts ? 1 : 0);
        if (c.starts) {
            EXPECT_EQ(flows.service.signInEmails.value(0), c.email);
        }
        settle();
    }
}

TEST_F(SignInTest, ReturnWhileASignInRunsStartsNothingAndTheResetStaysAvailable)
{
    flows.service.held.insert("signInWithEmail");
    type(form->emailField(), "kitty@example.com");
    type(form->passwordField(), "meow-meow-meow");
    key(form->passwordField(), Qt::Key_Return);
    ASSERT_TRUE(model().signInBusy());
    EXPECT_EQ(flows.service.waiting("signInWithEmail"), 1);
    EXPECT_TRUE(form->mainButton()->busy());
    EXPECT_FALSE(form->mainButton()->isEnabled());
    EXPECT_FALSE(form->googleButton()->isEnabled());

    key(form->passwordField(), Qt::Key_Return);
    click(form->mainButton());
    EXPECT_EQ(flows.service.count("signInWithEmail"), 1);
    // "Forgot the password?" needs only an address, even now.
    ASSERT_TRUE(form->forgotButton()->isEnabled());
    click(form->forgotButton());
    EXPECT_EQ(flows.service.count("sendPasswordReset"), 1);

    flows.service.release("signInWithEmail", Reply::error(APIError::rejected("invalid_credentials")));
    settle();
    EXPECT_FALSE(model().signInBusy());
    EXPECT_FALSE(form->mainButton()->busy());
    // The failure is the model's notice, shown in the form; the fields keep what was typed.
    ASSERT_TRUE(model().notice().has_value());
    ASSERT_NE(form->banner(), nullptr);
    EXPECT_EQ(form->banner()->notice(), *model().notice());
    EXPECT_EQ(form->emailField()->text(), "kitty@example.com");
    EXPECT_EQ(form->passwordField()->text(), "meow-meow-meow");
}

TEST_F(SignInTest, TogglingTheModeClearsTheNoticeAndKeepsWhatWasTyped)
{
    type(form->emailField(), "kitty@example.com");
    model().setNotice(AppNotice::make("Something", AppNotice::Tone::attention));
    settle();
    ASSERT_NE(form->banner(), nullptr);
    EXPECT_EQ(form->modeButton()->text(), "Create an account");
    EXPECT_EQ(form->nameField(), nullptr);

    click(form->modeButton());
    EXPECT_TRUE(form->creating());
    EXPECT_FALSE(model().notice().has_value());
    EXPECT_EQ(form->banner(), nullptr);
    ASSERT_NE(form->nameField(), nullptr);
    EXPECT_EQ(form->forgotButton(), nullptr);
    EXPECT_EQ(form->mainButton()->text(), "Create account");
    EXPECT_EQ(form->emailField()->text(), "kitty@example.com");
    EXPECT_TRUE(texts(form).contains("Create your Zephyl account"));

    // An empty name is allowed; Return in the name field submits too.
    type(form->passwordField(), "secret");
    key(form->nameField(), Qt::Key_Return);
    EXPECT_EQ(flows.service.count("createAccountWithEmail"), 1);
    settle();

    type(form->nameField(), "Kitty");
    click(form->modeButton());
    click(form->modeButton());
    EXPECT_EQ(form->nameField()->text(), "Kitty");
}

TEST_F(SignInTest, GoogleRunsOncePerPress)
{
    WebScriptGuard browser;
    browser->end = WebScript::End::cancelled;
    flows.service.results["supabaseProjectURL"] = QUrl("https://project.example");
    click(form->googleButton());
    settle();
    EXPECT_EQ(flows.service.count("supabaseProjectURL"), 1);
    // A cancelled Google sign-in says nothing.
    EXPECT_FALSE(model().notice().has_value());
    EXPECT_TRUE(form->googleButton()->isEnabled());
}

// ---- Summary

namespace {

Observation observation(const QString &id, const QString &category, std::optional<Surface> surface)
{
    return Observation{id, category, "Title " + id, "Detail " + id, "Prompt " + id, surface};
}

class SummaryTest : public ::testing::Test {
protected:
    AppModel &model() { return flows.model(); }
    SummaryView *show()
    {
        view = host.show(new SummaryView(model()));
        return view;
    }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    SummaryView *view = nullptr;
};

} // namespace

TEST_F(SummaryTest, CardsOrTheEmptyStateThatFitsTheConnection)
{
    model().setObservations({});
    model().setInstagram(std::nullopt);
    show();
    ASSERT_NE(view->emptyState(), nullptr);
    EXPECT_TRUE(view->cards().isEmpty());
    EXPECT_EQ(view->emptyState()->titleText()->text(), "Connect Instagram");
    EXPECT_EQ(view->emptyState()->symbol(), "camera");
    click(view->emptyState()->actionButton());
    EXPECT_EQ(model().surface(), Surface::profile);

    ZephylWire::InstagramProfile profile;
    profile.username = "kitty.daily";
    model().setInstagram(profile);
    settle();
    ASSERT_NE(view->emptyState(), nullptr);
    EXPECT_EQ(view->emptyState()->titleText()->text(), "Nothing to report yet");
    EXPECT_EQ(view->emptyState()->symbol(), "sparkles");
    click(view->emptyState()->actionButton());
    EXPECT_EQ(model().surface(), Surface::assistant);

    model().setObservations({observation("a", "Rhythm", std::nullopt), observation("b", "Needs attention", Surface::plan)});
    settle();
    EXPECT_EQ(view->emptyState(), nullptr);
    ASSERT_EQ(view->cards().size(), 2);
    EXPECT_EQ(view->cards()[0]->observation().id, "a");
    EXPECT_EQ(view->cards()[1]->observation().id, "b");
}

// Every line of the empty state's text shows, whatever the language: the card
// is measured at the width it gets, not at the column's.
TEST_F(SummaryTest, TheEmptyStatesTextIsNeverCut)
{
    for (AppLanguage language : {AppLanguage::en, AppLanguage::ar, AppLanguage::de}) {
        apptest::LanguageGuard guard(language);
        model().setInstagram(std::nullopt);
        Host wide(QSize(1180, 760));
        auto *view = wide.show(new SummaryView(model()));
        ASSERT_NE(view->emptyState(), nullptr);
        TextBlock *detail = view->emptyState()->detailText();
        EXPECT_GE(detail->height(), detail->heightForWidth(detail->width())) << int(language);
        EXPECT_LE(view->emptyState()->width(), 520);
    }
}

TEST(AdaptiveGrid, AsManyColumnsAsFitAtTheirMinimumThenWidenedUpToTheirMaximum)
{
    struct Case {
        int available;
        int count;
        int width;
    };
    // Cards of 300 to 420 with 16 between them.
    const Case cases[] = {{250, 1, 250}, {600, 1, 420}, {616, 2, 300}, {1000, 3, 322}, {1300, 4, 313}, {2000, 6, 320}};
    for (const Case &c : cases) {
        const auto columns = AdaptiveGridLayout::columnsFor(c.available, 300, 420, 16);
        EXPECT_EQ(columns.count, c.count) << c.available;
        EXPECT_EQ(columns.width, c.width) << c.available;
    }
}

TEST_F(SummaryTest, ACardsButtonsAndTone)
{
    model().setObservations({observation("a", "Rhythm", std::nullopt), observation("b", "Needs attention", Surface::plan),
                             observation("c", "Something else", Surface::summary)});
    show();
    const auto cards = view->cards();
    ASSERT_EQ(cards.size(), 3);
    EXPECT_EQ(cards[0]->openButton(), nullptr);
    EXPECT_EQ(cards[0]->pill()->tone(), PillTone::settled);
    EXPECT_EQ(cards[1]->pill()->tone(), PillTone::attention);
    EXPECT_EQ(cards[1]->openButton()->text(), "Open Plan");
    EXPECT_EQ(cards[2]->openButton()->text(), "Open Summary");
    EXPECT_EQ(cards[2]->pill()->tone(), PillTone::settled);

    // Opening the summary from the summary leaves it in place, and raises nothing.
    click(cards[2]->openButton());
    EXPECT_EQ(model().surface(), Surface::summary);
    click(cards[1]->openButton());
    EXPECT_EQ(model().surface(), Surface::plan);
    EXPECT_TRUE(flows.h.events.isEmpty());

    model().setAssistantDraft("half a thought");
    click(view->cards()[0]->discussButton());
    EXPECT_EQ(model().assistantDraft(), "Prompt a");
    EXPECT_EQ(model().surface(), Surface::assistant);
    ASSERT_EQ(flows.h.events.size(), 1);
    EXPECT_EQ(flows.h.events[0].kind, AppEvent::Kind::wantsWorkspace);
    EXPECT_EQ(flows.h.events[0].surface, Surface::assistant);

    // Without a coordinator the screen still changes.
    model().setEvents({});
    model().setSurface(Surface::summary);
    view->cards()[1]->discuss();
    EXPECT_EQ(model().assistantDraft(), "Prompt b");
    EXPECT_EQ(model().surface(), Surface::assistant);
}

TEST_F(SummaryTest, TheAttentionToneFollowsTheLanguagesOwnWord)
{
    apptest::LanguageGuard german(AppLanguage::de);
    const QString attention = L10n::t("Needs attention");
    ASSERT_NE(attention, "Needs attention");
    EXPECT_EQ(ObservationCard::toneFor(attention), PillTone::attention);
    EXPECT_EQ(ObservationCard::toneFor("Needs attention"), PillTone::settled);
}

TEST_F(SummaryTest, TextOfAnyLengthAndScriptStaysPlain)
{
    const QString markup = "<b>bold</b> <img src=x onerror=alert(1)> " + QString(3000, QChar(0x05D0));
    model().setObservations({Observation{"x", markup, markup, markup, markup, std::nullopt}});
    show();
    ASSERT_EQ(view->cards().size(), 1);
    const QStringList shown = texts(view->cards()[0]);
    EXPECT_TRUE(shown.contains(markup));
    EXPECT_LE(view->cards()[0]->width(), 420);
}
