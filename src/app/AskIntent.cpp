#include "app/AskIntent.h"

#include "base/Phrases.h"

#include <QRegularExpression>

#include <algorithm>

// Some lists hold a phrase twice (a language shares it with another); the order
// is kept as it is, as the first hit decides.
const std::array<QString, 43> AskIntent::stopWords = {
    QStringLiteral("stop focus"), QStringLiteral("end focus"), QStringLiteral("stop the timer"),
    QStringLiteral("закончи фокус"), QStringLiteral("стоп фокус"), QStringLiteral("останови таймер"),
    QStringLiteral("хватит фокус"), QStringLiteral("заверши сессию"), QStringLiteral("termina el foco"),
    QStringLiteral("para el temporizador"), QStringLiteral("detén el temporizador"), QStringLiteral("fokus beenden"),
    QStringLiteral("timer stoppen"), QStringLiteral("beende den fokus"), QStringLiteral("arrête le focus"),
    QStringLiteral("arrête le minuteur"), QStringLiteral("termine la session"), QStringLiteral("parar o foco"),
    QStringLiteral("encerrar o foco"), QStringLiteral("pare o temporizador"), QStringLiteral("ferma il timer"),
    QStringLiteral("termina la concentrazione"), QStringLiteral("ferma la concentrazione"), QStringLiteral("odağı bitir"),
    QStringLiteral("zamanlayıcıyı durdur"), QStringLiteral("odaklanmayı bitir"), QStringLiteral("أوقف المؤقت"),
    QStringLiteral("أنهِ التركيز"), QStringLiteral("أنه التركيز"), QStringLiteral("עצור את הטיימר"),
    QStringLiteral("סיים ריכוז"), QStringLiteral("תסיים את הריכוז"), QStringLiteral("stopp fokus"),
    QStringLiteral("stopp timeren"), QStringLiteral("avslutt fokus"), QStringLiteral("avsluta fokus"),
    QStringLiteral("stoppa timern"), QStringLiteral("stop fokus"), QStringLiteral("stop timeren"),
    QStringLiteral("afslut fokus"), QStringLiteral("stop focus"), QStringLiteral("stop de timer"),
    QStringLiteral("beëindig de focus"),
};

const std::array<QString, 43> AskIntent::tuckWords = {
    QStringLiteral("hide instagram"), QStringLiteral("close instagram"), QStringLiteral("hide the feed"),
    QStringLiteral("tuck"), QStringLiteral("distract"), QStringLiteral("убери инстаграм"),
    QStringLiteral("закрой инстаграм"), QStringLiteral("убери ленту"), QStringLiteral("спрячь"),
    QStringLiteral("отвлека"), QStringLiteral("закрой рилс"), QStringLiteral("убери рилс"),
    QStringLiteral("oculta instagram"), QStringLiteral("esconde instagram"), QStringLiteral("distrae"),
    QStringLiteral("blende instagram aus"), QStringLiteral("versteck instagram"), QStringLiteral("ablenk"),
    QStringLiteral("cache instagram"), QStringLiteral("distrai"), QStringLiteral("distrac"),
    QStringLiteral("esconde o instagram"), QStringLiteral("oculta o instagram"), QStringLiteral("distraç"),
    QStringLiteral("nascondi instagram"), QStringLiteral("distrazion"), QStringLiteral("mi distrae"),
    QStringLiteral("instagram'ı gizle"), QStringLiteral("instagramı gizle"), QStringLiteral("dikkatimi dağıt"),
    QStringLiteral("أخفِ إنستغرام"), QStringLiteral("اخف انستغرام"), QStringLiteral("يشتتني"),
    QStringLiteral("הסתר את אינסטגרם"), QStringLiteral("מסיח את דעתי"), QStringLiteral("skjul instagram"),
    QStringLiteral("distraher"), QStringLiteral("göm instagram"), QStringLiteral("distraherar"),
    QStringLiteral("skjul instagram"), QStringLiteral("distraherer"), QStringLiteral("verberg instagram"),
    QStringLiteral("leidt me af"),
};

const std::array<QString, 32> AskIntent::focusWords = {
    QStringLiteral("focus"), QStringLiteral("pomodoro"), QStringLiteral("concentrate"), QStringLiteral("timer"),
    QStringLiteral("фокус"), QStringLiteral("сосредоточ"), QStringLiteral("сфокусир"), QStringLiteral("помодор"),
    QStringLiteral("таймер"), QStringLiteral("сконцентрир"), QStringLiteral("concentr"), QStringLiteral("enfoc"),
    QStringLiteral("foco"), QStringLiteral("focar"), QStringLiteral("temporizador"), QStringLiteral("fokus"),
    QStringLiteral("konzentr"), QStringLiteral("minuteur"), QStringLiteral("odak"), QStringLiteral("konsantr"),
    QStringLiteral("zamanlayıcı"), QStringLiteral("تركيز"), QStringLiteral("ركز"), QStringLiteral("ركّز"),
    QStringLiteral("مؤقت"), QStringLiteral("ריכוז"), QStringLiteral("תרכז"), QStringLiteral("פוקוס"),
    QStringLiteral("טיימר"), QStringLiteral("konsentr"), QStringLiteral("koncentr"), QStringLiteral("tidtaker"),
};

// "lets ", "run ", "set " and "pon " end with a space so that they match words, not stems.
const std::array<QString, 74> AskIntent::askingWords = {
    QStringLiteral("start"), QStringLiteral("begin"), QStringLiteral("let's"), QStringLiteral("lets "),
    QStringLiteral("help me"), QStringLiteral("please"), QStringLiteral("run "), QStringLiteral("set "),
    QStringLiteral("запусти"), QStringLiteral("начни"), QStringLiteral("давай"), QStringLiteral("включи"),
    QStringLiteral("поставь"), QStringLiteral("помоги"), QStringLiteral("пожалуйста"), QStringLiteral("empieza"),
    QStringLiteral("empecemos"), QStringLiteral("inicia"), QStringLiteral("vamos"), QStringLiteral("pon "),
    QStringLiteral("ayúdame"), QStringLiteral("por favor"), QStringLiteral("starte"), QStringLiteral("lass uns"),
    QStringLiteral("beginne"), QStringLiteral("hilf mir"), QStringLiteral("bitte"), QStringLiteral("lance"),
    QStringLiteral("commence"), QStringLiteral("démarre"), QStringLiteral("on se"), QStringLiteral("aide-moi"),
    QStringLiteral("s'il te plaît"), QStringLiteral("comece"), QStringLiteral("começa"), QStringLiteral("vamos"),
    QStringLiteral("me ajuda"), QStringLiteral("por favor"), QStringLiteral("avvia"), QStringLiteral("inizia"),
    QStringLiteral("facciamo"), QStringLiteral("aiutami"), QStringLiteral("per favore"), QStringLiteral("başlat"),
    QStringLiteral("hadi"), QStringLiteral("başla"), QStringLiteral("yardım et"), QStringLiteral("lütfen"),
    QStringLiteral("ابدأ"), QStringLiteral("لنبدأ"), QStringLiteral("شغّل"), QStringLiteral("شغل"),
    QStringLiteral("ساعدني"), QStringLiteral("من فضلك"), QStringLiteral("תתחיל"), QStringLiteral("תפעיל"),
    QStringLiteral("בוא נ"), QStringLiteral("בואי נ"), QStringLiteral("עזור לי"), QStringLiteral("בבקשה"),
    QStringLiteral("la oss"), QStringLiteral("begynn"), QStringLiteral("hjelp meg"), QStringLiteral("starta"),
    QStringLiteral("låt oss"), QStringLiteral("börja"), QStringLiteral("hjälp mig"), QStringLiteral("lad os"),
    QStringLiteral("begynd"), QStringLiteral("hjælp mig"), QStringLiteral("laten we"), QStringLiteral("begin"),
    QStringLiteral("help me"), QStringLiteral("alsjeblieft"),
};

const std::array<QString, 6> AskIntent::planWords = {
    QStringLiteral("open plan"), QStringLiteral("show plan"), QStringLiteral("open the plan"),
    QStringLiteral("show me the plan"), QStringLiteral("открой план"), QStringLiteral("покажи план"),
};

const std::array<QString, 4> AskIntent::gridWords = {
    QStringLiteral("open grid"), QStringLiteral("show grid"), QStringLiteral("открой сетку"),
    QStringLiteral("покажи сетку"),
};

const std::array<QString, 6> AskIntent::profileWords = {
    QStringLiteral("open profile"), QStringLiteral("open settings"), QStringLiteral("открой профиль"),
    QStringLiteral("открой настройки"), QStringLiteral("подключи инстаграм"), QStringLiteral("connect instagram"),
};

const std::array<QString, 7> AskIntent::composeWords = {
    QStringLiteral("new post"), QStringLiteral("new reel"), QStringLiteral("compose"), QStringLiteral("новый пост"),
    QStringLiteral("новый рилс"), QStringLiteral("опубликуй"), QStringLiteral("запости"),
};

namespace {

// Calls `f` with each code point of the text (an unpaired surrogate as itself).
template <typename F>
void forEachCodePoint(QStringView text, F f)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        f(c);
    }
}


// Pieces left after splitting at every white-space or punctuation character.
int wordCount(const QString &text)
{
    int words = 0;
    bool inWord = false;
    forEachCodePoint(text, [&](char32_t c) {
        const bool separator = QChar::isSpace(c) || QChar::isPunct(c);
        if (!separator && !inWord)
            ++words;
        inWord = !separator;
    });
    return words;
}

} // namespace

std::optional<int> AskIntent::minutes(const QString &text)
{
    // The whole run of digits: "1000 min" is a thousand minutes (clamped), not
    // "000 min". The run takes digits of every script, so "٣5 min" is not read as
    // "5 min"; but only 0-9 are read as numbers, and a run holding any other digit
    // gives no duration (the asking words and the word count then decide).
    static const QRegularExpression pattern(
        QStringLiteral("(?<!\\d)(\\d+)\\s*(min|minute|минут|мин|dakika|dk|دقيقة|دقائق|דקות|דק׳)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    int value = 0;
    for (const QChar c : match.capturedView(1)) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min(value * 10 + (c.unicode() - u'0'), 1000); // anything past 180 is 180
    }
    return std::clamp(value, 1, 180);
}

std::optional<AskIntent> AskIntent::detect(const QString &text)
{
    const QString lower = Phrases::folded(text);
    if (lower.contains(QLatin1Char('?')) || lower.contains(QChar(0x061F)))
        return std::nullopt;
    if (Phrases::containsAny(lower, stopWords))
        return stopFocus();
    if (Phrases::containsAny(lower, tuckWords))
        return tuckAway();
    if (Phrases::containsAny(lower, focusWords)) {
        if (const auto n = minutes(lower))
            return startFocus(*n);
        if (Phrases::containsAny(lower, askingWords) || wordCount(lower) < 4)
            return startFocus(25);
        // A longer sentence that only mentions focus is not a command.
    }
    if (Phrases::containsAny(lower, planWords))
        return openSurface(Surface::plan);
    if (Phrases::containsAny(lower, gridWords))
        return openSurface(Surface::grid);
    if (Phrases::containsAny(lower, profileWords))
        return openSurface(Surface::profile);
    if (Phrases::containsAny(lower, composeWords))
        return compose();
    return std::nullopt;
}
