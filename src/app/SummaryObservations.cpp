#include "app/SummaryObservations.h"

#include "design/L10n.h"

#include <algorithm>

namespace SummaryObservations {

namespace {

constexpr qint64 kWeekMs = 604'800'000;
constexpr qint64 kOverdueGraceMs = 900'000;
constexpr int kRecentPosts = 9;
constexpr int kGridMinimum = 6;

bool isFailure(const QString &status)
{
    return status == QLatin1String("failed") || status == QLatin1String("cancelled") ||
           status == QLatin1String("preparation_failed");
}

bool isInProgress(const QString &status)
{
    return status == QLatin1String("creating") || status == QLatin1String("reconciling") ||
           status == QLatin1String("waiting") || status == QLatin1String("publishing") ||
           status == QLatin1String("processing") || status == QLatin1String("uploading");
}

bool isPublished(const QString &status) { return status == QLatin1String("published"); }

bool isDraft(const ZephylWire::Publication &p) { return p.isDraft.value_or(false); }

Observation card(const char *id, QString category, QString title, QString detail, QString prompt,
                 std::optional<Surface> surface)
{
    return {QString::fromLatin1(id), std::move(category), std::move(title), std::move(detail), std::move(prompt),
            surface};
}

} // namespace

std::optional<QDateTime> internetDateTime(const QString &text)
{
    // Read by position rather than with a pattern: the rules run on the main
    // thread over every draft, and this keeps a plan of hundreds cheap.
    const QStringView t(text);
    qsizetype at = 0;
    const auto digits = [&](int count) -> std::optional<int> {
        if (at + count > t.size())
            return std::nullopt;
        int value = 0;
        for (int k = 0; k < count; ++k) {
            const char16_t c = t[at + k].unicode();
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * 10 + (c - u'0');
        }
        at += count;
        return value;
    };
    const auto literal = [&](char16_t c) {
        if (at < t.size() && t[at].unicode() == c) {
            ++at;
            return true;
        }
        return false;
    };

    const auto year = digits(4);
    if (!year || !literal(u'-'))
        return std::nullopt;
    const auto month = digits(2);
    if (!month || !literal(u'-'))
        return std::nullopt;
    const auto day = digits(2);
    if (!day || !literal(u'T'))
        return std::nullopt;
    const auto hour = digits(2);
    if (!hour || !literal(u':'))
        return std::nullopt;
    const auto minute = digits(2);
    if (!minute || !literal(u':'))
        return std::nullopt;
    const auto second = digits(2);
    if (!second)
        return std::nullopt;
    int ms = 0;
    if (literal(u'.')) {
        // At least one digit; beyond milliseconds they are read and dropped.
        int count = 0;
        while (at < t.size() && t[at] >= u'0' && t[at] <= u'9') {
            if (count < 3)
                ms = ms * 10 + (t[at].unicode() - u'0');
            ++count;
            ++at;
        }
        if (count == 0)
            return std::nullopt;
        for (; count < 3; ++count)
            ms *= 10;
    }
    int offset = 0;
    if (!literal(u'Z')) {
        const bool minus = literal(u'-');
        if (!minus && !literal(u'+'))
            return std::nullopt;
        const auto hours = digits(2);
        if (!hours || !literal(u':'))
            return std::nullopt;
        const auto minutes = digits(2);
        if (!minutes || *hours > 23 || *minutes > 59)
            return std::nullopt;
        offset = (*hours * 60 + *minutes) * 60 * (minus ? -1 : 1);
    }
    if (at != t.size())
        return std::nullopt;
    const QDate date(*year, *month, *day);
    const QTime time(*hour, *minute, *second, ms);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    // The clock reading at that offset, moved to UTC.
    return QDateTime(date, time, Qt::UTC).addSecs(-offset);
}

QList<Observation> build(std::optional<bool> instagramConnected, const QList<ZephylWire::PlanDraft> &drafts,
                         const QList<ZephylWire::Publication> &publications,
                         const QList<ZephylWire::InstagramFeedItem> &feed, const QDateTime &now)
{
    QList<Observation> cards;
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 weekEndMs = nowMs + kWeekMs;

    if (instagramConnected == false) {
        cards.append(card("connect", L10n::t("Setup"), L10n::t("Instagram is not connected yet"),
                          L10n::t("Publishing and the grid wait for a professional account. The connection is made "
                                  "once, in Profile, through Instagram's own login."),
                          L10n::t("How do I connect my Instagram account to Zephyl?"), Surface::profile));
    }

    // The latest failed publication; the first of equal times wins.
    const ZephylWire::Publication *failed = nullptr;
    bool overdue = false;
    bool coming = false;
    for (const auto &p : publications) {
        const bool failure = isFailure(p.status);
        if (failure && !isDraft(p) && (!failed || p.scheduledAt.value_or(0) > failed->scheduledAt.value_or(0)))
            failed = &p;
        if (!failure && !isPublished(p.status) && !isInProgress(p.status) && !isDraft(p) && p.scheduledAt &&
            *p.scheduledAt < nowMs - kOverdueGraceMs)
            overdue = true;
        if (!failure && !isPublished(p.status) && p.scheduledAt && *p.scheduledAt >= nowMs &&
            *p.scheduledAt <= weekEndMs)
            coming = true;
    }
    if (failed) {
        const QString detail =
            failed->error ? L10n::tf("The server recorded: %@. The plan shows which one.", *failed->error)
                          : L10n::t("The server marked it as failed. The plan shows which one.");
        cards.append({QStringLiteral("failed-") + failed->id, L10n::t("Needs attention"),
                      L10n::t("A publication did not go out"), detail,
                      L10n::t("One of my publications failed. What should I check before trying again?"),
                      Surface::plan});
    }
    if (overdue) {
        cards.append(card("overdue", L10n::t("Needs attention"), L10n::t("A scheduled time passed without confirmation"),
                          L10n::t("Instagram never confirmed the publication. Open the plan to see it and decide "
                                  "whether to send it again."),
                          L10n::t("A scheduled publication passed its time without confirmation. What happened and "
                                  "what can I do?"),
                          Surface::plan));
    }

    if (instagramConnected == true && !coming) {
        // An undated or unreadable draft counts as prepared: the user meant it for now.
        const bool prepared = std::any_of(drafts.cbegin(), drafts.cend(), [&](const ZephylWire::PlanDraft &d) {
            if (d.scheduledAt.isEmpty())
                return true;
            const auto at = internetDateTime(d.scheduledAt);
            if (!at)
                return true;
            const qint64 ms = at->toMSecsSinceEpoch();
            return ms >= nowMs && ms <= weekEndMs;
        });
        if (!prepared) {
            cards.append(card("empty-week", L10n::t("Plan"), L10n::t("Nothing is prepared for the coming week"),
                              L10n::t("The plan is empty for the next seven days. One prepared draft is enough to "
                                      "make the week feel decided."),
                              L10n::t("Help me plan one publication for this week. Ask me what I want to say."),
                              Surface::plan));
        }
    }

    const auto withoutMedia = std::count_if(drafts.cbegin(), drafts.cend(),
                                            [](const ZephylWire::PlanDraft &d) { return !d.mediaId.has_value(); });
    if (withoutMedia > 0) {
        const QString title = withoutMedia == drafts.size() ? L10n::t("Your drafts still need media")
                                                            : L10n::t("Some drafts still need media");
        cards.append(card("drafts-without-media", L10n::t("Plan"), title,
                          L10n::t("A draft becomes publishable once a picture or a video is attached. Captions are "
                                  "ready; the visuals are the remaining step."),
                          L10n::t("Which of my drafts should I finish first, and what media would suit them?"),
                          Surface::plan));
    }

    if (feed.size() < kGridMinimum)
        return cards;
    const qsizetype recent = std::min<qsizetype>(feed.size(), kRecentPosts);
    qsizetype reels = 0;
    qsizetype carousels = 0;
    qsizetype silent = 0;
    for (qsizetype i = 0; i < recent; ++i) {
        const auto &item = feed.at(i);
        reels += item.kind == ZephylWire::InstagramFeedItem::Kind::reel;
        carousels += item.kind == ZephylWire::InstagramFeedItem::Kind::carousel;
        silent += item.caption.trimmed().isEmpty();
    }
    if (reels == recent) {
        cards.append(card("all-reels", L10n::t("Grid"), L10n::t("The recent grid is all Reels"),
                          L10n::t("Every one of the latest posts is a video. A carousel or a still now and then gives "
                                  "the profile a change of pace and a place for text."),
                          L10n::t("My recent posts are all Reels. Suggest one carousel idea that fits my profile."),
                          Surface::grid));
    } else if (reels == 0) {
        cards.append(card("no-reels", L10n::t("Grid"), L10n::t("No Reels among the recent posts"),
                          L10n::t("The latest posts are all stills or carousels. If video is part of the plan, one "
                                  "short Reel would be a natural next step."),
                          L10n::t("I have not posted a Reel lately. Suggest one short Reel idea I could make this "
                                  "week."),
                          Surface::grid));
    } else if (carousels == 0) {
        cards.append(card("no-carousels", L10n::t("Grid"), L10n::t("No carousels lately"),
                          L10n::t("Carousels are where a longer thought fits. None of the recent posts uses the "
                                  "format."),
                          L10n::t("Suggest a carousel that would fit next to my recent posts."), Surface::grid));
    }
    if (silent >= 3) {
        cards.append(card("silent-captions", L10n::t("Captions"), L10n::t("Several recent posts have no caption"),
                          L10n::t("A caption is where the post explains itself. Even one sentence gives people "
                                  "something to answer."),
                          L10n::t("Some of my recent posts have no captions. Help me write short ones that sound "
                                  "like me."),
                          std::nullopt));
    }
    return cards;
}

} // namespace SummaryObservations
