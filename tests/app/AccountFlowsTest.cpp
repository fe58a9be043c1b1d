// Signing in, up and out, the password reset and Google sign-in: what the user
// sees and where the session ends up; and a Google callback link accepted only
// while the application's own Google sign-in waits for it.

#include "FlowTestSupport.h"

#include "app/UnsentTextStore.h"
#include "services/auth/GoogleSignInService.h"

#include <gtest/gtest.h>

using namespace flowtest;
using SignUp = ServiceClient::SignUpOutcome;

namespace {

ServiceClient::AuthSession sessionOf(const QString &email)
{
    ServiceClient::AuthSession s;
    s.accessToken = QStringLiteral("access");
    s.refreshToken = QStringLiteral("refresh");
    s.user = user(email);
    return s;
}

// Any sentence at all (the wording of these errors is not this flow's).
const QString kSomeNotice = QStringLiteral("*");

std::optional<QString> noticeText(const AppModel &m)
{
    return m.notice() ? std::optional(m.notice()->text) : std::nullopt;
}

} // namespace

TEST(SignIn, EachAnswerOfTheServiceEndsAsTheUserExpects)
{
    struct Case {
        const char *name;
        std::exception_ptr failure;
        bool signedIn;
        std::optional<QString> notice;
    };
    const Case cases[] = {
        {"accepted", nullptr, true, std::nullopt},
        {"wrong password", std::make_exception_ptr(APIError::rejected(QStringLiteral("sign_in_wrong_credentials"))),
         false, QStringLiteral("Email or password did not match.")},
        {"nothing typed", std::make_exception_ptr(APIError::invalidCredential()), false,
         QStringLiteral("Enter an email address and a password.")},
        {"no network", std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost)), false,
         QStringLiteral("No connection to sorvane.app right now.")},
        {"a closed sign-in window", std::make_exception_ptr(GoogleSignInService::SignInError(
                                        GoogleSignInService::SignInError::Kind::cancelled)),
         false, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        AppModel &m = f.model();
        m.setSession(SessionState::signedOut);
        m.setNotice(AppNotice::make(QStringLiteral("an earlier notice"), AppNotice::Tone::attention));
        if (c.failure)
            f.service.failures["signInWithEmail"] = c.failure;
        f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
        EXPECT_EQ(finish(m.signIn(QStringLiteral("kitty@example.com"), QStringLiteral("pw"))), c.signedIn);
        EXPECT_FALSE(m.signInBusy());
        EXPECT_EQ(m.session(), c.signedIn ? SessionState::signedIn : SessionState::signedOut);
        if (c.signedIn) {
            EXPECT_EQ(noticeText(m), std::nullopt) << "a sign-in clears the notice";
            EXPECT_EQ(f.service.calls.mid(1), (QStringList{"currentUser", "instagramProfile", "planDrafts",
                                                            "instagramPublications", "assistantThreadStore",
                                                            "instagramFeed"}));
        } else {
            EXPECT_EQ(noticeText(m), c.notice.value_or(QStringLiteral("an earlier notice")));
            EXPECT_EQ(f.service.calls, QStringList{"signInWithEmail"});
        }
    }
}

TEST(SignIn, APressWhileOneRunsSendsNothing)
{
    Flows f;
    AppModel &m = f.model();
    f.service.held << QStringLiteral("signInWithEmail");
    auto first = m.signIn(QStringLiteral("a@b.c"), QStringLiteral("pw"));
    EXPECT_TRUE(m.signInBusy());
    EXPECT_FALSE(finish(m.signIn(QStringLiteral("a@b.c"), QStringLiteral("pw"))));
    EXPECT_FALSE(finish(m.createAccount(QStringLiteral("A"), QStringLiteral("a@b.c"), QStringLiteral("pw"))));
    EXPECT_FALSE(finish(m.signInWithGoogle()));
    EXPECT_EQ(f.service.calls, QStringList{"signInWithEmail"});
    f.service.release("signInWithEmail");
    EXPECT_TRUE(finish(std::move(first)));
    EXPECT_FALSE(m.signInBusy());
}

TEST(SignUp, ConfirmationTakenAddressAndImmediateSession)
{
    struct Case {
        const char *name;
        Reply reply;
        bool result;
        SessionState session;
        QString notice;
        AppNotice::Tone tone;
    };
    const Case cases[] = {
        {"needs confirmation", Reply::of(SignUp::confirmationSent()), false, SessionState::signedOut,
         QStringLiteral("Check your email: the confirmation link finishes the registration."),
         AppNotice::Tone::settled},
        {"address taken", Reply::error(APIError::rejected(QStringLiteral("sign_up_email_taken"))), false,
         SessionState::signedOut, QStringLiteral("That email address already has an account. Sign in instead."),
         AppNotice::Tone::attention},
        {"refused otherwise", Reply::error(APIError::rejected(QStringLiteral("sign_up_failed"))), false,
         SessionState::signedOut, QStringLiteral("The account could not be created. Try again in a moment."),
         AppNotice::Tone::attention},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Flows f;
        AppModel &m = f.model();
        m.setSession(SessionState::signedOut);
        f.service.queued["createAccountWithEmail"].push_back(c.reply);
        EXPECT_EQ(finish(m.createAccount(QStringLiteral("Kitty"), QStringLiteral("k@e.com"), QStringLiteral("pw"))),
                  c.result);
        EXPECT_EQ(m.session(), c.session);
        ASSERT_TRUE(m.notice());
        EXPECT_EQ(m.notice()->text, c.notice);
        EXPECT_EQ(m.notice()->tone, c.tone);
        EXPECT_FALSE(m.signInBusy());
    }
    Flows f;
    f.service.results["createAccountWithEmail"] = SignUp::signedIn(sessionOf(QStringLiteral("k@e.com")));
    EXPECT_TRUE(finish(f.model().createAccount(QStringLiteral("K"), QStringLiteral("k@e.com"), QStringLiteral("p"))));
    EXPECT_EQ(f.model().session(), SessionState::signedIn);
}

TEST(PasswordReset, EveryAcceptedAddressGetsTheSameAnswer)
{
    for (const char *address : {"kitty@example.com", "nobody@nowhere.example", ""}) {
        Flows f;
        finish(f.model().resetPassword(QString::fromLatin1(address)));
        ASSERT_TRUE(f.model().notice());
        EXPECT_EQ(f.model().notice()->text, QStringLiteral("If that address has an account, a reset link is on its way."));
        EXPECT_EQ(f.model().notice()->tone, AppNotice::Tone::settled);
    }
    Flows f;
    f.service.failures["sendPasswordReset"] =
        std::make_exception_ptr(APIError::rejected(QStringLiteral("password_reset_failed")));
    finish(f.model().resetPassword(QStringLiteral("k@e.com")));
    EXPECT_EQ(noticeText(f.model()), QStringLiteral("The reset email could not be sent."));
}

TEST(GoogleSignIn, TheBrowserStepsOutcomes)
{
    struct Case {
        const char *name;
        QUrl provider;
        WebScript::End end;
        QString callback;
        std::exception_ptr adoptFailure;
        bool result;
        std::optional<QString> notice;
        QStringList adopted;
    };
    const QUrl provider(QStringLiteral("https://accounts.example"));
    const Case cases[] = {
        {"signed in", provider, WebScript::End::callback,
         QStringLiteral("sorvane://auth-google#token_type=bearer&access_token=tok%2B1"), nullptr, true, std::nullopt,
         {"tok+1"}},
        {"closed by the user", provider, WebScript::End::cancelled, {}, nullptr, false, std::nullopt, {}},
        {"the provider's address is not a URL", QUrl(QStringLiteral("not a url")), WebScript::End::callback, {},
         nullptr, false, QStringLiteral("sorvane.app answered in a shape this build does not understand."), {}},
        {"no browser", provider, WebScript::End::couldNotStart, {}, nullptr, false, kSomeNotice, {}},
        {"callback without a token", provider, WebScript::End::callback, QStringLiteral("sorvane://auth-google#x=1"),
         nullptr, false, kSomeNotice, {}},
        {"exchange refused", provider, WebScript::End::callback,
         QStringLiteral("sorvane://auth-google#access_token=t"),
         std::make_exception_ptr(APIError::rejected(QStringLiteral("provider_token_invalid"))), false,
         QStringLiteral("sorvane.app turned the request down."), {"t"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WebScriptGuard web;
        web->end = c.end;
        web->callback = QUrl(c.callback);
        Flows f;
        AppModel &m = f.model();
        m.setSession(SessionState::signedOut);
        f.service.results["supabaseProjectURL"] = c.provider;
        if (c.adoptFailure)
            f.service.failures["adoptSupabaseSession"] = c.adoptFailure;
        EXPECT_EQ(finish(m.signInWithGoogle()), c.result);
        if (c.notice == kSomeNotice)
            EXPECT_TRUE(m.notice() && !m.notice()->text.isEmpty());
        else
            EXPECT_EQ(noticeText(m), c.notice);
        EXPECT_EQ(f.service.adoptedTokens, c.adopted);
        EXPECT_EQ(m.session(), c.result ? SessionState::signedIn : SessionState::signedOut);
        EXPECT_FALSE(m.signInBusy());
        EXPECT_EQ(web->alive, 0) << "the browser session is closed when the sign-in ends";
        if (!web->opened.isEmpty()) {
            EXPECT_FALSE(web->ephemeral.first()) << "Google sign-in shares the browser's cookies";
        }
    }
}

TEST(GoogleSignIn, ACallbackLinkIsTakenOnlyWhileTheApplicationsOwnSignInWaits)
{
    WebScriptGuard web;
    web->end = WebScript::End::heldOpen;
    Flows f;
    AppModel &m = f.model();
    m.setSession(SessionState::signedOut);
    f.service.results["supabaseProjectURL"] = QUrl(QStringLiteral("https://accounts.example"));
    const QString link = QStringLiteral("sorvane://auth-google#access_token=from-a-link");

    // Nobody asked for it: any page or program could send this.
    m.handleURL(link);
    EXPECT_TRUE(f.service.adoptedTokens.isEmpty());
    EXPECT_EQ(m.session(), SessionState::signedOut);
    EXPECT_FALSE(m.signInBusy());

    // While the application's own sign-in waits, the link completes it and closes the browser.
    auto signingIn = m.signInWithGoogle();
    ASSERT_TRUE(zktest::spinUntil([&] { return web->alive == 1; }));
    m.handleURL(QStringLiteral("sorvane://auth-google#access_token="));
    m.handleURL(link);
    EXPECT_TRUE(finish(std::move(signingIn)));
    EXPECT_EQ(f.service.adoptedTokens, QStringList{"from-a-link"});
    EXPECT_EQ(m.session(), SessionState::signedIn);
    EXPECT_EQ(web->alive, 0);

    // Afterwards it is refused again.
    m.handleURL(QStringLiteral("sorvane://auth-google#access_token=another"));
    EXPECT_EQ(f.service.adoptedTokens, QStringList{"from-a-link"});
}

TEST(SignOut, StopsTheRoundForgetsTheAccountAndItsUnsentText)
{
    Flows f;
    AppModel &m = f.model();
    f.service.results["restoreSession"] = ServiceClient::RestoreOutcome::signedIn;
    f.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    f.service.results["planDrafts"] = QList<Draft>{draft(1)};
    finish(m.bootstrap());
    m.setAskInput(QStringLiteral("ask text"));
    m.setAssistantDraft(QStringLiteral("assistant text"));
    m.startFocus(25);
    ASSERT_TRUE(m.focus().isRunning());
    m.keptComposer().save(QStringLiteral("kitty@example.com"), {PublishFormat::feed, QStringLiteral("words"), {}, {}, {}, {}});

    finish(m.signOut());
    EXPECT_EQ(m.keptComposer().load(QStringLiteral("kitty@example.com")), std::nullopt) << "nor the composer's words";
    EXPECT_FALSE(m.focus().isRunning());
    EXPECT_EQ(m.session(), SessionState::signedOut);
    EXPECT_EQ(m.user(), std::nullopt);
    EXPECT_TRUE(m.planDrafts().isEmpty());
    EXPECT_EQ(m.feedStatus(), FeedStatus::idle());
    EXPECT_EQ(m.askInput(), QString());
    EXPECT_EQ(m.assistantDraft(), QString());
    EXPECT_EQ(m.inputOwner(), QString());
    EXPECT_FALSE(f.h.store.contains(QString::fromLatin1(UnsentTextStore::kDefaultsKey)));
    EXPECT_EQ(UnsentTextStore(f.h.store).load(QStringLiteral("kitty@example.com")), UnsentTextStore::Text{})
        << "the account's record is forgotten";
    EXPECT_FALSE(f.h.store.contains(QStringLiteral("zephyl.mac.session.account"))) << "nor kept for an offline start";
    EXPECT_EQ(f.service.count("logout"), 1);
    EXPECT_TRUE(f.h.kinds().contains(AppEvent::Kind::focusEnded));
}
