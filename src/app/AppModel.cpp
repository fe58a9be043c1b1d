#include "app/AppModel.h"

#include "app/ServiceClient.h"
#include "app/SummaryObservations.h"
#include "base/DefaultsStore.h"
#include "base/RecordStore.h"
#include "companion/CompanionLibrary.h"
#include "design/L10n.h"
#include "platform/UserNotifications.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <climits>

namespace {

// The settings' keys, in the order they are read.
namespace Key {
constexpr const char *workspaceNative = "zephyl.mac.workspace.native";
constexpr const char *language = "zephyl.mac.language";
constexpr const char *theme = "zephyl.mac.theme";
constexpr const char *companionEnabled = "zephyl.mac.companion.enabled";
constexpr const char *companionName = "zephyl.mac.companion.name";
constexpr const char *walksOnWindows = "zephyl.mac.companion.walksOnWindows";
constexpr const char *clickOpensAsk = "zephyl.mac.companion.clickOpensAsk";
constexpr const char *wanders = "zephyl.mac.companion.wanders";
constexpr const char *temper = "zephyl.mac.companion.temper";
constexpr const char *variant = "zephyl.mac.companion.variant";
constexpr const char *focusMinutes = "zephyl.mac.focus.minutes";
constexpr const char *focusGuard = "zephyl.mac.focus.guard";
constexpr const char *careBreaks = "zephyl.mac.care.breaks";
constexpr const char *careReminders = "zephyl.mac.care.reminders";
constexpr const char *breakMinutes = "zephyl.mac.care.breakMinutes";
} // namespace Key

QString key(const char *name) { return QString::fromLatin1(name); }

// The developer switch is read the lenient way a plain boolean is: a number is
// true when it is not 0, a text when it starts with Y, T or a digit 1-9.
bool plainBoolean(const DefaultsStore &defaults, const char *name)
{
    if (const auto b = defaults.boolValue(key(name)))
        return *b;
    if (const auto n = defaults.number(key(name)))
        return *n != 0;
    if (const auto text = defaults.string(key(name))) {
        const QString t = text->trimmed();
        if (t.isEmpty())
            return false;
        const QChar c = t.at(0);
        return c == QLatin1Char('Y') || c == QLatin1Char('y') || c == QLatin1Char('T') || c == QLatin1Char('t') ||
               (c >= QLatin1Char('1') && c <= QLatin1Char('9'));
    }
    return false;
}

// The longest break interval honoured; a larger stored number means "hardly ever".
constexpr qint64 kMaxBreakMinutes = 7 * 24 * 60;

} // namespace

AppModel::AppModel(Environment environment, QObject *parent)
    : QObject(parent),
      m_defaults(environment.defaults ? environment.defaults : &DefaultsStore::shared()),
      m_records(&RecordStore::of(*m_defaults)),
      m_clock(environment.clock),
      m_notifications(environment.notifications),
      m_windows(environment.windows),
      m_unsentText(*m_records),
      m_unsavedPlan(*m_records),
      m_draftEdits(*m_records),
      m_pendingStore(*m_records),
      m_keptComposer(*m_records)
{
    if (environment.api) {
        m_api = environment.api;
    } else {
        m_ownedApi = std::make_unique<ZephylServiceClient>(ZephylAPI::shared());
        m_api = m_ownedApi.get();
    }
    // The initial values: nothing here writes back or raises an event.
    moveSingleRecords();
    const DefaultsStore &d = *m_defaults;
    // The ask conversation belongs to an account: it is loaded once the account is known.
    m_accessibilityTrusted = windows().trusted();
    m_focusLastTick = clock().now();

    m_usesWebWorkspace = !plainBoolean(d, Key::workspaceNative);

    m_language = AppLanguages::fromRawValue(d.string(key(Key::language)).value_or(QString()))
                     .value_or(AppLanguage::system);
    m_theme = AppThemes::fromRawValue(d.string(key(Key::theme)).value_or(QString())).value_or(AppTheme::system);
    m_companionEnabled = d.boolValue(key(Key::companionEnabled)).value_or(true);
    m_companionName = d.string(key(Key::companionName)).value_or(QString());
    m_companionWalksOnWindows = d.boolValue(key(Key::walksOnWindows)).value_or(true);
    m_companionClickOpensAsk = d.boolValue(key(Key::clickOpensAsk)).value_or(true);
    m_companionWanders = d.boolValue(key(Key::wanders)).value_or(false);
    m_companionTemper = d.string(key(Key::temper)) == QStringLiteral("lively") ? CompanionTemper::lively
                                                                               : CompanionTemper::calm;
    m_companionVariantID = environment.selectedVariantID ? environment.selectedVariantID()
                                                         : CompanionLibrary::selectedVariantID();
    // A stored 0 or negative length would end a round at its first tick.
    m_focusMinutes = clampedFocusMinutes(d.integer(key(Key::focusMinutes)).value_or(25));
    m_focusGuardEnabled = d.boolValue(key(Key::focusGuard)).value_or(true);
    m_wellbeing = CatWellbeing::load(d, clock().now());
    m_breakRemindersEnabled = d.boolValue(key(Key::careBreaks)).value_or(true);
    m_catRemindersEnabled = d.boolValue(key(Key::careReminders)).value_or(true);
    if (const auto minutes = d.integer(key(Key::breakMinutes)); minutes && *minutes >= 1)
        m_breakClock.intervalMinutes = int(std::min(*minutes, kMaxBreakMinutes));

    L10n::setPreference(m_language);
    m_focus.workMinutes = m_focusMinutes;

    connect(m_records, &RecordStore::writesChanged, this, &AppModel::followWrites);
    connect(m_defaults, &DefaultsStore::writeProblemChanged, this, &AppModel::followWrites);
    // Moving the older records may already have met a disk that takes nothing.
    followWrites();
}

AppModel::AppModel() : AppModel(Environment{}) {}

AppModel::~AppModel()
{
    // Flows still waiting find their account gone and touch nothing.
    m_accountFlows.cancel();
}

AppModel &AppModel::shared()
{
    static AppModel *model = new AppModel(); // lives until the process ends
    return *model;
}

Clock &AppModel::clock() const { return m_clock ? *m_clock : Clock::shared(); }

UserNotifications &AppModel::notifications() const
{
    return m_notifications ? *m_notifications : UserNotifications::system();
}

WindowSource &AppModel::windows() const { return m_windows ? *m_windows : WindowSource::system(); }

int AppModel::clampedFocusMinutes(qint64 minutes)
{
    return int(std::clamp<qint64>(minutes, kMinFocusMinutes, kMaxFocusMinutes));
}

template <typename T>
bool AppModel::assign(T &field, T value, void (AppModel::*changed)())
{
    if (field == value)
        return false;
    field = std::move(value);
    Q_EMIT(this->*changed)();
    return true;
}

void AppModel::raise(const AppEvent &event)
{
    if (m_events)
        m_events(event);
}

// ---- Plain observable properties

void AppModel::setSession(SessionState value) { assign(m_session, value, &AppModel::sessionChanged); }
void AppModel::setUser(std::optional<ZephylWire::User> value) { assign(m_user, std::move(value), &AppModel::userChanged); }
void AppModel::setSessionUnverified(bool value)
{
    assign(m_sessionUnverified, value, &AppModel::sessionUnverifiedChanged);
}
void AppModel::setSignInBusy(bool value) { assign(m_signInBusy, value, &AppModel::signInBusyChanged); }
void AppModel::setInstagram(std::optional<ZephylWire::InstagramProfile> value)
{
    // Whatever sets it says what the service holds.
    setInstagramState(std::move(value), true);
}

void AppModel::setInstagramState(std::optional<ZephylWire::InstagramProfile> value, bool known)
{
    if (m_instagram == value && m_instagramKnown == known)
        return;
    m_instagram = std::move(value);
    m_instagramKnown = known;
    Q_EMIT instagramChanged();
}
void AppModel::setInstagramBusy(bool value) { assign(m_instagramBusy, value, &AppModel::instagramBusyChanged); }
void AppModel::setFeedItems(QList<ZephylWire::InstagramFeedItem> value)
{
    assign(m_feedItems, std::move(value), &AppModel::feedItemsChanged);
}
void AppModel::setFeedStatus(FeedStatus value) { assign(m_feedStatus, std::move(value), &AppModel::feedStatusChanged); }
void AppModel::setFeedHasMore(bool value) { assign(m_feedHasMore, value, &AppModel::feedHasMoreChanged); }
void AppModel::setPlanDrafts(QList<ZephylWire::PlanDraft> value)
{
    assign(m_planDrafts, std::move(value), &AppModel::planDraftsChanged);
}
void AppModel::setPublications(QList<ZephylWire::Publication> value)
{
    assign(m_publications, std::move(value), &AppModel::publicationsChanged);
}
void AppModel::setPlanLoading(bool value) { assign(m_planLoading, value, &AppModel::planLoadingChanged); }
void AppModel::setPlanSaving(bool value) { assign(m_planSaving, value, &AppModel::planSavingChanged); }
void AppModel::setThreads(QList<ZephylWire::AssistantThreadSummary> value)
{
    assign(m_threads, std::move(value), &AppModel::threadsChanged);
}
void AppModel::setActiveThreadID(std::optional<QString> value)
{
    assign(m_activeThreadID, std::move(value), &AppModel::activeThreadIDChanged);
}
void AppModel::setMessages(QList<ChatMessage> value) { assign(m_messages, std::move(value), &AppModel::messagesChanged); }
void AppModel::setAssistantBusy(bool value) { assign(m_assistantBusy, value, &AppModel::assistantBusyChanged); }
void AppModel::setSurface(Surface value) { assign(m_surface, value, &AppModel::surfaceChanged); }
void AppModel::setComposerPresented(bool value)
{
    assign(m_composerPresented, value, &AppModel::composerPresentedChanged);
}
void AppModel::setComposerPrefill(std::optional<ComposerPrefill> value)
{
    assign(m_composerPrefill, std::move(value), &AppModel::composerPrefillChanged);
}
void AppModel::setNotice(std::optional<AppNotice> value) { assign(m_notice, std::move(value), &AppModel::noticeChanged); }
void AppModel::setObservations(QList<Observation> value)
{
    assign(m_observations, std::move(value), &AppModel::observationsChanged);
}
void AppModel::setPublishing(std::optional<PublishProgress> value)
{
    assign(m_publishing, std::move(value), &AppModel::publishingChanged);
}
void AppModel::setAskQuestion(std::optional<QString> value)
{
    assign(m_askQuestion, std::move(value), &AppModel::askQuestionChanged);
}
void AppModel::setAskReply(std::optional<AskReply> value) { assign(m_askReply, std::move(value), &AppModel::askReplyChanged); }
void AppModel::setCatChat(QList<CatChatLine> value) { assign(m_catChat, std::move(value), &AppModel::catChatChanged); }
void AppModel::setAskBusy(bool value) { assign(m_askBusy, value, &AppModel::askBusyChanged); }
void AppModel::setFocus(FocusSession value) { assign(m_focus, value, &AppModel::focusChanged); }
void AppModel::setDistractions(std::vector<DistractingWindow> value)
{
    assign(m_distractions, std::move(value), &AppModel::distractionsChanged);
}
void AppModel::setAccessibilityTrusted(bool value)
{
    assign(m_accessibilityTrusted, value, &AppModel::accessibilityTrustedChanged);
}

// ---- Settings: each set writes its key, also when the value is unchanged

void AppModel::setLanguage(AppLanguage value)
{
    // Views word themselves anew when they hear of the change, so the lookup and
    // the cards follow the new language before the signal goes out.
    const bool changed = m_language != value;
    m_language = value;
    m_defaults->setString(key(Key::language), AppLanguages::rawValue(value));
    L10n::setPreference(value);
    rebuildObservations(); // the cards are worded anew
    if (changed)
        Q_EMIT languageChanged();
}

void AppModel::setTheme(AppTheme value)
{
    assign(m_theme, value, &AppModel::themeChanged);
    m_defaults->setString(key(Key::theme), AppThemes::rawValue(value));
    raise(AppEvent::of(AppEvent::Kind::themeChanged));
}

void AppModel::setCompanionEnabled(bool enabled)
{
    assign(m_companionEnabled, enabled, &AppModel::companionEnabledChanged);
    m_defaults->setBool(key(Key::companionEnabled), enabled);
    raise(AppEvent::companionEnabledChanged(enabled));
}

void AppModel::setCompanionName(QString value)
{
    assign(m_companionName, std::move(value), &AppModel::companionNameChanged);
    m_defaults->setString(key(Key::companionName), m_companionName);
}

void AppModel::setCompanionWalksOnWindows(bool value)
{
    assign(m_companionWalksOnWindows, value, &AppModel::companionWalksOnWindowsChanged);
    m_defaults->setBool(key(Key::walksOnWindows), value);
    raise(AppEvent::of(AppEvent::Kind::companionPreferencesChanged));
}

void AppModel::setCompanionClickOpensAsk(bool value)
{
    assign(m_companionClickOpensAsk, value, &AppModel::companionClickOpensAskChanged);
    m_defaults->setBool(key(Key::clickOpensAsk), value);
    raise(AppEvent::of(AppEvent::Kind::companionPreferencesChanged));
}

void AppModel::setCompanionWanders(bool value)
{
    assign(m_companionWanders, value, &AppModel::companionWandersChanged);
    m_defaults->setBool(key(Key::wanders), value);
    raise(AppEvent::of(AppEvent::Kind::companionPreferencesChanged));
}

void AppModel::setCompanionTemper(CompanionTemper value)
{
    assign(m_companionTemper, value, &AppModel::companionTemperChanged);
    m_defaults->setString(key(Key::temper), rawValue(value));
    raise(AppEvent::of(AppEvent::Kind::companionPreferencesChanged));
}

void AppModel::setCompanionVariantID(QString value)
{
    assign(m_companionVariantID, std::move(value), &AppModel::companionVariantIDChanged);
    m_defaults->setString(key(Key::variant), m_companionVariantID);
    raise(AppEvent::of(AppEvent::Kind::companionPreferencesChanged));
}

void AppModel::setFocusMinutes(int value)
{
    const int minutes = clampedFocusMinutes(value);
    assign(m_focusMinutes, minutes, &AppModel::focusMinutesChanged);
    m_defaults->setInteger(key(Key::focusMinutes), minutes);
    // A round that runs keeps its length.
    if (!m_focus.isRunning()) {
        FocusSession next = m_focus;
        next.workMinutes = minutes;
        setFocus(next);
    }
}

void AppModel::setFocusGuardEnabled(bool value)
{
    assign(m_focusGuardEnabled, value, &AppModel::focusGuardEnabledChanged);
    m_defaults->setBool(key(Key::focusGuard), value);
}

void AppModel::setWellbeing(CatWellbeing value)
{
    assign(m_wellbeing, std::move(value), &AppModel::wellbeingChanged);
    m_wellbeing.save(*m_defaults);
}

void AppModel::setBreakRemindersEnabled(bool value)
{
    assign(m_breakRemindersEnabled, value, &AppModel::breakRemindersEnabledChanged);
    m_defaults->setBool(key(Key::careBreaks), value);
}

void AppModel::setCatRemindersEnabled(bool value)
{
    assign(m_catRemindersEnabled, value, &AppModel::catRemindersEnabledChanged);
    m_defaults->setBool(key(Key::careReminders), value);
}

// ---- Unsent text

// The text is on disk before anyone hears of the change: what the application
// says it has taken survives the process.
void AppModel::setAssistantDraft(QString value)
{
    const bool changed = m_assistantDraft != value;
    m_assistantDraft = std::move(value);
    saveUnsentText();
    if (changed)
        Q_EMIT assistantDraftChanged();
}

void AppModel::setAskInput(QString value)
{
    const bool changed = m_askInput != value;
    m_askInput = std::move(value);
    saveUnsentText();
    if (changed)
        Q_EMIT askInputChanged();
}

void AppModel::saveUnsentText()
{
    // Only a change is written: showing an account's texts, or a view writing back
    // what it shows, writes nothing (and signing in makes no record of its own).
    const UnsentTextStore::Text text{m_assistantDraft, m_askInput};
    if (m_inputOwner.isEmpty() || text == m_storedUnsent)
        return;
    m_unsentText.save(m_inputOwner, text);
    m_storedUnsent = text;
}

void AppModel::restoreUnsentText(const QString &owner)
{
    const QString lowered = RecordStore::ownerKey(owner);
    if (lowered == m_inputOwner)
        return;
    UnsentTextStore::Text texts = m_unsentText.load(lowered);
    m_storedUnsent = texts;
    // Text typed while nobody was known has no record yet; it is the newest the
    // user wrote, so it wins over the stored text and is saved under the owner.
    if (m_inputOwner.isEmpty()) {
        if (!m_assistantDraft.isEmpty())
            texts.assistant = m_assistantDraft;
        if (!m_askInput.isEmpty())
            texts.ask = m_askInput;
    }
    m_inputOwner = lowered;
    // Both texts are written as one record before either is told: a record with
    // one of them restored and the other still empty would lose it to a kill.
    const bool assistantChanged = m_assistantDraft != texts.assistant;
    const bool askChanged = m_askInput != texts.ask;
    m_assistantDraft = texts.assistant;
    m_askInput = texts.ask;
    saveUnsentText();
    if (assistantChanged)
        Q_EMIT assistantDraftChanged();
    if (askChanged)
        Q_EMIT askInputChanged();
}

void AppModel::forgetUnsentText()
{
    m_unsentText.remove(m_inputOwner);
    m_inputOwner.clear();
    m_storedUnsent = {};
    // Text typed while nobody is known goes to the next owner; what the departed
    // account typed must not be taken for it.
    setAssistantDraft(QString());
    setAskInput(QString());
}

void AppModel::moveSingleRecords()
{
    // Older versions kept one record of each kind for the whole computer, in the
    // settings file; each goes to the account it names. The ask conversation
    // named nobody: it goes with the unsent text's account, the last one that
    // typed here, or nowhere.
    DefaultsStore &d = *m_defaults;
    const QString unsentKey = QLatin1String(UnsentTextStore::kDefaultsKey);
    const QString planKey = QLatin1String(UnsavedPlanStore::kDefaultsKey);
    const QString chatKey = QLatin1String(CatChatLine::kDefaultsKey);
    if (!d.contains(unsentKey) && !d.contains(planKey) && !d.contains(chatKey))
        return;
    const auto ownerIn = [](const std::optional<QByteArray> &data) {
        const QJsonValue owner = data ? QJsonDocument::fromJson(*data).object().value(QLatin1String("owner")) : QJsonValue();
        return owner.isString() ? RecordStore::ownerKey(owner.toString()) : QString();
    };
    // A record that could not be written yet stays in the settings too, for the next start.
    bool moved = true;
    const QString typist = ownerIn(d.data(unsentKey));
    if (const auto data = d.data(unsentKey); data && !typist.isEmpty() &&
                                             !m_records->read(QLatin1String(UnsentTextStore::kRecordName), typist))
        moved &= m_records->write(QLatin1String(UnsentTextStore::kRecordName), typist, *data);
    if (const auto data = d.data(planKey)) {
        const QString owner = ownerIn(data);
        if (!owner.isEmpty() && !m_records->read(QLatin1String(UnsavedPlanStore::kRecordName), owner))
            moved &= m_records->write(QLatin1String(UnsavedPlanStore::kRecordName), owner, *data);
    }
    if (const auto data = d.data(chatKey); data && !typist.isEmpty() &&
                                           !m_records->read(QLatin1String(CatChatLine::kRecordName), typist))
        moved &= m_records->write(QLatin1String(CatChatLine::kRecordName), typist, *data);
    if (!moved)
        return;
    d.remove(unsentKey);
    d.remove(planKey);
    d.remove(chatKey);
}

// ---- Writes that fail

void AppModel::followWrites()
{
    // The records are written again: settings that waited since the same trouble go too, and the reverse.
    if (!m_records->writeProblem())
        m_defaults->writeAgain();
    if (!m_defaults->writeProblem())
        m_records->writeAgain();
    std::optional<FileWriteError> problem = m_records->writeProblem();
    if (!problem)
        problem = m_defaults->writeProblem();
    // The plan's pill says whether it is kept.
    if (m_planUnsaved)
        Q_EMIT planUnsavedChanged();
    if (problem == m_writeProblem)
        return;
    m_writeProblem = problem;
    if (problem) {
        // Once, not at every keystroke that meets the same trouble.
        show(*problem);
        m_writeNotice = m_notice ? m_notice->id : QUuid();
    } else if (m_notice && m_notice->id == m_writeNotice) {
        // Written again: the warning, if still shown, is no longer true.
        setNotice(std::nullopt);
    }
}

// ---- Summary

void AppModel::rebuildObservations()
{
    const std::optional<bool> connected = m_instagramKnown ? std::optional(instagramConnected()) : std::nullopt;
    setObservations(SummaryObservations::build(connected, m_planDrafts, m_publications, m_feedItems,
                                               clock().now()));
}
