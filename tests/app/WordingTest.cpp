// Errors put into words, compared with the sentences users are meant to read.

#include "AppTestSupport.h"
#include "support/TestSupport.h"

#include "services/KeychainStore.h"
#include "services/ServiceErrors.h"
#include "services/auth/GoogleSignInService.h"
#include "services/auth/InstagramConnectionService.h"
#include "services/media/ImportedMedia.h"

#include <QNetworkReply>
#include <gtest/gtest.h>

using namespace apptest;
using APIError = ServiceAPIError;
using NetworkError = ServiceNetworkError;

TEST(ErrorWording, ServerCodesAreComparedExactly)
{
    LanguageGuard english(AppLanguage::en);
    const std::pair<const char *, const char *> table[] = {
        {"sign_in_wrong_credentials", "Email or password did not match."},
        {"sign_up_email_taken", "That email address already has an account. Sign in instead."},
        {"sign_up_failed", "The account could not be created. Try again in a moment."},
        {"password_reset_failed", "The reset email could not be sent."},
        {"instagram_not_connected", "Instagram is not connected. Connect it in Profile first."},
        {"social_provider_owner_binding_required", "The Instagram connection needs to be made again from this account."},
        {"assistant_not_configured", "The assistant is not configured on the server right now."},
        {"rate_limited", "Too many requests in a row. Give it a minute."},
        {"too_many_concurrent_requests", "Too many requests in a row. Give it a minute."},
        {"media_upload_failed",
         "The upload did not finish. Check the connection and try again; a retry will not publish twice."},
        {"upload_failed", "The upload did not finish. Check the connection and try again; a retry will not publish twice."},
        {"caption_too_long", "The caption is over 2,200 characters."},
        {"format_invalid", "This format is not accepted for that media."},
        {"schedule_invalid", "That date and time could not be used."},
        {"collaborator_count_invalid", "Up to three collaborators."},
        {"audio_name_too_long", "The audio name is over 100 characters."},
        {"publication_not_found", "The publication was not found on the server."},
        {"feed_unavailable", "The Instagram feed is not available right now."},
        {"direct_upload_unavailable", "Large uploads are not available on this deployment."},
        // An upload larger than the server (or a size limit before it) takes.
        {"payload_too_large", "This file is too large for the server to take."},
        // Anything else: the host name and the code in words.
        {"Rate_limited", "sorvane.app answered: Rate limited"},
        {"thread_locked", "sorvane.app answered: thread locked"},
        {"", "sorvane.app answered: "},
    };
    for (const auto &[code, sentence] : table) {
        EXPECT_EQ(AppModel::messageForCode(QString::fromUtf8(code)), QString::fromUtf8(sentence)) << code;
        EXPECT_EQ(AppModel::describe(APIError::rejected(QString::fromUtf8(code))), QString::fromUtf8(sentence)) << code;
    }
}

TEST(ErrorWording, EveryKindOfFailureHasItsSentence)
{
    LanguageGuard english(AppLanguage::en);
    struct Case {
        std::exception_ptr error;
        const char *sentence;
    };
    const Case cases[] = {
        {std::make_exception_ptr(APIError::serverRefused(502)),
         "sorvane.app refused the request (HTTP 502) without a reason."},
        {std::make_exception_ptr(APIError::serverRefused(429, QStringLiteral("rate_limited"))),
         "sorvane.app refused the request (HTTP 429) without a reason."},
        {std::make_exception_ptr(APIError::invalidCredential()), "Enter an email address and a password."},
        {std::make_exception_ptr(APIError::invalidResponse()),
         "sorvane.app answered in a shape this build does not understand."},
        {std::make_exception_ptr(APIError::unauthorized()), "Your session has expired. Sign in again."},
        {std::make_exception_ptr(APIError::sessionExpired()), "Your session has expired. Sign in again."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost)),
         "No connection to sorvane.app right now."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost)),
         "No connection to sorvane.app right now."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::other, QNetworkReply::HostNotFoundError)),
         "No connection to sorvane.app right now."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::other, QNetworkReply::TemporaryNetworkFailureError)),
         "No connection to sorvane.app right now."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut)), "sorvane.app took too long to answer."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::cancelled)),
         "Network problem: the request was cancelled"},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::secureConnectionFailed)),
         "Network problem: a secure connection could not be made"},
        {std::make_exception_ptr(MediaImportError::unreadable(QStringLiteral("clip.mov"))), "clip.mov could not be read."},
        {std::make_exception_ptr(MediaImportError::videoTooLarge(QStringLiteral("long.mp4"))), "long.mp4 is over 300 MB."},
        {std::make_exception_ptr(KeychainStore::KeychainError(7)), "the keychain refused to store an item"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AppModel::describe(c.error), QString::fromUtf8(c.sentence)) << c.sentence;
}

TEST(ErrorWording, OnlyTheGoneSessionEndsItAndOnlyCancellationsStaySilent)
{
    LanguageGuard english(AppLanguage::en);
    EXPECT_TRUE(AppModel::isSessionFailure(APIError::unauthorized()));
    EXPECT_TRUE(AppModel::isSessionFailure(APIError::sessionExpired()));
    EXPECT_FALSE(AppModel::isSessionFailure(APIError::rejected(QStringLiteral("sign_in_wrong_credentials"))));
    EXPECT_FALSE(AppModel::isSessionFailure(APIError::serverRefused(401)));
    EXPECT_FALSE(AppModel::isSessionFailure(APIError::invalidCredential()));
    EXPECT_FALSE(AppModel::isSessionFailure(APIError::invalidResponse()));
    EXPECT_FALSE(AppModel::isSessionFailure(NetworkError(NetworkError::Code::cancelled)));
    EXPECT_FALSE(AppModel::isSessionFailure(std::exception_ptr()));

    using Web = WebAuthSession::Failure;
    using Google = GoogleSignInService::SignInError;
    using Instagram = InstagramConnectionService::ConnectionError;
    EXPECT_EQ(AppModel::describeIfWorthShowing(Web(Web::Kind::cancelled)), std::nullopt);
    EXPECT_EQ(AppModel::describeIfWorthShowing(Google(Google::Kind::cancelled)), std::nullopt);
    EXPECT_EQ(AppModel::describeIfWorthShowing(Instagram(Instagram::Kind::cancelled)), std::nullopt);
    EXPECT_NE(AppModel::describeIfWorthShowing(Web(Web::Kind::couldNotStart)), std::nullopt);
    EXPECT_NE(AppModel::describeIfWorthShowing(Google(Google::Kind::noSession)), std::nullopt);
    EXPECT_EQ(AppModel::describeIfWorthShowing(NetworkError(NetworkError::Code::cancelled)),
              QStringLiteral("Network problem: the request was cancelled"))
        << "a cancelled request is not a cancelled sign-in";
}

TEST(ErrorWording, ShowPutsTheSentenceInANoticeAndReportsAGoneSession)
{
    LanguageGuard english(AppLanguage::en);
    Harness h;
    AppModel &m = h.make();
    L10n::setPreference(AppLanguage::en);
    m.setSession(SessionState::signedIn);
    const auto ended = [&] { return h.service.calls.count(QStringLiteral("logout")); };

    m.show(GoogleSignInService::SignInError(GoogleSignInService::SignInError::Kind::cancelled));
    EXPECT_EQ(m.notice(), std::nullopt);
    EXPECT_EQ(ended(), 0);

    m.show(APIError::rejected(QStringLiteral("caption_too_long")));
    ASSERT_TRUE(m.notice());
    EXPECT_EQ(m.notice()->text, QStringLiteral("The caption is over 2,200 characters."));
    EXPECT_EQ(m.notice()->tone, AppNotice::Tone::attention);
    EXPECT_EQ(ended(), 0);

    const QUuid first = m.notice()->id;
    m.show(APIError::sessionExpired());
    EXPECT_EQ(m.notice()->text, QStringLiteral("Your session has expired. Sign in again."));
    EXPECT_NE(m.notice()->id, first);
    EXPECT_EQ(ended(), 1);
    ASSERT_TRUE(zktest::spinUntil([&] { return m.session() == SessionState::signedOut; }));
}

TEST(ErrorWording, SentencesFollowTheInterfaceLanguage)
{
    LanguageGuard english(AppLanguage::en);
    L10n::setPreference(AppLanguage::ru);
    EXPECT_EQ(AppModel::describe(APIError::unauthorized()), QStringLiteral("Сеанс истёк. Войдите снова."));
    EXPECT_EQ(AppModel::messageForCode(QStringLiteral("thread_locked")), QStringLiteral("Ответ sorvane.app: thread locked"));
}
