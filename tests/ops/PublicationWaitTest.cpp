#include "services/ops/Publications.h"

#include <QJsonDocument>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct Pub {
    QString id;
    QString status;
};

// Answers reads from a script and counts them, with the virtual time of each.
struct Reader {
    FakeClock *clock;
    std::vector<std::function<Pub(QString)>> script;
    std::vector<qint64> readAtMs;

    std::function<QCoro::Task<Pub>(QString)> fn()
    {
        return [this](QString id) -> QCoro::Task<Pub> {
            readAtMs.push_back(clock->now().toMSecsSinceEpoch());
            const auto step = script.at(std::min(readAtMs.size(), script.size()) - 1);
            co_return step(id);
        };
    }
};

// Drives a wait in virtual time until it finishes.
Pub drive(FakeClock &clock, QCoro::Task<Pub> task, int maxSteps = 1000)
{
    std::optional<Pub> result;
    auto into = [](QCoro::Task<Pub> t, std::optional<Pub> &out) -> QCoro::Task<> { out = co_await std::move(t); };
    auto waiter = into(std::move(task), result);
    for (int i = 0; i < maxSteps && !result; ++i)
        clock.advance(std::chrono::milliseconds(100));
    EXPECT_TRUE(result.has_value());
    return result.value_or(Pub{});
}

} // namespace

TEST(PublicationWait, OnlyStatusesInProgressAreReadAgain)
{
    FakeClock clock;
    // Every word the wait reads again for, and the words next to them that it
    // must not: "uploading" is the plan's, not the wait's; case and spaces count.
    struct Row {
        const char *status;
        bool inProgress;
    };
    const Row rows[] = {
        {"creating", true},    {"reconciling", true}, {"waiting", true},      {"publishing", true},
        {"processing", true},  {"published", false},  {"failed", false},      {"cancelled", false},
        {"preparation_failed", false}, {"scheduled", false}, {"uploading", false}, {"draft", false},
        {"Processing", false}, {"RECONCILING", false}, {"reconciling ", false}, {"", false},
    };
    for (const Row &row : rows) {
        const QString status = QString::fromLatin1(row.status);
        Reader reader{&clock, {[](QString id) { return Pub{id, QStringLiteral("published")}; }}, {}};
        auto task = Publications::waitFor<Pub>({QStringLiteral("p1"), status}, 8, 1.6, reader.fn(), clock);
        const Pub out = drive(clock, std::move(task));
        EXPECT_EQ(Publications::isInProgress(status), row.inProgress) << row.status;
        EXPECT_EQ(reader.readAtMs.size(), row.inProgress ? 1u : 0u) << row.status;
        EXPECT_EQ(out.status, row.inProgress ? QStringLiteral("published") : status) << row.status;
    }
    Reader reader{&clock, {[](QString id) { return Pub{id, QStringLiteral("published")}; }}, {}};
    // No attempts at all: the publication comes back unchanged.
    const Pub zero = drive(clock, Publications::waitFor<Pub>({QStringLiteral("p1"), QStringLiteral("processing")}, 0, 1.6,
                                                              reader.fn(), clock));
    EXPECT_EQ(zero.status, QStringLiteral("processing"));
    EXPECT_TRUE(reader.readAtMs.empty());
}

TEST(PublicationWait, ProcessingMakesExactlyTheAttemptsSpacedByTheDelay)
{
    FakeClock clock;
    const qint64 start = clock.now().toMSecsSinceEpoch();
    int n = 0;
    Reader reader{&clock, {[&](QString id) { return Pub{id, QStringLiteral("processing"), }; }}, {}};
    reader.script = {[&](QString id) { return Pub{id + QString::number(++n), QStringLiteral("processing")}; }};
    const Pub out = drive(clock, Publications::waitFor<Pub>({QStringLiteral("p"), QStringLiteral("processing")}, 8, 1.6,
                                                            reader.fn(), clock));
    ASSERT_EQ(reader.readAtMs.size(), 8u);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(reader.readAtMs[i] - start, qint64(1600 * (i + 1)));
    // The last answer is the result, still in progress.
    EXPECT_EQ(out.status, QStringLiteral("processing"));
    EXPECT_EQ(out.id, QStringLiteral("p12345678"));
}

TEST(PublicationWait, FailedReadUsesItsAttemptAndKeepsThePublication)
{
    FakeClock clock;
    Reader reader{&clock,
                  {[](QString id) { return Pub{id, QStringLiteral("publishing")}; },
                   [](QString) -> Pub { throw std::runtime_error("offline"); },
                   [](QString id) { return Pub{id, QStringLiteral("published")}; }},
                  {}};
    const Pub out = drive(clock, Publications::waitFor<Pub>({QStringLiteral("p"), QStringLiteral("creating")}, 8, 1.6,
                                                            reader.fn(), clock));
    EXPECT_EQ(reader.readAtMs.size(), 3u);
    EXPECT_EQ(out.status, QStringLiteral("published"));

    // Every read failing: the given publication comes back after all attempts.
    Reader failing{&clock, {[](QString) -> Pub { throw std::runtime_error("down"); }}, {}};
    const Pub kept = drive(clock, Publications::waitFor<Pub>({QStringLiteral("q"), QStringLiteral("waiting")}, 3, 1.6,
                                                             failing.fn(), clock));
    EXPECT_EQ(failing.readAtMs.size(), 3u);
    EXPECT_EQ(kept.id, QStringLiteral("q"));
    EXPECT_EQ(kept.status, QStringLiteral("waiting"));
}

TEST(PublicationWait, CancellationReturnsThePublicationInHand)
{
    FakeClock clock;
    CancelSource cancel;
    Reader reader{&clock, {[&](QString id) {
                      cancel.cancel(); // cancelled while the second attempt sleeps
                      return Pub{id, QStringLiteral("reconciling")};
                  }},
                  {}};
    const Pub out = drive(clock, Publications::waitFor<Pub>({QStringLiteral("p"), QStringLiteral("processing")}, 8, 1.6,
                                                            reader.fn(), clock, cancel.token()));
    EXPECT_EQ(reader.readAtMs.size(), 1u);
    EXPECT_EQ(out.status, QStringLiteral("reconciling"));

    // Odd delays neither hang nor crash.
    Reader once{&clock, {[](QString id) { return Pub{id, QStringLiteral("published")}; }}, {}};
    EXPECT_EQ(drive(clock, Publications::waitFor<Pub>({QStringLiteral("p"), QStringLiteral("processing")}, 2, -5.0,
                                                      once.fn(), clock))
                  .status,
              QStringLiteral("published"));
    EXPECT_EQ(drive(clock, Publications::waitFor<Pub>({QStringLiteral("p"), QStringLiteral("processing")}, 1,
                                                      std::numeric_limits<double>::quiet_NaN(), once.fn(), clock))
                  .status,
              QStringLiteral("published"));
}

TEST(PublicationRequestBody, KeysAndOptionalFields)
{
    Publications::PublicationRequest r;
    r.format = QStringLiteral("reel");
    r.caption = QStringLiteral("Hi\n\n#cat");
    r.mediaIds = {QStringLiteral("m1")};
    r.scheduledAt = Publications::internetDateTime(QDateTime::fromMSecsSinceEpoch(1'750'000'000'999, Qt::UTC));
    QJsonObject o = r.toJson();
    EXPECT_EQ(o.value(QStringLiteral("confirm")), QJsonValue(true));
    EXPECT_EQ(o.value(QStringLiteral("scheduledAt")).toString(), QStringLiteral("2025-06-15T15:06:40Z"));
    // The same instant given in another zone goes out the same, in UTC.
    EXPECT_EQ(Publications::internetDateTime(QDateTime(QDate(2025, 6, 15), QTime(17, 6, 40), QTimeZone("Europe/Berlin"))),
              QStringLiteral("2025-06-15T15:06:40Z"));
    EXPECT_EQ(Publications::internetDateTime(QDateTime(QDate(2025, 6, 15), QTime(20, 36, 40), QTimeZone(5 * 3600 + 1800))),
              QStringLiteral("2025-06-15T15:06:40Z"));
    EXPECT_FALSE(o.contains(QStringLiteral("coverMediaId")));
    EXPECT_FALSE(o.contains(QStringLiteral("thumbOffsetMs")));
    EXPECT_EQ(o.keys().size(), 12);
    r.coverMediaId = QStringLiteral("c1");
    o = r.toJson();
    EXPECT_EQ(o.value(QStringLiteral("coverMediaId")).toString(), QStringLiteral("c1"));
    EXPECT_EQ(o.value(QStringLiteral("isAiGenerated")), QJsonValue(false));
}

TEST(PublicationPaths, IdIsOneEscapedSegment)
{
    EXPECT_EQ(Publications::path(QStringLiteral("pub_1")), QStringLiteral("/api/instagram/publications/pub_1"));
    EXPECT_EQ(Publications::path(QStringLiteral("../plan/drafts?x=1#y")),
              QStringLiteral("/api/instagram/publications/..%2Fplan%2Fdrafts%3Fx%3D1%23y"));
    EXPECT_EQ(Publications::path(QStringLiteral("7C0E-ключ")),
              QStringLiteral("/api/instagram/publications/7C0E-%D0%BA%D0%BB%D1%8E%D1%87"));
    EXPECT_TRUE(Publications::isInProgress(QStringLiteral("processing")));
    EXPECT_FALSE(Publications::isInProgress(QStringLiteral("PROCESSING")));
}
