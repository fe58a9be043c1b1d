#include "services/auth/WebAuthSession.h"

namespace {

WebAuthSession::Factory &installedFactory()
{
    static WebAuthSession::Factory factory;
    return factory;
}

// Without a desktop there is no page to show.
class UnavailableSession final : public WebAuthSession {
public:
    QCoro::Task<QUrl> run(QUrl, QString, bool) override
    {
        throw Failure(Failure::Kind::couldNotStart);
        co_return QUrl();
    }
};

} // namespace

const char *WebAuthSession::Failure::what() const noexcept
{
    return m_kind == Kind::cancelled ? "WebAuthSession.Failure.cancelled" : "WebAuthSession.Failure.couldNotStart";
}

void WebAuthSession::setFactory(Factory factory)
{
    installedFactory() = std::move(factory);
}

std::unique_ptr<WebAuthSession> WebAuthSession::make(AnchorProvider anchorProvider)
{
    if (const auto &factory = installedFactory())
        if (auto session = factory(std::move(anchorProvider)))
            return session;
    return std::make_unique<UnavailableSession>();
}
