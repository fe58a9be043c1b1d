// The ask panel's conversation with the cat: typed commands answered here, other
// questions by the assistant in the cat's voice, and the chips under answers.
#include "app/AppModel.h"
#include "design/TextDirection.h"

#include "app/AskIntent.h"
#include "app/ServiceClient.h"
#include "app/UnsentTextStore.h"
#include "base/DefaultsStore.h"
#include "companion/CatLookGuess.h"
#include "design/L10n.h"
#include "services/ServiceErrors.h"

namespace {

QString newID() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

AskAction chip(const char *label, AskAction::Kind kind) { return AskAction::make(newID(), L10n::t(label), kind); }

// The windows named in the offer to tuck them away: the first three, each as
// its application and the start of its title.
QString windowList(const std::vector<DistractingWindow> &windows)
{
    QStringList named;
    for (std::size_t i = 0; i < windows.size() && i < 3; ++i)
        named << isolatedPiece(windows[i].appName) + QStringLiteral(": ") +
                     isolatedPiece(UnsentTextStore::prefix(windows[i].title, 40));
    return named.join(QStringLiteral("; "));
}

} // namespace

QCoro::Task<> AppModel::ask(QString question)
{
    if (m_askBusy)
        co_return;
    const QList<CatChatLine> earlier = m_catChat;
    const CatChatLine asked{QUuid::createUuid(), true, question, CatLook::neutral, {}};
    QList<CatChatLine> lines = earlier;
    lines.append(asked);
    setCatChat(std::move(lines));
    // The question is kept at once: an end before the answer does not lose it.
    storeCatChat();
    setAskQuestion(question);
    setAskReply(std::nullopt);
    setAskBusy(true);

    AskReply reply;
    // The service no longer takes the session: it ends once the answer is kept.
    bool sessionGone = false;
    if (const auto intent = AskIntent::detect(question)) {
        reply = co_await answer(*intent);
    } else if (m_session != SessionState::signedIn) {
        reply.text = L10n::t("Sign in to Zephyl first, then I can help with the plan and publishing.");
        reply.look = CatLook::concerned;
        reply.actions = {AskAction::openSurface(newID(), L10n::t("Open Zephyl"), Surface::profile)};
    } else {
        const FlowGuard guard = flowGuard();
        const qint64 now = clock().now().toMSecsSinceEpoch();
        QList<ChatMessage> history;
        history.reserve(earlier.size());
        for (const CatChatLine &line : earlier) {
            ChatMessage m;
            m.id = newID();
            m.author = line.mine ? ChatMessage::Author::user : ChatMessage::Author::assistant;
            m.text = line.text;
            m.createdAt = now;
            history.append(std::move(m));
        }
        std::optional<ZephylWire::AssistantReply> answered;
        // What the service said when it answered with a refusal; none when it
        // could not be reached at all.
        std::optional<QString> refusal;
        try {
            const ServiceClient::Persona persona = ServiceClient::Persona::kitty(m_companionName);
            answered = co_await m_api->assistant(question, history, persona);
        } catch (const ServiceAPIError &) {
            refusal = describe(std::current_exception());
            sessionGone = isSessionFailure(std::current_exception());
        } catch (const ServiceDecodingError &) {
            refusal = describe(std::make_exception_ptr(ServiceAPIError::invalidResponse()));
        } catch (...) {
            // No answer came: the line below.
        }
        if (!guard.alive())
            co_return; // the conversation went with the account
        if (answered) {
            serviceAnswered();
            reply.text = answered->message;
            for (const auto &action : answered->actions)
                reply.actions.append(AskAction::serverAction(newID(), action.label, action));
            reply.look = CatLooks::guess(answered->message);
        } else {
            // A gone session is said in the expiry's own words, with the way to the sign-in.
            reply.text = refusal.value_or(L10n::t("I couldn't reach Zephyl just now. Try me again in a moment."));
            reply.look = CatLook::concerned;
            if (sessionGone)
                reply.actions = {AskAction::openSurface(newID(), L10n::t("Open Zephyl"), Surface::profile)};
        }
    }

    setAskReply(reply);
    const CatChatLine said{QUuid::createUuid(), false, reply.text, reply.look, reply.actions};
    QList<CatChatLine> answeredLines = m_catChat;
    answeredLines.append(said);
    setCatChat(std::move(answeredLines));
    if (sessionGone) {
        // Kept for the account first, as every expiry keeps its conversation;
        // the panel stays busy until the session has ended.
        storeCatChat();
        const QPointer<AppModel> self(this);
        co_await expireSession();
        if (!self)
            co_return;
        // The conversation went with the account; this exchange stays in view, kept for nobody.
        if (m_chatOwner.isEmpty() && m_session != SessionState::signedIn) {
            setCatChat({asked, said});
            setAskQuestion(question);
            setAskReply(reply);
        }
        setAskBusy(false);
        co_return;
    }
    setAskBusy(false);
    storeCatChat();
}

QCoro::Task<AskReply> AppModel::answer(const AskIntent &intent)
{
    AskReply reply;
    switch (intent.kind) {
    case AskIntent::Kind::startFocus: {
        startFocus(intent.focusMinutes);
        reply.text = L10n::tf("On it. %d minutes of focus, I'll keep watch by the timer.", m_focus.workMinutes);
        QList<AskAction> actions;
        if (m_focusGuardEnabled) {
            if (!m_accessibilityTrusted) {
                reply.text += QLatin1Char(' ') + L10n::t("In an X11 session I can tuck away feed windows too.");
                actions.append(chip("Check again", AskAction::Kind::requestAccessibility));
            } else {
                setAccessibilityTrusted(windows().trusted());
                setDistractions(FocusGuard::scan(windows()));
                if (!m_distractions.empty()) {
                    reply.text += QLatin1Char(' ') + L10n::tf("I can also tuck away %d open feed window(s).",
                                                              int(m_distractions.size()));
                    actions.append(chip("Tuck them away", AskAction::Kind::tuckAway));
                }
            }
        }
        actions.append(chip("End session", AskAction::Kind::stopFocus));
        reply.actions = std::move(actions);
        reply.look = CatLook::happy;
        break;
    }
    case AskIntent::Kind::openSurface:
        showSurface(intent.surface);
        reply.text = L10n::tf("Opening %@.", Surfaces::title(intent.surface));
        reply.look = CatLook::happy;
        break;
    case AskIntent::Kind::stopFocus:
        stopFocus();
        reply.text = L10n::t("Session ended. The timer is gone.");
        reply.look = CatLook::neutral;
        break;
    case AskIntent::Kind::tuckAway:
        if (!m_accessibilityTrusted) {
            reply.text = L10n::t("To tuck windows away I need to read window titles. X11 allows it without asking; this "
                                 "session is not X11.");
            reply.actions = {chip("Check again", AskAction::Kind::requestAccessibility)};
            reply.look = CatLook::concerned;
            break;
        }
        setAccessibilityTrusted(windows().trusted());
        setDistractions(FocusGuard::scan(windows()));
        if (m_distractions.empty()) {
            reply.text = L10n::t("I looked: no feed windows are open right now.");
        } else {
            reply.text = L10n::tf("Found %d: %@. Shall I tuck them away? They minimise to the taskbar and come back when "
                                  "you want.",
                                  int(m_distractions.size()), windowList(m_distractions));
            reply.actions = {chip("Tuck them away", AskAction::Kind::tuckAway)};
        }
        reply.look = CatLook::curious;
        break;
    case AskIntent::Kind::compose:
        openComposer(std::nullopt);
        reply.text = L10n::t("The composer is open. Nothing goes out until you confirm it there.");
        reply.look = CatLook::happy;
        break;
    }
    co_return reply;
}

void AppModel::performAsk(const AskAction &action)
{
    switch (action.kind) {
    case AskAction::Kind::server: performAction(action.server); break;
    case AskAction::Kind::startFocus: startFocus(action.minutes); break;
    case AskAction::Kind::openSurface: showSurface(action.surface); break;
    case AskAction::Kind::stopFocus: stopFocus(); break;
    case AskAction::Kind::tuckAway:
        tuckAwayDistractions();
        setAskReply(AskReply{L10n::t("Sending the cat over."), {}, CatLook::happy});
        break;
    case AskAction::Kind::compose: openComposer(std::nullopt); break;
    case AskAction::Kind::requestAccessibility: requestAccessibility(); break;
    }
}

void AppModel::openComposer(std::optional<ComposerPrefill> prefill)
{
    if (m_usesWebWorkspace) {
        raise(AppEvent::of(AppEvent::Kind::wantsComposer));
        return;
    }
    setComposerPrefill(std::move(prefill));
    setComposerPresented(true);
    raise(AppEvent::wantsWorkspace(m_surface));
}
