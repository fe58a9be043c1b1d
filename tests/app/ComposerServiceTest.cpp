// The composer's actions over the real client against the stand-in on
// loopback: a carousel and a reel published as a user would, a server draft
// beside a publication, and a save to the plan. The stand-in's own records are
// what these cases check.

#include "ComposerTestSupport.h"
#include "FlowTestSupport.h"
#include "LiveSupport.h"

#include "app/ComposerActions.h"
#include "app/ComposerState.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace composertest;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");
const QString kPassword = QStringLiteral("meow-meow-meow");
const QString kPublications = QStringLiteral("/api/instagram/publications");

ImportedMedia named(ImportedMedia m, const QString &fileName, const QByteArray &bytes)
{
    m.fileName = fileName;
    m.data = MediaData::fromBytes(bytes);
    return m;
}

class ComposerLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(live.server.port(), 0);
        L10n::setPreference(AppLanguage::en);
        ops().connected.insert(live.server.state().accounts.value(kEmail).userId);
        ops().processingMs = 0; // Instagram takes it at once
        ASSERT_TRUE(flowtest::finish(model().signIn(kEmail, kPassword)));
        ASSERT_TRUE(model().instagramConnected());
        model().setComposerPresented(true);
        state = std::make_unique<ComposerState>(live.h.clock, importer.function());
        live.server.clearSeen();
    }

    AppModel &model() { return *live.h.model; }
    Standin::Operations &ops() { return live.ops(); }
    QList<QJsonObject> creations(const QString &key)
    {
        QList<QJsonObject> out;
        for (const Standin::Seen &s : live.server.seen(kPublications)) {
            if (s.method == "POST" && s.header("idempotency-key") == key.toUtf8())
                out.append(s.json());
        }
        return out;
    }
    QStringList uploadedNames()
    {
        QStringList names;
        for (const auto &m : Standin::operations(live.server).media)
            names << m.fileName;
        names.sort();
        return names;
    }

    apptest::LanguageGuard language;
    livetest::LiveService live{kEmail, kPassword};
    FakeImporter importer;
    std::unique_ptr<ComposerState> state;
};

} // namespace

TEST_F(ComposerLive, ACarouselThenAReelArePublishedThroughTheComposer)
{
    for (int i = 1; i <= 3; ++i)
        importer.add(QStringLiteral("p%1.jpg").arg(i),
                     named(picture(), QStringLiteral("p%1.jpg").arg(i), QByteArray(2000 + i, char('a' + i))));
    state->setFormat(PublishFormat::carousel);
    flowtest::finish(state->addFiles({file("p1.jpg"), file("p2.jpg"), file("p3.jpg")}));
    state->setCaption(QStringLiteral("  Three window seats  "));
    state->setHashtags(QStringLiteral("cats, sun;Cats"));
    state->setCollaboratorsText(QStringLiteral("@north"));
    ASSERT_TRUE(ComposerActions::footer(model(), *state).publish);
    state->setConfirming(true);
    flowtest::finish(ComposerActions::confirm(model(), *state), "the carousel's publication");

    ASSERT_TRUE(state->outcome());
    ASSERT_EQ(state->outcome()->kind, PublishOutcome::Kind::published) << state->outcome()->message.toStdString();
    const QString carouselKey = state->idempotencyKey();
    const QList<QJsonObject> sent = creations(carouselKey);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.first().value("format").toString(), QStringLiteral("carousel"));
    EXPECT_EQ(sent.first().value("caption").toString(), QStringLiteral("Three window seats\n\n#cats #sun"));
    EXPECT_EQ(sent.first().value("mediaIds").toArray().size(), 3);
    EXPECT_EQ(sent.first().value("collaborators").toArray(), (QJsonArray{"north"}));
    EXPECT_EQ(uploadedNames(), (QStringList{"p1.jpg", "p2.jpg", "p3.jpg"}));
    // The outcome carries the post's own Instagram address from the service.
    ASSERT_TRUE(state->outcome()->publication && state->outcome()->publication->platformUrl);
    EXPECT_EQ(state->outcome()->publication->platformUrl->scheme(), QStringLiteral("https"));

    // "Prepare another": a reel with its cover, in the same composer.
    state->prepareAnother();
    EXPECT_NE(state->idempotencyKey(), carouselKey);
    importer.add(QStringLiteral("clip.mov"), named(video(12.5), QStringLiteral("clip.mp4"), QByteArray(5000, 'v')));
    importer.add(QStringLiteral("cover.png"), named(picture(), QStringLiteral("cover.jpg"), QByteArray(900, 'c')));
    state->setFormat(PublishFormat::feed);
    flowtest::finish(state->addFiles({file("clip.mov")}));
    EXPECT_EQ(state->format(), PublishFormat::reel); // a video turns a post into a reel
    flowtest::finish(state->addCover(file("cover.png")));
    state->setAudioName(QStringLiteral("Rain on tin"));
    state->setShareToFeed(false);
    state->setCaption(QStringLiteral("Dusk"));
    state->setConfirming(true);
    flowtest::finish(ComposerActions::confirm(model(), *state), "the reel's publication");

    ASSERT_TRUE(state->outcome());
    ASSERT_EQ(state->outcome()->kind, PublishOutcome::Kind::published) << state->outcome()->message.toStdString();
    const QList<QJsonObject> reel = creations(state->idempotencyKey());
    ASSERT_EQ(reel.size(), 1);
    EXPECT_EQ(reel.first().value("format").toString(), QStringLiteral("reel"));
    EXPECT_EQ(reel.first().value("mediaIds").toArray().size(), 1);
    EXPECT_FALSE(reel.first().value("coverMediaId").toString().isEmpty());
    EXPECT_EQ(reel.first().value("audioName").toString(), QStringLiteral("Rain on tin"));
    EXPECT_EQ(reel.first().value("shareToFeed"), QJsonValue(false));
    EXPECT_EQ(uploadedNames(), (QStringList{"clip.mp4", "cover.jpg", "p1.jpg", "p2.jpg", "p3.jpg"}));
    int published = 0;
    for (const auto &p : ops().publications)
        published += p.json.value("status").toString() == QLatin1String("published") ? 1 : 0;
    EXPECT_EQ(published, 2);
}

TEST_F(ComposerLive, AServerDraftDoesNotStandInForThePublicationThatFollows)
{
    importer.add(QStringLiteral("a.jpg"), named(picture(), QStringLiteral("a.jpg"), QByteArray(1500, 'a')));
    flowtest::finish(state->addFiles({file("a.jpg")}));
    state->setCaption(QStringLiteral("First draft, then the real thing"));
    flowtest::finish(ComposerActions::saveDraft(model(), *state), "the server draft");
    ASSERT_TRUE(state->outcome());
    EXPECT_EQ(state->outcome()->kind, PublishOutcome::Kind::draftSaved);

    state->setOutcome(std::nullopt);
    state->setConfirming(true);
    flowtest::finish(ComposerActions::confirm(model(), *state), "the publication after the draft");
    ASSERT_TRUE(state->outcome());
    // Under one key the service would have answered with the stored draft.
    EXPECT_EQ(state->outcome()->kind, PublishOutcome::Kind::published) << state->outcome()->message.toStdString();
    ASSERT_EQ(ops().publications.size(), 2);
    EXPECT_EQ(ops().publications.at(0).json.value("isDraft"), QJsonValue(true));
    EXPECT_EQ(ops().publications.at(1).json.value("isDraft"), QJsonValue(false));
}

TEST_F(ComposerLive, SaveToPlanStoresTheDraftWithItsFirstItemOnTheService)
{
    importer.add(QStringLiteral("a.jpg"), named(picture(), QStringLiteral("a.jpg"), QByteArray(1500, 'a')));
    importer.add(QStringLiteral("b.jpg"), named(picture(), QStringLiteral("b.jpg"), QByteArray(1600, 'b')));
    state->setFormat(PublishFormat::carousel);
    flowtest::finish(state->addFiles({file("a.jpg"), file("b.jpg")}));
    state->setCaption(QStringLiteral("Plan me\nsecond line"));
    EXPECT_TRUE(flowtest::finish(ComposerActions::saveToPlan(model(), *state), "the save to the plan"));
    EXPECT_FALSE(model().composerPresented());
    const QJsonArray stored = ops().drafts.value(live.server.state().accounts.value(kEmail).userId);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.at(0)["title"].toString(), QStringLiteral("Plan me"));
    EXPECT_EQ(stored.at(0)["format"].toString(), QStringLiteral("carousel"));
    EXPECT_EQ(uploadedNames(), QStringList{"a.jpg"});
    EXPECT_TRUE(ops().media.contains(stored.at(0)["mediaId"].toString()));
}
