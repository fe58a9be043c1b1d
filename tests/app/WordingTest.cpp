// Errors put into words, compared with the sentences users are meant to read.

#include "AppTestSupport.h"
#include "support/TestSupport.h"

#include "base/FileWrite.h"
#include "design/StringLists.h"
#include "services/KeychainStore.h"
#include "services/ServiceErrors.h"
#include "services/WebTransportError.h"
#include "services/auth/GoogleSignInService.h"
#include "services/auth/InstagramConnectionService.h"
#include "services/media/ImportedMedia.h"

#include <QDir>
#include <QNetworkReply>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>

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
        // Anything else: the service said no; its code is no sentence for a user.
        {"Rate_limited", "sorvane.app turned the request down."},
        {"thread_locked", "sorvane.app turned the request down."},
        {"refresh_token_invalid", "sorvane.app turned the request down."},
        {"", "sorvane.app turned the request down."},
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
         "The request was stopped before it finished."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::secureConnectionFailed)),
         "A secure connection to sorvane.app could not be made."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::other, QNetworkReply::ProtocolFailure)),
         "The connection to sorvane.app broke off. Try again."},
        {std::make_exception_ptr(NetworkError(NetworkError::Code::dataLengthExceedsMaximum)),
         "sorvane.app answered in a shape this build does not understand."},
        {std::make_exception_ptr(ServiceDecodingError(ServiceDecodingError::Kind::typeMismatch, QStringLiteral("id"),
                                                      QStringLiteral("Expected a string value but found a number."))),
         "sorvane.app answered in a shape this build does not understand."},
        {std::make_exception_ptr(WebTransportError(WebTransportError::Kind::notReady)),
         "The workspace page is not ready yet. Try again in a moment."},
        {std::make_exception_ptr(WebScriptError(QStringLiteral("TypeError: Failed to fetch"))),
         "The connection to sorvane.app broke off. Try again."},
        {std::make_exception_ptr(WebAuthSession::Failure(WebAuthSession::Failure::Kind::couldNotStart)),
         "The sign-in window could not open."},
        {std::make_exception_ptr(GoogleSignInService::SignInError(GoogleSignInService::SignInError::Kind::noSession)),
         "The sign-in did not finish. Try again."},
        {std::make_exception_ptr(std::runtime_error("boom")), "Something went wrong. Try again."},
        {std::make_exception_ptr(MediaImportError::unreadable(QStringLiteral("clip.mov"))), "clip.mov could not be read."},
        {std::make_exception_ptr(MediaImportError::videoTooLarge(QStringLiteral("long.mp4"))), "long.mp4 is over 300 MB."},
        {std::make_exception_ptr(KeychainStore::KeychainError(7)), "Your sign-in could not be kept on this computer."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AppModel::describe(c.error), QString::fromUtf8(c.sentence)) << c.sentence;
}

TEST(ErrorWording, AFileThatCannotBeWrittenNamesItsFolderAndWhyInTheUsersLanguage)
{
    const QString config = QDir::homePath() + QStringLiteral("/.config/zephyl-kitty");
    const auto describe = [](int error, const QString &folder) {
        return AppModel::describe(FileWriteError::fromErrno(error, folder));
    };
    {
        LanguageGuard english(AppLanguage::en);
        const QString full = QStringLiteral(
            "The disk holding ~/.config/zephyl-kitty is full, so changes are not kept on this computer for now.");
        EXPECT_EQ(describe(ENOSPC, config), full);
        EXPECT_EQ(describe(EDQUOT, config + u'/'), full);
        EXPECT_EQ(describe(EROFS, QStringLiteral("/srv/kitty")),
                  QStringLiteral("/srv/kitty is read-only, so changes are not kept on this computer for now."));
        EXPECT_EQ(describe(EACCES, config),
                  QStringLiteral("~/.config/zephyl-kitty is read-only, so changes are not kept on this computer for now."));
    }
    // In a right-to-left sentence the folder stays one run, read left to right.
    LanguageGuard arabic(AppLanguage::ar);
    EXPECT_EQ(describe(EROFS, config),
              QString::fromUtf8("المجلد \u2068~/.config/zephyl-kitty\u2069 للقراءة فقط، لذا لا تُحفظ التغييرات على هذا "
                                "الكمبيوتر حاليًا."));
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
              QStringLiteral("The request was stopped before it finished."))
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
    EXPECT_EQ(AppModel::messageForCode(QStringLiteral("thread_locked")), QStringLiteral("sorvane.app отклонил запрос."));
}

// Whatever the client, the page's transport, the sign-ins, the keychain or the
// importer throws, put into words in any language, is one of that language's own
// sentences (the English keys for English): no exception text, type or member
// name, server code or transport detail in English reaches the screen.
TEST(ErrorWording, EveryFailureInEveryLanguageIsASentenceOfItsTable)
{
    LanguageGuard english(AppLanguage::en);
    std::vector<std::exception_ptr> failures;
    const auto add = [&](auto error) { failures.push_back(std::make_exception_ptr(error)); };
    for (const char *code : {"sign_in_wrong_credentials", "rate_limited", "payload_too_large", "thread_locked",
                             "refresh_token_invalid", "assistant_thread_not_active", ""})
        add(APIError::rejected(QString::fromUtf8(code)));
    add(APIError::serverRefused(502));
    add(APIError::serverRefused(400, QStringLiteral("bad_request")));
    add(APIError::invalidCredential());
    add(APIError::invalidResponse());
    add(APIError::unauthorized());
    add(APIError::sessionExpired());
    for (int code = int(NetworkError::Code::timedOut); code <= int(NetworkError::Code::other); ++code)
        add(NetworkError(NetworkError::Code(code)));
    for (int qt : {QNetworkReply::HostNotFoundError, QNetworkReply::ProtocolFailure, QNetworkReply::UnknownContentError,
                   QNetworkReply::ProxyAuthenticationRequiredError, QNetworkReply::SslHandshakeFailedError})
        add(NetworkError(NetworkError::Code::other, qt));
    for (int kind = int(ServiceDecodingError::Kind::keyNotFound); kind <= int(ServiceDecodingError::Kind::dataCorrupted);
         ++kind)
        add(ServiceDecodingError(ServiceDecodingError::Kind(kind), QStringLiteral("items[0].scheduledAt"),
                                 QStringLiteral("Expected a string value but found a number instead.")));
    add(WebTransportError(WebTransportError::Kind::notReady));
    add(WebTransportError(WebTransportError::Kind::malformed));
    add(WebScriptError(QStringLiteral("TypeError: NetworkError when attempting to fetch resource.")));
    add(WebAuthSession::Failure(WebAuthSession::Failure::Kind::cancelled));
    add(WebAuthSession::Failure(WebAuthSession::Failure::Kind::couldNotStart));
    for (auto kind : {GoogleSignInService::SignInError::Kind::unavailable, GoogleSignInService::SignInError::Kind::cancelled,
                      GoogleSignInService::SignInError::Kind::noSession})
        add(GoogleSignInService::SignInError(kind));
    for (auto kind : {InstagramConnectionService::ConnectionError::Kind::invalidCallback,
                      InstagramConnectionService::ConnectionError::Kind::invalidAuthorizationURL,
                      InstagramConnectionService::ConnectionError::Kind::cancelled})
        add(InstagramConnectionService::ConnectionError(kind));
    add(KeychainStore::KeychainError(-25299));
    const QString file = QStringLiteral("holiday.mov");
    add(MediaImportError::unsupportedType(file));
    add(MediaImportError::unreadable(file));
    add(MediaImportError::imageTooLarge(file));
    add(MediaImportError::videoTooLarge(file));
    add(MediaImportError::videoTooLong(file, 1000.5));
    add(MediaImportError::transcodeFailed(file));
    add(std::bad_alloc());
    add(std::runtime_error("QCoro::Task: awaited a destroyed task"));
    failures.push_back(std::make_exception_ptr(42));

    // camelCase, snake_case, Type::member and call() shapes; dotted names other
    // than the service's domain and the picked file's own name.
    static const QRegularExpression identifier(
        QStringLiteral(R"re(\b[a-z]+[A-Z]\w*|\b\w+_\w+|::|\w\(\)|\b(?!sorvane\.app\b|holiday\.mov\b)[a-z]+\.[a-z]{2,}\b)re"));
    for (AppLanguage language : AppLanguages::spoken()) {
        L10n::setPreference(language);
        const StringLists::List &list = StringLists::russian; // every list holds the same keys
        const StringLists::List *own = nullptr;
        for (auto [lang, l] : {std::pair{AppLanguage::ru, &StringLists::russian}, {AppLanguage::es, &StringLists::spanish},
                               {AppLanguage::de, &StringLists::german}, {AppLanguage::fr, &StringLists::french},
                               {AppLanguage::pt, &StringLists::portuguese}, {AppLanguage::it, &StringLists::italian},
                               {AppLanguage::tr, &StringLists::turkish}, {AppLanguage::ar, &StringLists::arabic},
                               {AppLanguage::he, &StringLists::hebrew}, {AppLanguage::nb, &StringLists::norwegian},
                               {AppLanguage::sv, &StringLists::swedish}, {AppLanguage::da, &StringLists::danish},
                               {AppLanguage::nl, &StringLists::dutch}})
            if (lang == language)
                own = l;
        ASSERT_TRUE(own || language == AppLanguage::en);
        // In a sentence that reads right to left the name is an isolate of its own.
        const QString named = L10n::layoutDirection() == Qt::RightToLeft ? u'\u2068' + file + u'\u2069' : file;
        std::vector<QRegularExpression> sentences;
        for (std::size_t i = 0; i < StringLists::keyCount; ++i) {
            // The sentence word for word; its values only where it has their places.
            static const QRegularExpression place(QStringLiteral("%[d@]"));
            const QString sentence = QString::fromUtf8(own ? (*own)[i].value : list[i].key);
            QString pattern;
            qsizetype from = 0;
            for (auto m = place.globalMatch(sentence); m.hasNext();) {
                const auto found = m.next();
                pattern += QRegularExpression::escape(sentence.mid(from, found.capturedStart() - from));
                pattern += found.captured(0) == QStringLiteral("%d") ? QStringLiteral("[0-9][0-9.,\u00a0\u202f ]*")
                                                                     : QRegularExpression::escape(named);
                from = found.capturedEnd();
            }
            pattern += QRegularExpression::escape(sentence.mid(from));
            sentences.emplace_back(QRegularExpression::anchoredPattern(pattern));
        }
        for (const auto &failure : failures) {
            const QString text = AppModel::describe(failure);
            const std::string shown = AppLanguages::rawValue(language).toStdString() + ": " + text.toStdString();
            EXPECT_FALSE(text.isEmpty()) << shown;
            EXPECT_FALSE(text.contains(identifier)) << shown;
            EXPECT_TRUE(std::any_of(sentences.begin(), sentences.end(),
                                    [&](const QRegularExpression &s) { return s.match(text).hasMatch(); }))
                << "not a sentence of the table: " << shown;
        }
    }
}
