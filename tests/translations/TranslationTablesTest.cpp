// The translation lists against their rules: the key list, placeholders, names
// that stay in Latin letters, the right-to-left handle mark, French spacing, the
// sample rows, and every text the code looks up being a key.
#include <gtest/gtest.h>

#include "design/L10n.h"
#include "design/StringLists.h"
#include "design/Strings.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <vector>

namespace {

const char *const kKeys[] = {
#include "translation_keys.inc"
};

struct Sample {
    const char *table;
    const char *key;
    const char *value;
};
// The right-to-left rows carry the invisible left-to-right mark before the handle.
const Sample kSamples[] = {
#include "sample_rows.inc"
};

// The words of buttons and menus as the tables hold them: two rows trading
// places (Send reading as Exit) would give a button another command.
const Sample kCommandWords[] = {
    {"arabic", "Send", "إرسال"},
    {"danish", "Send", "Send"},
    {"dutch", "Send", "Verstuur"},
    {"french", "Send", "Envoyer"},
    {"german", "Send", "Senden"},
    {"hebrew", "Send", "שליחה"},
    {"italian", "Send", "Invia"},
    {"norwegian", "Send", "Send"},
    {"portuguese", "Send", "Enviar"},
    {"russian", "Send", "Отправить"},
    {"spanish", "Send", "Enviar"},
    {"swedish", "Send", "Skicka"},
    {"turkish", "Send", "Gönder"},
    {"arabic", "Exit", "خروج"},
    {"danish", "Exit", "Afslut"},
    {"dutch", "Exit", "Sluit af"},
    {"french", "Exit", "Quitter"},
    {"german", "Exit", "Beenden"},
    {"hebrew", "Exit", "יציאה"},
    {"italian", "Exit", "Esci"},
    {"norwegian", "Exit", "Avslutt"},
    {"portuguese", "Exit", "Sair"},
    {"russian", "Exit", "Выход"},
    {"spanish", "Exit", "Salir"},
    {"swedish", "Exit", "Avsluta"},
    {"turkish", "Exit", "Çıkış"},
    {"arabic", "Cancel", "إلغاء"},
    {"danish", "Cancel", "Annuller"},
    {"dutch", "Cancel", "Annuleer"},
    {"french", "Cancel", "Annuler"},
    {"german", "Cancel", "Abbrechen"},
    {"hebrew", "Cancel", "ביטול"},
    {"italian", "Cancel", "Annulla"},
    {"norwegian", "Cancel", "Avbryt"},
    {"portuguese", "Cancel", "Cancelar"},
    {"russian", "Cancel", "Отменить"},
    {"spanish", "Cancel", "Cancelar"},
    {"swedish", "Cancel", "Avbryt"},
    {"turkish", "Cancel", "Vazgeç"},
    {"arabic", "Delete", "حذف"},
    {"danish", "Delete", "Slet"},
    {"dutch", "Delete", "Verwijder"},
    {"french", "Delete", "Supprimer"},
    {"german", "Delete", "Löschen"},
    {"hebrew", "Delete", "מחיקה"},
    {"italian", "Delete", "Elimina"},
    {"norwegian", "Delete", "Slett"},
    {"portuguese", "Delete", "Apagar"},
    {"russian", "Delete", "Удалить"},
    {"spanish", "Delete", "Eliminar"},
    {"swedish", "Delete", "Radera"},
    {"turkish", "Delete", "Sil"},
    {"arabic", "Try again", "إعادة المحاولة"},
    {"danish", "Try again", "Prøv igen"},
    {"dutch", "Try again", "Probeer opnieuw"},
    {"french", "Try again", "Réessayer"},
    {"german", "Try again", "Erneut versuchen"},
    {"hebrew", "Try again", "ניסיון חוזר"},
    {"italian", "Try again", "Riprova"},
    {"norwegian", "Try again", "Prøv igjen"},
    {"portuguese", "Try again", "Tentar de novo"},
    {"russian", "Try again", "Повторить"},
    {"spanish", "Try again", "Reintentar"},
    {"swedish", "Try again", "Försök igen"},
    {"turkish", "Try again", "Tekrar dene"},
};

struct Named {
    const char *name;
    AppLanguage language;
    const StringLists::List *list;
};
const Named kTables[] = {
    {"russian", AppLanguage::ru, &StringLists::russian},     {"spanish", AppLanguage::es, &StringLists::spanish},
    {"german", AppLanguage::de, &StringLists::german},       {"french", AppLanguage::fr, &StringLists::french},
    {"portuguese", AppLanguage::pt, &StringLists::portuguese}, {"italian", AppLanguage::it, &StringLists::italian},
    {"turkish", AppLanguage::tr, &StringLists::turkish},     {"arabic", AppLanguage::ar, &StringLists::arabic},
    {"hebrew", AppLanguage::he, &StringLists::hebrew},       {"norwegian", AppLanguage::nb, &StringLists::norwegian},
    {"swedish", AppLanguage::sv, &StringLists::swedish},     {"danish", AppLanguage::da, &StringLists::danish},
    {"dutch", AppLanguage::nl, &StringLists::dutch},
};

QString s(const char *utf8) { return utf8 ? QString::fromUtf8(utf8) : QString(); }

QStringList placeholders(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("%(\\d+\\$)?[@d]"));
    QStringList found;
    for (auto it = re.globalMatch(text); it.hasNext();)
        found << it.next().captured(0);
    return found;
}

// Host names as a sentence shows them: dotted words ending in letters, not a
// number ("2.200") nor a file name's value ("%@").
QStringList hostNames(const QString &text)
{
    static const QRegularExpression host(
        QStringLiteral(R"re((?<![A-Za-z0-9.@])[A-Za-z0-9][A-Za-z0-9-]*(?:\.[A-Za-z0-9-]+)*\.[A-Za-z]{2,}(?![\w-]))re"));
    QStringList found;
    for (auto it = host.globalMatch(text); it.hasNext();)
        found << it.next().captured(0);
    found.sort();
    return found;
}

const QStringList kProtected = {"Zephyl", "Instagram", "Reel", "Qt WebEngine", "X11", "iPhone", "Supabase", "Google",
                                "TikTok", "YouTube", "JPEG", "PNG", "HEIC", "MP4", "MOV", ZEPHYL_SERVICE_DOMAIN};

} // namespace

TEST(TranslationTables, EveryListHoldsExactlyTheKeysInOrder)
{
    ASSERT_EQ(std::size(kKeys), StringLists::keyCount);
    for (const auto &table : kTables) {
        SCOPED_TRACE(table.name);
        QSet<QString> seen;
        for (std::size_t i = 0; i < StringLists::keyCount; ++i) {
            const StringPair &pair = (*table.list)[i];
            ASSERT_NE(pair.key, nullptr) << "list ends early at row " << i + 1;
            ASSERT_NE(pair.value, nullptr);
            EXPECT_EQ(s(pair.key), s(kKeys[i])) << "row " << i + 1;
            EXPECT_FALSE(seen.contains(s(pair.key))) << "duplicate " << pair.key;
            seen.insert(s(pair.key));
        }
        const auto *built = Strings::table(table.language);
        ASSERT_NE(built, nullptr);
        EXPECT_EQ(built->size(), qsizetype(StringLists::keyCount));
        EXPECT_EQ(Strings::table(table.language), built) << "a second request builds a new table";
    }
    EXPECT_EQ(Strings::table(AppLanguage::en), nullptr);
    EXPECT_EQ(Strings::table(AppLanguage::system), nullptr);
}

TEST(TranslationTables, PlaceholdersProtectedNamesAndTheDomain)
{
    for (const auto &table : kTables) {
        SCOPED_TRACE(table.name);
        for (const StringPair &pair : *table.list) {
            if (!pair.key)
                break;
            const QString key = s(pair.key), value = s(pair.value);
            EXPECT_EQ(placeholders(value), placeholders(key)) << pair.key << " -> " << pair.value;
            EXPECT_FALSE(value.contains(QRegularExpression(QStringLiteral("%\\d+\\$")))) << pair.value;
            for (const QString &name : kProtected) {
                if (key.contains(name)) {
                    EXPECT_TRUE(value.contains(name)) << name.toStdString() << " lost in " << pair.value;
                }
            }
            if (key.contains(QStringLiteral(ZEPHYL_SERVICE_DOMAIN))) {
                EXPECT_EQ(value.count(QStringLiteral(ZEPHYL_SERVICE_DOMAIN)), 1) << pair.value;
            }
            // Every host name a row shows is the one its key shows, and that is
            // the service's own: one table pointing users at another address
            // (or at the service's with a label more or less) is found.
            EXPECT_EQ(hostNames(value), hostNames(key)) << pair.key << " -> " << pair.value;
            for (const QString &host : hostNames(key))
                EXPECT_EQ(host, QStringLiteral("sorvane.app")) << pair.key;
            EXPECT_FALSE(value.trimmed().isEmpty()) << pair.key;
        }
    }
}

TEST(TranslationTables, ScriptRulesForRussianArabicHebrewAndFrench)
{
    const QChar lrm(0x200E);
    for (const auto &table : kTables) {
        SCOPED_TRACE(table.name);
        const bool mustDiffer = table.language == AppLanguage::ru || table.language == AppLanguage::ar ||
                                table.language == AppLanguage::he;
        const bool rtl = table.language == AppLanguage::ar || table.language == AppLanguage::he;
        for (const StringPair &pair : *table.list) {
            if (!pair.key)
                break;
            const QString key = s(pair.key), value = s(pair.value);
            if (mustDiffer) {
                EXPECT_NE(value, key) << "untranslated: " << pair.key;
            }
            if (rtl && key.contains(QStringLiteral("@%@"))) {
                EXPECT_TRUE(value.contains(QString(lrm) + QStringLiteral("@%@"))) << pair.value;
            }
            if (table.language == AppLanguage::fr) {
                for (qsizetype i = 1; i < value.size(); ++i) {
                    const QChar c = value.at(i);
                    if (c != u':' && c != u'?' && c != u';' && c != u'!')
                        continue;
                    if (c == u':' && value.mid(i, 3) == QStringLiteral("://"))
                        continue;
                    const QChar before = value.at(i - 1);
                    if (c == u'?' && before == u'?')
                        continue;
                    EXPECT_TRUE(before == QChar(0x00A0) || before == QChar(0x202F) || before == u' ')
                        << "no space before '" << QString(c).toStdString() << "' in " << pair.value;
                }
            }
        }
    }
}

// A Linux user is never told about a Mac, its keys, its Dock or its settings
// places, in English or in any table.
TEST(TranslationTables, NoShownTextNamesAMacThing)
{
    // Only the parts left out here would show these: the move into the
    // Applications folder and the login item's approval.
    const QSet<QString> leftOut = {
        QStringLiteral("macOS is waiting for your OK in System Settings, under Login Items."),
        QStringLiteral("I've moved into Applications. That's where I live now, and I'll open with your Mac."),
    };
    static const QRegularExpression mac(QString::fromUtf8(
        R"re(\bMac(\b|en\b|'|’)|macOS|Safari|\bDock\b|\bOption\b|Option-|System Settings|Software Update|)re"
        // The tables' own names for the Option key, System Settings and Software Update.
        R"re(Wahl-Leertaste|Opzione|Opción|Tilvalg|Alternativ-mellem|Alternativ-mellan|)re"
        R"re(Systemeinstellungen|Réglages Système|Ajustes del Sistema|Ajustes do Sistema|Impostazioni di Sistema|)re"
        R"re(Systeeminstellingen|Systemindstillinger|Systeminnstillinger|Systeminställningar|Sistem Ayarları|)re"
        R"re(Системн\w* настро|إعدادات النظام|הגדרות המערכת|)re"
        R"re(Softwareupdate|Softwareopdatering|Software-update|Mise à jour de logiciels|Aggiornamento Software|)re"
        R"re(Programvareoppdatering|Atualização de Software|Обновление ПО|Actualización de software|)re"
        R"re(Programuppdatering|Yazılım Güncelleme|تحديث البرامج|עדכון התוכנה)re"),
        QRegularExpression::UseUnicodePropertiesOption);
    ASSERT_TRUE(mac.isValid());
    int checked = 0;
    for (const char *key : kKeys) {
        if (leftOut.contains(s(key)))
            continue;
        EXPECT_FALSE(s(key).contains(mac)) << key;
        ++checked;
    }
    for (const auto &table : kTables) {
        SCOPED_TRACE(table.name);
        for (const StringPair &pair : *table.list) {
            if (!pair.key)
                break;
            if (leftOut.contains(s(pair.key)))
                continue;
            EXPECT_FALSE(s(pair.value).contains(mac)) << pair.key << " -> " << pair.value;
            ++checked;
        }
    }
    EXPECT_EQ(checked, int(14 * (StringLists::keyCount - leftOut.size())));
    // The pattern itself finds what it must.
    for (const char *shown : {"Option-Space opens it.", "this Mac", "Macen sover", "Mac'te", "ستُصغَّر إلى Dock",
                              "Systemeinstellungen", "в Системных настройках"})
        EXPECT_TRUE(s(shown).contains(mac)) << shown;
    for (const char *fine : {"Optional. Separate with spaces.", "Alt+Space", "Machine", "Dockerfile"})
        EXPECT_FALSE(s(fine).contains(mac)) << fine;
}

TEST(TranslationTables, SampleRowsStandAsGiven)
{
    std::vector<Sample> samples(std::begin(kSamples), std::end(kSamples));
    samples.insert(samples.end(), std::begin(kCommandWords), std::end(kCommandWords));
    for (const Sample &sample : samples) {
        const Named *table = nullptr;
        for (const auto &t : kTables) {
            if (qstrcmp(t.name, sample.table) == 0)
                table = &t;
        }
        ASSERT_NE(table, nullptr) << sample.table;
        const auto *built = Strings::table(table->language);
        ASSERT_TRUE(built->contains(s(sample.key))) << sample.key;
        EXPECT_EQ(built->value(s(sample.key)).toUtf8().toStdString(), std::string(sample.value))
            << sample.table << ": " << sample.key;
    }
}

// The order of a sentence's values is the key's, and nothing in a table shows
// it kept: every sentence carrying more than one value stands as a sample row
// in every table, so two of its numbers trading places is seen.
TEST(TranslationTables, EverySentenceWithSeveralValuesIsASampleRowInEveryTable)
{
    static const QRegularExpression placeholder(QStringLiteral("%[d@]"));
    int sentences = 0;
    for (const char *key : kKeys) {
        if (s(key).count(placeholder) < 2)
            continue;
        ++sentences;
        for (const auto &table : kTables) {
            const bool sampled = std::any_of(std::begin(kSamples), std::end(kSamples), [&](const Sample &sample) {
                return qstrcmp(sample.table, table.name) == 0 && qstrcmp(sample.key, key) == 0;
            });
            EXPECT_TRUE(sampled) << table.name << ": " << key;
        }
    }
    EXPECT_EQ(sentences, 5) << "Uploading %d of %d…, Found %d: %@…, %d minutes of focus done. Take %d minutes., "
                               "Remove picture %d of %d, Remove video %d of %d";
}

TEST(TranslationTables, NoTableHoldsAnotherLanguagesText)
{
    // Neighbouring languages share some words, never most of their sentences.
    for (const auto &a : kTables) {
        for (const auto &b : kTables) {
            if (&a >= &b)
                continue;
            int shared = 0, compared = 0;
            for (size_t i = 0; i < a.list->size() && i < b.list->size(); ++i) {
                const QString key = s((*a.list)[i].key);
                if (key.size() < 20)
                    continue; // short labels and names may well agree
                ++compared;
                const QString va = s((*a.list)[i].value), vb = s((*b.list)[i].value);
                shared += va == vb && va != key;
            }
            EXPECT_LT(shared * 10, compared) << a.name << " and " << b.name << " share " << shared << " of " << compared;
        }
    }
}

// One row copied from another table is as wrong as a whole table: a sentence
// stands word for word in two tables only where Norwegian and Danish agree, and
// of those two, so close to each other, a label too.
TEST(TranslationTables, NoRowHoldsAnotherTablesSentence)
{
    const QSet<QString> norwegianAsDanish = {
        "Listening.", "Scheduled for %@.", "Scheduled.", "Assistant", "Profile", "Focus", "Break", "Preparing…",
        "%@ is over 300 MB.", "Conversations", "New conversation", "Conversation", "Empty", "Composer", "Media",
        "Remove", "%d items", "Later", "I decide", "Account", "Yes", "Trial Reel", "Prepare another", "Scheduled",
        "Go to Profile", "Show", "Prepare %@", "Today", "Planned for", "Remove media", "Name", "Theme", "Light", "Dark",
        "New account", "Discuss", "Calm", "Lively", "Drawn", "%d minutes", "The cat is hungry", "How are you?",
        "Start focus (%d min)",
        "Handing over to Instagram…",
        "The audio name is over 100 characters.",
        "%@ is not a JPEG, PNG, HEIC, MP4 or MOV file.",
        "%@ could not be converted to MP4.",
        "Write to the assistant…",
        "Show the cat on the desktop",
        "Walk on other windows",
        "I already have an account",
        "How the cat is doing",
        "That's a meal. Purr.",
        ZEPHYL_SERVICE_DOMAIN " can't be reached",
    };
    for (const auto &a : kTables) {
        for (const auto &b : kTables) {
            if (&a >= &b)
                continue;
            const bool neighbours = qstrcmp(a.name, "norwegian") == 0 && qstrcmp(b.name, "danish") == 0;
            for (size_t i = 0; i < a.list->size() && i < b.list->size(); ++i) {
                const QString key = s((*a.list)[i].key);
                const QString va = s((*a.list)[i].value), vb = s((*b.list)[i].value);
                if ((key.size() < 20 && !neighbours) || va != vb || va == key)
                    continue; // short labels and names may well agree
                EXPECT_TRUE(neighbours && norwegianAsDanish.contains(key))
                    << a.name << " and " << b.name << " both read \"" << va.toStdString() << "\"";
            }
        }
    }
}

// Each row is written in its table's language: not left in English (its own
// key, another key, or English words in a sentence), in no other script or
// alphabet, and Norwegian and Danish, so close to each other, each in its own
// spelling.
TEST(TranslationTables, EveryRowIsWrittenInItsTablesLanguage)
{
    // The rows a language writes as English does: names of things and shared words.
    const QHash<QString, QSet<QString>> sameAsKey = {
        {"danish", {"Send", "Plan", "Browser", "Cover", "Format", "Hashtags", "Start", "System", "Offline", "Version",
                    "OK", "Temperament", "%d min"}},
        {"dutch", {"Post", "Focus", "Browser", "Media", "Hashtags", "Later", "Account", "Scan", "Start", "Offline", "OK",
                   "Temperament", "Open in Zephyl", "Open Zephyl", "Start focus (%d min)", "%d min", "Open %@"}},
        {"french", {"Assistant", "Post", "Conversations", "Conversation", "Format", "Hashtags", "Confirmation",
                    "Version", "OK", "%d min"}},
        {"german", {"Plan", "Browser", "Format", "Hashtags", "Name", "System", "Offline", "Version", "OK",
                    "Temperament", "Hashtags, optional"}},
        {"italian", {"Post", "Browser", "Media", "Account", "No", "Offline", "Email", "Password", "OK", "%d min"}},
        {"norwegian", {"Send", "Plan", "Format", "Start", "System", "OK", "Temperament", "%d min"}},
        {"portuguese", {"Post", "Hashtags", "Offline", "OK", "%d min"}},
        {"spanish", {"Plan", "Post", "Hashtags", "No", "OK", "%d min"}},
        {"swedish", {"Plan", "Media", "Format", "System", "Offline", "Version", "OK", "Temperament", "%d min"}},
        {"turkish", {"Plan"}},
    };
    // Words no other of these languages writes; names are taken out first.
    static const QRegularExpression english(QStringLiteral(
        R"re(\b(the|and|your|you|with|this|could|would|been|has|what|when|which|should|from|into|while|there|are|)re"
        R"re(again|try|not|yet|only|nothing|something|every|our|don't|can't|I'll|I'm|it's|that)\b)re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    // Danish spellings in Norwegian text and Norwegian ones in Danish text.
    static const QRegularExpression danish(QString::fromUtf8(
        R"re((?<!\w)(af|efter|nu|hvornår|mig|dig|sig|hvad|bliver|blev|igen|meget|noget|nogle|endnu|måske|tilbage|ud|op|)re"
        R"re(hjælp|billede|billeder|fejl|uge|kat|vælg|gem|gemt|gemmes|åbn|åbnes|åben|sådan|spørg|tjek|lige)(?!\w))re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression norwegian(QString::fromUtf8(
        R"re((?<!\w)(av|etter|nå|meg|deg|seg|hva|blir|ble|igjen|mye|noe|noen|ennå|kanskje|tilbake|ut|opp|hjelp|)re"
        R"re(bilde|bilder|feil|uke|katt|velg|lagre|lagres|åpne|åpnes|åpen|slik|sjekk)(?!\w))re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    // Letters beyond A to Z that each Latin-script language writes.
    const QHash<QString, QString> alphabet = {
        {"german", "äöüßÄÖÜ"},
        {"french", "àâæçéèêëîïôœùûüÿÀÂÆÇÉÈÊËÎÏÔŒÙÛÜŸ"},
        {"spanish", "áéíóúüñÁÉÍÓÚÜÑ"},
        {"portuguese", "áâãàçéêíóôõúÁÂÃÀÇÉÊÍÓÔÕÚ"},
        {"italian", "àèéìíîòóùúÀÈÉÌÍÎÒÓÙÚ"},
        {"turkish", "çğıöşüâîûÇĞİÖŞÜÂÎÛ"},
        {"norwegian", "æøåéÆØÅÉ"},
        {"swedish", "åäöéÅÄÖÉ"},
        {"danish", "æøåéÆØÅÉ"},
        {"dutch", "ëéèïöüáóúíËÉÈÏÖÜÁÓ"},
    };
    QSet<QString> keys;
    for (const char *k : kKeys)
        keys.insert(s(k));
    for (const auto &table : kTables) {
        SCOPED_TRACE(table.name);
        const QString name = QString::fromLatin1(table.name);
        const bool latin = alphabet.contains(name);
        for (const StringPair &pair : *table.list) {
            if (!pair.key)
                break;
            const QString key = s(pair.key), value = s(pair.value);
            if (value == key) {
                EXPECT_TRUE(sameAsKey.value(name).contains(key)) << "left in English: " << pair.key;
            } else if (keys.contains(value)) {
                // Another row's English sentence; single words ("Pause") are shared.
                EXPECT_LT(value.count(u' '), 2) << "English: " << pair.key << " -> " << pair.value;
            }
            QString words = value;
            for (const QString &kept : kProtected)
                words.remove(kept);
            EXPECT_FALSE(words.contains(english)) << "English in " << pair.value;
            if (table.language == AppLanguage::nb) {
                EXPECT_FALSE(words.contains(danish)) << "Danish in " << pair.value;
            }
            if (table.language == AppLanguage::da) {
                EXPECT_FALSE(words.contains(norwegian)) << "Norwegian in " << pair.value;
            }
            for (const QChar c : words) {
                if (!c.isLetter() || c.unicode() < 0x80)
                    continue;
                const QChar::Script script = c.script();
                if (latin) {
                    EXPECT_TRUE(alphabet.value(name).contains(c))
                        << "'" << QString(c).toStdString() << "' is not of this alphabet: " << pair.value;
                } else {
                    const QChar::Script own = table.language == AppLanguage::ru   ? QChar::Script_Cyrillic
                                              : table.language == AppLanguage::ar ? QChar::Script_Arabic
                                                                                  : QChar::Script_Hebrew;
                    EXPECT_TRUE(script == own || script == QChar::Script_Latin || script == QChar::Script_Common ||
                                script == QChar::Script_Inherited)
                        << "another script in " << pair.value;
                }
            }
        }
    }
    // The rules find what they must.
    EXPECT_TRUE(QStringLiteral("Impossibile. Try again in a moment.").contains(english));
    EXPECT_TRUE(QString::fromUtf8("Prøv igen om lidt.").contains(danish));
    EXPECT_TRUE(QString::fromUtf8("Velg et bilde").contains(norwegian));
    EXPECT_TRUE(QString::fromUtf8("Hvornår").contains(danish));
    EXPECT_FALSE(QString::fromUtf8("Prøv igjen om litt.").contains(danish));
    EXPECT_FALSE(QString::fromUtf8("Prøv igen om lidt.").contains(norwegian));
}

TEST(TranslationTables, BuiltOnceWhenAskedFromSeveralThreads)
{
    std::vector<const QHash<QString, QString> *> seen(8);
    std::vector<QThread *> threads;
    for (int i = 0; i < 8; ++i)
        threads.push_back(QThread::create([&seen, i] { seen[i] = Strings::table(AppLanguage::nl); }));
    for (auto *t : threads)
        t->start();
    for (auto *t : threads) {
        t->wait();
        delete t;
    }
    for (const auto *table : seen)
        EXPECT_EQ(table, seen.front());
}

// Every literal the code hands to the lookup must be a key, or that text would
// silently stay English in every language.
TEST(TranslationTables, EveryLookedUpLiteralInTheSourceIsAKey)
{
    QSet<QString> keys;
    for (const char *k : kKeys)
        keys.insert(s(k));
    static const QRegularExpression call(
        QStringLiteral(R"re(L10n::tf?\(\s*((?:(?:QStringLiteral\()?"(?:[^"\\]|\\.)*"\)?\s*|ZEPHYL_SERVICE_DOMAIN\s*)+)[,)])re"));
    static const QRegularExpression piece(QStringLiteral(R"re("((?:[^"\\]|\\.)*)"|ZEPHYL_SERVICE_DOMAIN)re"));
    int calls = 0;
    QStringList unknown;
    QDirIterator it(QStringLiteral(ZK_SOURCE_DIR "/src"), {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(QStringLiteral("/design/strings/")))
            continue;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (auto m = call.globalMatch(text); m.hasNext();) {
            const QString args = m.next().captured(1);
            QString literal;
            for (auto p = piece.globalMatch(args); p.hasNext();) {
                const auto part = p.next();
                literal += part.captured(0) == QStringLiteral("ZEPHYL_SERVICE_DOMAIN")
                               ? QStringLiteral(ZEPHYL_SERVICE_DOMAIN)
                               : part.captured(1).replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(
                                     QStringLiteral("\\\\"), QStringLiteral("\\"));
            }
            ++calls;
            if (!keys.contains(literal))
                unknown << path.section(QLatin1Char('/'), -2) + QStringLiteral(": ") + literal;
        }
    }
    EXPECT_GT(calls, 0);
    EXPECT_TRUE(unknown.isEmpty()) << unknown.join(QLatin1Char('\n')).toStdString();
}
