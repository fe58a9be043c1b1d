// Errors put into words: the one place that turns a failure into a sentence.
#include "app/AppModel.h"

#include "base/FileWrite.h"
#include "design/DateText.h"
#include "design/L10n.h"
#include "design/ServiceDomain.h"
#include "services/KeychainStore.h"
#include "services/ServiceErrors.h"
#include "services/WebTransportError.h"
#include "services/auth/GoogleSignInService.h"
#include "services/auth/InstagramConnectionService.h"
#include "services/media/ImportedMedia.h"

#include <QDir>
#include <QNetworkReply>

namespace {

// The URL-loading failures that mean the machine cannot reach the service at
// all: no network, an unknown host, a refused or dropped connection.
bool isUnreachable(const ServiceNetworkError &error)
{
    using Code = ServiceNetworkError::Code;
    switch (error.code()) {
    case Code::cannotConnectToHost:
    case Code::connectionLost: return true;
    case Code::other:
        switch (error.qtError()) {
        case QNetworkReply::HostNotFoundError:
        case QNetworkReply::TemporaryNetworkFailureError:
        case QNetworkReply::NetworkSessionFailedError: return true;
        default: return false;
        }
    default: return false;
    }
}

QString describeAPIError(const ServiceAPIError &error)
{
    using Kind = ServiceAPIError::Kind;
    switch (error.kind()) {
    case Kind::rejected: return AppModel::messageForCode(error.code().value_or(QString()));
    case Kind::serverRefused:
        return L10n::tf(ZEPHYL_SERVICE_DOMAIN " refused the request (HTTP %d) without a reason.", error.status());
    case Kind::invalidCredential: return L10n::t("Enter an email address and a password.");
    case Kind::invalidResponse: return L10n::t(ZEPHYL_SERVICE_DOMAIN " answered in a shape this build does not understand.");
    case Kind::unauthorized:
    case Kind::sessionExpired: return L10n::t("Your session has expired. Sign in again.");
    }
    return {};
}

// A folder as the user finds it: under the home folder as "~/...", kept in one
// piece in a right-to-left sentence.
QString shownFolder(const QString &folder)
{
    const QString home = QDir::homePath();
    QString shown = QDir::cleanPath(folder);
    if (shown == home)
        shown = QStringLiteral("~");
    else if (shown.startsWith(home + u'/'))
        shown = u'~' + shown.mid(home.size());
    return DateText::isolated(shown);
}

} // namespace

bool AppModel::isSessionFailure(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const ServiceAPIError &e) {
        return e.kind() == ServiceAPIError::Kind::unauthorized || e.kind() == ServiceAPIError::Kind::sessionExpired;
    } catch (...) {
        return false;
    }
}

QString AppModel::messageForCode(const QString &code)
{
    struct Row {
        const char *codes[2]; // a second spelling, or none
        QString (*sentence)();
    };
    // Exact, case-sensitive; the first match wins.
    static const Row rows[] = {
        {{"sign_in_wrong_credentials"}, [] { return L10n::t("Email or password did not match."); }},
        {{"sign_up_email_taken"}, [] { return L10n::t("That email address already has an account. Sign in instead."); }},
        {{"sign_up_failed"}, [] { return L10n::t("The account could not be created. Try again in a moment."); }},
        {{"password_reset_failed"}, [] { return L10n::t("The reset email could not be sent."); }},
        {{"instagram_not_connected"},
         [] { return L10n::t("Instagram is not connected. Connect it in Profile first."); }},
        {{"social_provider_owner_binding_required"},
         [] { return L10n::t("The Instagram connection needs to be made again from this account."); }},
        {{"assistant_not_configured"},
         [] { return L10n::t("The assistant is not configured on the server right now."); }},
        {{"rate_limited", "too_many_concurrent_requests"},
         [] { return L10n::t("Too many requests in a row. Give it a minute."); }},
        {{"media_upload_failed", "upload_failed"},
         [] {
             return L10n::t("The upload did not finish. Check the connection and try again; a retry will not publish "
                            "twice.");
         }},
        {{"caption_too_long"}, [] { return L10n::t("The caption is over 2,200 characters."); }},
        {{"format_invalid"}, [] { return L10n::t("This format is not accepted for that media."); }},
        {{"schedule_invalid"}, [] { return L10n::t("That date and time could not be used."); }},
        {{"collaborator_count_invalid"}, [] { return L10n::t("Up to three collaborators."); }},
        {{"audio_name_too_long"}, [] { return L10n::t("The audio name is over 100 characters."); }},
        {{"publication_not_found"}, [] { return L10n::t("The publication was not found on the server."); }},
        {{"feed_unavailable"}, [] { return L10n::t("The Instagram feed is not available right now."); }},
        {{"direct_upload_unavailable"}, [] { return L10n::t("Large uploads are not available on this deployment."); }},
        {{"payload_too_large"}, [] { return L10n::t("This file is too large for the server to take."); }},
    };
    for (const Row &row : rows) {
        for (const char *known : row.codes) {
            if (known && code == QLatin1String(known))
                return row.sentence();
        }
    }
    // A code this version does not know says only that the service said no:
    // its words are the service's identifiers, not a sentence for the user.
    return L10n::t(ZEPHYL_SERVICE_DOMAIN " turned the request down.");
}

QString AppModel::describe(const std::exception_ptr &error)
{
    // Every failure becomes one of the sentences of the tables: never an
    // exception's own text, a type name, a code or a transport's English detail.
    if (!error)
        return {};
    const auto tryAgain = [] { return L10n::t("Something went wrong. Try again."); };
    try {
        std::rethrow_exception(error);
    } catch (const MediaImportError &e) {
        return e.errorDescription();
    } catch (const ServiceNetworkError &e) {
        if (isUnreachable(e))
            return L10n::t("No connection to " ZEPHYL_SERVICE_DOMAIN " right now.");
        switch (e.code()) {
        case ServiceNetworkError::Code::timedOut: return L10n::t(ZEPHYL_SERVICE_DOMAIN " took too long to answer.");
        case ServiceNetworkError::Code::cancelled: return L10n::t("The request was stopped before it finished.");
        case ServiceNetworkError::Code::secureConnectionFailed:
            return L10n::t("A secure connection to " ZEPHYL_SERVICE_DOMAIN " could not be made.");
        case ServiceNetworkError::Code::dataLengthExceedsMaximum:
        case ServiceNetworkError::Code::badURL:
            return L10n::t(ZEPHYL_SERVICE_DOMAIN " answered in a shape this build does not understand.");
        default: break;
        }
        return L10n::t("The connection to " ZEPHYL_SERVICE_DOMAIN " broke off. Try again.");
    } catch (const ServiceAPIError &e) {
        return describeAPIError(e);
    } catch (const ServiceDecodingError &) {
        return L10n::t(ZEPHYL_SERVICE_DOMAIN " answered in a shape this build does not understand.");
    } catch (const WebTransportError &e) {
        if (e.kind() == WebTransportError::Kind::notReady)
            return L10n::t("The workspace page is not ready yet. Try again in a moment.");
        return L10n::t(ZEPHYL_SERVICE_DOMAIN " answered in a shape this build does not understand.");
    } catch (const WebScriptError &) {
        // The page's own fetch failed: its engine's words are English and say
        // no more than that the exchange did not complete.
        return L10n::t("The connection to " ZEPHYL_SERVICE_DOMAIN " broke off. Try again.");
    } catch (const WebAuthSession::Failure &e) {
        if (e.kind() == WebAuthSession::Failure::Kind::couldNotStart)
            return L10n::t("The sign-in window could not open.");
        return L10n::t("The sign-in did not finish. Try again.");
    } catch (const GoogleSignInService::SignInError &e) {
        if (e.kind() == GoogleSignInService::SignInError::Kind::unavailable)
            return L10n::t("The sign-in window could not open.");
        return L10n::t("The sign-in did not finish. Try again.");
    } catch (const InstagramConnectionService::ConnectionError &e) {
        if (e.kind() == InstagramConnectionService::ConnectionError::Kind::invalidAuthorizationURL)
            return L10n::t("The sign-in window could not open.");
        return L10n::t("The sign-in did not finish. Try again.");
    } catch (const KeychainStore::KeychainError &) {
        return L10n::t("Your sign-in could not be kept on this computer.");
    } catch (const FileWriteError &e) {
        if (e.reason() == FileWriteError::Reason::diskFull)
            return L10n::tf("The disk holding %@ is full, so changes are not kept on this computer for now.",
                            shownFolder(e.folder()));
        return L10n::tf("%@ is read-only, so changes are not kept on this computer for now.", shownFolder(e.folder()));
    } catch (...) {
        return tryAgain();
    }
}

std::optional<QString> AppModel::describeIfWorthShowing(const std::exception_ptr &error)
{
    // A sign-in or connection the user closed needs no words.
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const WebAuthSession::Failure &e) {
        if (e.kind() == WebAuthSession::Failure::Kind::cancelled)
            return std::nullopt;
    } catch (const GoogleSignInService::SignInError &e) {
        if (e.kind() == GoogleSignInService::SignInError::Kind::cancelled)
            return std::nullopt;
    } catch (const InstagramConnectionService::ConnectionError &e) {
        if (e.kind() == InstagramConnectionService::ConnectionError::Kind::cancelled)
            return std::nullopt;
    } catch (...) {
    }
    return describe(error);
}

void AppModel::show(const std::exception_ptr &error)
{
    if (const auto text = describeIfWorthShowing(error))
        setNotice(AppNotice::make(*text, AppNotice::Tone::attention));
    if (isSessionFailure(error))
        expireSession(); // runs on by itself; the notice above may be replaced by the expiry's

}
