// Account flows of the native workspace: sign-in, sign-up, password reset,
// Google sign-in, sign-out, and the end of a session the service gave up.
#include "app/AppModel.h"

#include "app/ServiceClient.h"
#include "design/L10n.h"
#include "services/AsyncSupport.h"
#include "services/auth/GoogleSignInService.h"

struct AppModel::PendingExpiry {
    explicit PendingExpiry(QObject *context) : done(std::make_shared<Async::Shared<bool>>(context)) {}
    std::shared_ptr<Async::Shared<bool>> done;
};

// The one token a Google sign-in waits for: from its own browser dialog, or from
// a "sorvane://auth-google" link while it waits.
struct AppModel::GoogleCallbackWait {
    explicit GoogleCallbackWait(QObject *context) : token(std::make_shared<Async::Shared<QString>>(context)) {}
    std::shared_ptr<Async::Shared<QString>> token;
};

namespace {

QCoro::Task<> deliver(QCoro::Task<QString> task, std::shared_ptr<Async::Shared<QString>> into)
{
    try {
        into->set(co_await task);
    } catch (...) {
        into->fail(std::current_exception());
    }
}

} // namespace

QCoro::Task<bool> AppModel::signInWith(std::function<QCoro::Task<bool>()> step)
{
    if (m_signInBusy)
        co_return false;
    setSignInBusy(true);
    const QPointer<AppModel> self(this);
    bool obtained = false;
    std::exception_ptr error;
    try {
        obtained = co_await step();
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return false;
    if (error)
        show(error); // a closed sign-in window is not shown
    if (obtained) {
        co_await finishSignIn();
        if (!self)
            co_return true;
    }
    setSignInBusy(false);
    co_return obtained;
}

QCoro::Task<bool> AppModel::signIn(QString email, QString password)
{
    return signInWith([this, email, password]() -> QCoro::Task<bool> {
        co_await m_api->signInWithEmail(email, password);
        co_return true;
    });
}

QCoro::Task<bool> AppModel::createAccount(QString name, QString email, QString password)
{
    return signInWith([this, name, email, password]() -> QCoro::Task<bool> {
        const QPointer<AppModel> self(this);
        const auto outcome = co_await m_api->createAccountWithEmail(email, password, name);
        if (outcome.kind == ServiceClient::SignUpOutcome::Kind::signedIn)
            co_return true;
        if (self)
            setNotice(AppNotice::make(L10n::t("Check your email: the confirmation link finishes the registration."),
                                      AppNotice::Tone::settled));
        co_return false;
    });
}

QCoro::Task<> AppModel::resetPassword(QString email)
{
    const QPointer<AppModel> self(this);
    std::exception_ptr error;
    try {
        co_await m_api->sendPasswordReset(std::move(email));
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    if (error)
        show(error);
    else
        setNotice(AppNotice::make(L10n::t("If that address has an account, a reset link is on its way."),
                                  AppNotice::Tone::settled));
}

QCoro::Task<bool> AppModel::signInWithGoogle()
{
    return signInWith([this]() -> QCoro::Task<bool> {
        const QPointer<AppModel> self(this);
        const QUrl supabase = co_await m_api->supabaseProjectURL();
        if (!self)
            co_return false;
        if (!supabase.isValid() || supabase.isRelative() || supabase.host().isEmpty())
            throw ServiceAPIError::invalidResponse();

        // The browser step: the dialog's callback, or a link's while this waits
        // (the wait ends with this frame, and with it the link's welcome).
        const auto wait = std::make_shared<GoogleCallbackWait>(this);
        m_googleWait = wait;
        QString token;
        {
            GoogleSignInService service(anchorWindow);
            deliver(service.authorize(supabase), wait->token);
            const GoogleSignInService::SignInError never(GoogleSignInService::SignInError::Kind::cancelled);
            token = co_await Async::Shared<QString>::wait(wait->token, nullptr, never);
            // Leaving the scope closes a dialog the link overtook.
        }
        if (!self)
            co_return false;
        m_googleWait.reset();
        co_await m_api->adoptSupabaseSession(token);
        co_return true;
    });
}

void AppModel::acceptGoogleCallback(const QString &token)
{
    // Only the application's own sign-in, while it waits, takes a token: a link
    // from anywhere else must not switch the user into another account.
    if (const auto wait = m_googleWait.lock())
        wait->token->set(token);
}

QCoro::Task<> AppModel::finishSignIn()
{
    setSessionUnverified(false);
    setSession(SessionState::signedIn);
    setNotice(std::nullopt);
    co_await loadAfterSignIn();
}

QCoro::Task<> AppModel::signOut()
{
    // Signing out forgets the account's unsent text, conversation and open
    // editors' work; its unsaved plan stays kept on this computer until the
    // same account signs in again, which sends it. Other accounts' records stay.
    const QString chatOwner = m_chatOwner;
    forgetUnsentText();
    m_draftEdits.remove(m_accountIdentity);
    m_keptComposer.remove(m_accountIdentity);
    // Publications not known to be made stay (a key and a digest, nothing the
    // user wrote): after the next sign-in the same post still goes under its key.
    keepAccount(std::nullopt);
    const QPointer<AppModel> self(this);
    co_await m_api->logout();
    if (!self)
        co_return;
    stopFocus();
    setUser(std::nullopt);
    clearAccountData();
    setAssistantDraft(QString());
    newCatChat();
    CatChatLine::save({}, *m_records, chatOwner);
    if (m_leftChat && m_leftChat->owner == chatOwner)
        m_leftChat.reset();
    setSession(SessionState::signedOut);
}

QCoro::Task<> AppModel::expireSession()
{
    if (m_expiry) {
        // One expiry at a time: the second caller waits for the first and signs out nothing more.
        const auto done = m_expiry->done;
        const ServiceAPIError never = ServiceAPIError::sessionExpired(); // no abort: never thrown
        co_await Async::Shared<bool>::wait(done, nullptr, never);
        co_return;
    }
    if (m_session != SessionState::signedIn)
        co_return;
    const auto pending = std::make_shared<PendingExpiry>(this);
    m_expiry = pending;
    const QPointer<AppModel> self(this);
    // The stored session goes before the state says signed out, so a sign-in
    // that follows is never undone by this logout.
    co_await m_api->logout();
    if (!self)
        co_return;
    m_expiry.reset();
    // While the account is still known, so what an open editor holds is kept as its own.
    Q_EMIT sessionExpiring();
    // No session is stored any more: a start (or a page) that cannot reach the
    // service must not take this account up again.
    keepAccount(std::nullopt);
    setSession(SessionState::signedOut);
    setUser(std::nullopt);
    // The next account must find nothing of this one (the unsent text stays its owner's).
    clearAccountData();
    setNotice(AppNotice::make(L10n::t("Your session has expired. Sign in again."), AppNotice::Tone::attention));
    pending->done->set(true);
}
