// The application's "sorvane:" links: browser callbacks and links that make the cat act.
#include "app/AppModel.h"

#include "app/SorvaneLink.h"
#include "design/L10n.h"
#include "services/auth/GoogleSignInService.h"

#include <QRandomGenerator>

namespace {

// The access token of a Google callback's fragment; none without one.
std::optional<QString> googleToken(const SorvaneLink &link)
{
    if (!link.hasFragment)
        return std::nullopt;
    QUrl carrier;
    carrier.setFragment(link.fragment, QUrl::TolerantMode);
    return GoogleSignInService::accessToken(carrier);
}

QString anyOf(const QStringList &lines) { return lines.at(QRandomGenerator::global()->bounded(int(lines.size()))); }

} // namespace

void AppModel::handleURL(const QString &raw)
{
    const auto link = SorvaneLink::parse(raw);
    if (!link)
        return;
    // Hosts are compared as written, capitals included.
    const QString &host = link->host;
    if (host == QLatin1String("instagram-connected")) {
        [](AppModel *model) -> QCoro::Task<> {
            const FlowGuard guard = model->flowGuard();
            co_await model->loadInstagram();
            if (guard.alive())
                co_await model->loadFeed(true);
        }(this);
    } else if (host == QLatin1String("auth-google")) {
        if (const auto token = googleToken(*link))
            acceptGoogleCallback(*token);
    } else if (host == QLatin1String("demo")) {
        raise(AppEvent::of(AppEvent::Kind::demoRequested));
    } else if (host == QLatin1String("cat")) {
        const QString &path = link->path;
        if (path == QLatin1String("/ask")) {
            raise(AppEvent::of(AppEvent::Kind::askRequested));
            const QString question = link->queryItem(QStringLiteral("q")).value_or(QString()).trimmed();
            if (!question.isEmpty())
                ask(question);
        } else if (path == QLatin1String("/break")) {
            raise(AppEvent::breakTime(anyOf(breakWords())));
        } else if (path == QLatin1String("/hungry")) {
            const QDateTime fiveDaysAgo = clock().now().addSecs(-432000);
            raise(AppEvent::catHungry(
                L10n::tf("I'm hungry: nothing has gone out since %@. One publication would do.", spoken(fiveDaysAgo))));
        } else if (path == QLatin1String("/night")) {
            raise(AppEvent::lateNight(L10n::t("It's late. I'd sleep.")));
        } else if (path == QLatin1String("/fed")) {
            raise(AppEvent::catFed(anyOf({L10n::t("Thank you. Fed."), L10n::t("That's a meal. Purr."),
                                          L10n::t("Published. That one is out in the world.")})));
        } else if (path == QLatin1String("/settings")) {
            raise(AppEvent::of(AppEvent::Kind::settingsRequested));
        }
    }
}
