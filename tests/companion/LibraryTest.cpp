#include <gtest/gtest.h>

#include "base/Bundle.h"
#include "base/DefaultsStore.h"
#include "companion/CompanionLibrary.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
    f.write(bytes);
}

QByteArray manifest(const char *id, const char *clips = R"({"idle": {"file": "idle.webp", "height": 80,
    "pixelWidth": 208, "pixelHeight": 164, "floor": 0.88, "facing": 1}})")
{
    return QByteArray(R"({"id": ")") + id + R"(", "name": {"en": "Cat )" + id +
           R"("}, "walkSpeed": 60, "width": 84, "height": 62, "clips": )" + clips + "}";
}

// A fresh folder for each use.
QString freshDir()
{
    static int n = 0;
    const QString dir = zktest::tempDir() + QStringLiteral("/library-") + QString::number(++n);
    QDir().mkpath(dir);
    return dir;
}

QStringList ids(const QList<CompanionVariant> &looks)
{
    QStringList out;
    for (const auto &look : looks)
        out << look.id;
    return out;
}

} // namespace

TEST(CompanionLibrary, LooksAreListedByFolderNameWithTheDrawnLookLast)
{
    const QString cats = freshDir() + QStringLiteral("/Cats");
    write(cats + QStringLiteral("/b-cat/manifest.json"), manifest("bee"));
    write(cats + QStringLiteral("/a-cat/manifest.json"), manifest("ay"));
    write(cats + QStringLiteral("/Z-cat/manifest.json"), manifest("zed")); // upper case sorts first
    write(cats + QStringLiteral("/.hidden/manifest.json"), manifest("dot")); // hidden entries count
    write(cats + QStringLiteral("/c-cat/readme.txt"), "no manifest");
    write(cats + QStringLiteral("/d-cat"), manifest("file")); // a plain file, not a folder
    write(cats + QStringLiteral("/e-cat/manifest.json"), manifest("ay")); // a repeated id is never found

    const QList<CompanionVariant> looks = CompanionLibrary::read(cats);
    EXPECT_EQ(ids(looks), (QStringList{"dot", "zed", "ay", "bee", "ay", "drawn"}));
    const CompanionVariant ay = CompanionLibrary::variant(looks, QStringLiteral("ay"));
    EXPECT_EQ(ay.folder, cats + QStringLiteral("/a-cat"));
    EXPECT_EQ(ay.nameEnglish, QStringLiteral("Cat ay"));
    EXPECT_EQ(ay.walkSpeed, 60);
    EXPECT_EQ(ay.size, QSizeF(84, 62));
    EXPECT_TRUE(ay.isFilmed());
    ASSERT_EQ(ay.clips.size(), 1u);
    const CompanionClip &idle = ay.clips.at(QStringLiteral("idle"));
    EXPECT_EQ(idle.file, QStringLiteral("idle.webp"));
    EXPECT_EQ(idle.pixelWidth, 208);
    EXPECT_EQ(idle.floor, 0.88);
    EXPECT_FALSE(idle.sink || idle.rate || idle.prop || idle.head);
    EXPECT_EQ(CompanionLibrary::variant(looks, QStringLiteral("no-such")), CompanionVariant::drawn());

    // The choice: a known id stays, an unknown or missing one gives the first look.
    EXPECT_EQ(CompanionLibrary::selectedVariantID(looks, QStringLiteral("bee")), QStringLiteral("bee"));
    EXPECT_EQ(CompanionLibrary::selectedVariantID(looks, QStringLiteral("gone")), QStringLiteral("dot"));
    EXPECT_EQ(CompanionLibrary::selectedVariantID(looks, std::nullopt), QStringLiteral("dot"));

    // No Cats folder at all: the drawn look alone, whatever the setting says.
    const QList<CompanionVariant> bare = CompanionLibrary::read(freshDir() + QStringLiteral("/missing"));
    EXPECT_EQ(ids(bare), QStringList{"drawn"});
    EXPECT_EQ(CompanionLibrary::selectedVariantID(bare, QStringLiteral("bee")), QStringLiteral("drawn"));
}

TEST(CompanionLibrary, ManifestsDecodeStrictlyAndUnsafeOnesAreSkipped)
{
    const QByteArray good = R"({"idle": {"file": "a.webp", "height": 80, "pixelWidth": 200, "pixelHeight": 100,
                                "floor": 0.9, "facing": -1)";
    struct Case {
        const char *why;
        QByteArray bytes;
        bool loads;
        // A row about a value is otherwise a sound manifest: refused for that value
        // alone, never for a slip in the row's own JSON.
        bool soundJson = true;
    };
    const Case cases[] = {
        {"all clip options present", manifest("x", good + R"(, "sink": 3, "rate": 1.5, "prop": {"centerX": 0.5,
            "top": 0.7}, "head": {"x": 10, "y": 4, "size": 0.5}, "extra": [1]}})"), true},
        {"optional keys null", manifest("x", good + R"(, "sink": null, "rate": null, "prop": null, "head": null}})"),
         true},
        {"no clips", manifest("x", "{}"), true},
        {"unknown top-level key", manifest("x", "{}").replace("\"clips\"", "\"more\": {\"a\": 1}, \"clips\""), true},
        {"no walkSpeed", manifest("x", "{}").replace("\"walkSpeed\": 60,", ""), false},
        {"walkSpeed as text", manifest("x", "{}").replace("60", "\"60\""), false},
        {"clips as a list", manifest("x", "[]"), false},
        {"name without en", manifest("x", "{}").replace("\"en\"", "\"de\""), false},
        {"id a number", manifest("x", "{}").replace("\"x\"", "7"), false},
        {"prop without top", manifest("x", good + R"(, "prop": {"centerX": 0.5}}})"), false},
        {"head without size", manifest("x", good + R"(, "head": {"x": 1, "y": 1}}})"), false},
        {"clip not an object", manifest("x", R"({"idle": "a.webp"})"), false},
        {"malformed JSON", manifest("x", "{").left(40), false, false},
        {"a JSON list", "[1, 2]", false, false},
        {"empty file", "", false, false},
        // A clip's file is joined to the look's folder: only a plain name stays inside it.
        {"file in a parent folder", manifest("x", QByteArray(good).replace("a.webp", "../a.webp") + "}}"), false},
        {"absolute file", manifest("x", QByteArray(good).replace("a.webp", "/etc/passwd") + "}}"), false},
        {"file in a subfolder", manifest("x", QByteArray(good).replace("a.webp", "clips/a.webp") + "}}"), false},
        {"file is ..", manifest("x", QByteArray(good).replace("a.webp", "..") + "}}"), false},
        {"empty file name", manifest("x", QByteArray(good).replace("a.webp", "") + "}}"), false},
        // Numbers that divide or size a clip.
        {"zero pixel width", manifest("x", QByteArray(good).replace("200", "0") + "}}"), false},
        {"zero pixel height", manifest("x", QByteArray(good).replace("100", "0") + "}}"), false},
        {"negative pixel width", manifest("x", QByteArray(good).replace("200", "-200") + "}}"), false},
        {"negative pixel height", manifest("x", QByteArray(good).replace("100", "-100") + "}}"), false},
        {"absurd pixel height", manifest("x", QByteArray(good).replace("100", "1e9") + "}}"), false},
        {"negative drawn height", manifest("x", QByteArray(good).replace("80", "-80") + "}}"), false},
        {"absurd pixel width", manifest("x", QByteArray(good).replace("200", "1e9") + "}}"), false},
        {"zero drawn height", manifest("x", QByteArray(good).replace("80", "0") + "}}"), false},
        // Any rate a 32-bit float holds loads; one of 0 or below plays at normal speed.
        {"zero rate", manifest("x", good + R"(, "rate": 0}})"), true},
        {"negative rate", manifest("x", good + R"(, "rate": -1}})"), true},
        {"fast rate", manifest("x", good + R"(, "rate": 40}})"), true},
        {"rate too big for a float", manifest("x", good + R"(, "rate": 1e300}})"), false},
        {"rate as text", manifest("x", good + R"(, "rate": "1"}})"), false},
        {"head box of side 0", manifest("x", good + R"(, "head": {"x": 1, "y": 1, "size": 0}}})"), false},
        {"head box of negative side", manifest("x", good + R"(, "head": {"x": 1, "y": 1, "size": -8}}})"), false},
        {"head box side as text", manifest("x", good + R"(, "head": {"x": 1, "y": 1, "size": "8"}}})"), false},
        {"head box far outside any frame", manifest("x", good + R"(, "head": {"x": 1e9, "y": 1, "size": 8}}})"), false},
        {"head box a list", manifest("x", good + R"(, "head": [1, 1, 8]}})"), false},
        {"head box of side 1", manifest("x", good + R"(, "head": {"x": 1, "y": 1, "size": 1}}})"), true},
        {"zero look width", manifest("x", "{}").replace("\"width\": 84", "\"width\": 0"), false},
        {"zero walk speed", manifest("x", "{}").replace("60", "0"), false},
        {"number out of double range", manifest("x", QByteArray(good).replace("0.9", "1e999") + "}}"), false, false},
    };
    for (const Case &c : cases) {
        const auto look = CompanionLibrary::decode(c.bytes, QStringLiteral("/looks/x"));
        EXPECT_EQ(look.has_value(), c.loads) << c.why;
        if (c.soundJson) {
            EXPECT_TRUE(QJsonDocument::fromJson(c.bytes).isObject()) << c.why << ": the row's own JSON is broken";
        }
    }
    const auto full = CompanionLibrary::decode(cases[0].bytes, QStringLiteral("/looks/x"));
    ASSERT_TRUE(full);
    const CompanionClip &clip = full->clips.at(QStringLiteral("idle"));
    EXPECT_EQ(clip.facing, -1);
    EXPECT_EQ(clip.sink, 3);
    EXPECT_EQ(clip.rate, 1.5f);
    EXPECT_EQ(clip.prop, (CompanionClip::Prop{0.5, 0.7}));
    EXPECT_EQ(clip.head, (CompanionClip::HeadBox{10, 4, 0.5}));

    // A folder whose manifest is broken, huge or not a file is left out; its neighbours load.
    const QString cats = freshDir() + QStringLiteral("/Cats");
    write(cats + QStringLiteral("/1/manifest.json"), manifest("one"));
    write(cats + QStringLiteral("/2/manifest.json"), manifest("two", R"({"idle": {"file": "../../secret"}})"));
    write(cats + QStringLiteral("/3/manifest.json"), manifest("three") + QByteArray(300000, ' '));
    QDir().mkpath(cats + QStringLiteral("/4/manifest.json"));
    write(cats + QStringLiteral("/5/manifest.json"), QByteArray("\xff\xfe\x00{", 4));
    write(cats + QStringLiteral("/6/manifest.json"), manifest("six"));
    EXPECT_EQ(ids(CompanionLibrary::read(cats)), (QStringList{"one", "six", "drawn"}));
}

TEST(CompanionLibrary, PicturesFallBackAndTheDrawnLookHasNone)
{
    const QString folder = freshDir() + QStringLiteral("/look");
    QDir().mkpath(folder);
    const auto look = CompanionLibrary::decode(manifest("pics"), folder);
    ASSERT_TRUE(look);
    auto path = [&](const char *name) { return std::optional<QString>(folder + u'/' + QLatin1String(name)); };

    for (CatLook expression : kAllCatLooks)
        EXPECT_FALSE(CompanionLibrary::faceURL(*look, expression));
    EXPECT_FALSE(CompanionLibrary::portraitURL(*look));

    write(folder + QStringLiteral("/face.jpg"), "jpeg");
    EXPECT_EQ(CompanionLibrary::faceURL(*look, CatLook::concerned), path("face.jpg"));
    EXPECT_EQ(CompanionLibrary::portraitURL(*look), path("face.jpg"));
    write(folder + QStringLiteral("/face-neutral.png"), "png");
    EXPECT_EQ(CompanionLibrary::faceURL(*look, CatLook::concerned), path("face-neutral.png"));
    EXPECT_EQ(CompanionLibrary::faceURL(*look), path("face.jpg"));
    write(folder + QStringLiteral("/face-concerned.png"), "png");
    write(folder + QStringLiteral("/face-happy.png"), "png");
    write(folder + QStringLiteral("/face-curious.png"), "png");
    EXPECT_EQ(CompanionLibrary::faceURL(*look, CatLook::concerned), path("face-concerned.png"));
    EXPECT_EQ(CompanionLibrary::faceURL(*look, CatLook::happy), path("face-happy.png"));
    EXPECT_EQ(CompanionLibrary::faceURL(*look, CatLook::curious), path("face-curious.png"));
    write(folder + QStringLiteral("/portrait.jpg"), "jpeg");
    EXPECT_EQ(CompanionLibrary::portraitURL(*look), path("portrait.jpg"));
    EXPECT_FALSE(CompanionLibrary::liveFaceURL(*look));
    write(folder + QStringLiteral("/face-live.webp"), "webp");
    EXPECT_EQ(CompanionLibrary::liveFaceURL(*look), path("face-live.webp"));
    EXPECT_EQ(CompanionLibrary::fileURL(*look, QStringLiteral("face-live.webp")), path("face-live.webp"));
    EXPECT_FALSE(CompanionLibrary::fileURL(*look, QStringLiteral("../look/face.jpg")));
    // A folder where a picture should be is not a picture.
    QDir().mkpath(folder + QStringLiteral("/poster.png"));
    EXPECT_FALSE(CompanionLibrary::fileURL(*look, QStringLiteral("poster.png")));

    const CompanionVariant &drawn = CompanionVariant::drawn();
    EXPECT_FALSE(CompanionLibrary::faceURL(drawn));
    EXPECT_FALSE(CompanionLibrary::faceURL(drawn, CatLook::happy));
    EXPECT_FALSE(CompanionLibrary::portraitURL(drawn));
    EXPECT_FALSE(CompanionLibrary::liveFaceURL(drawn));
}

TEST(CompanionLibrary, TheApplicationCatalogueIsTheBundlesAndTheChoiceIsTheStoredKey)
{
    const QString root = freshDir();
    write(root + QStringLiteral("/Cats/tabby/manifest.json"), manifest("tabby"));
    write(root + QStringLiteral("/Cats/tabby/portrait.jpg"), "jpeg");
    write(root + QStringLiteral("/Cats/socks/manifest.json"), manifest("socks"));
    Bundle bundle(root);
    Bundle::setShared(&bundle);
    DefaultsStore store;
    DefaultsStore::setShared(&store);

    EXPECT_EQ(ids(CompanionLibrary::variants()), (QStringList{"socks", "tabby", "drawn"}));
    EXPECT_EQ(CompanionLibrary::selectedVariantID(), QStringLiteral("socks"));
    store.setString(QStringLiteral("zephyl.mac.companion.variant"), QStringLiteral("tabby"));
    EXPECT_EQ(CompanionLibrary::selectedVariantID(), QStringLiteral("tabby"));
    store.setString(QStringLiteral("zephyl.mac.companion.variant"), QStringLiteral("drawn"));
    EXPECT_EQ(CompanionLibrary::selectedVariantID(), QStringLiteral("drawn"));
    EXPECT_EQ(CompanionLibrary::portraitURL(QStringLiteral("tabby")), root + QStringLiteral("/Cats/tabby/portrait.jpg"));
    EXPECT_FALSE(CompanionLibrary::portraitURL(QStringLiteral("drawn")));
    EXPECT_FALSE(CompanionLibrary::portraitURL(QStringLiteral("no-such")));

    // Read once: a look added later is not seen.
    write(root + QStringLiteral("/Cats/apple/manifest.json"), manifest("apple"));
    EXPECT_EQ(ids(CompanionLibrary::variants()), (QStringList{"socks", "tabby", "drawn"}));

    DefaultsStore::setShared(nullptr);
    Bundle::setShared(nullptr);
}
