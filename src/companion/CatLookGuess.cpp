#include "companion/CatLookGuess.h"

#include "base/Phrases.h"

namespace CatLooks {

// Stems are deliberate ("ошибк", "publicad"): a substring covers the inflections.
const std::array<QString, 60> failurePhrases = {
    // Russian
    QStringLiteral("не удалось"), QStringLiteral("не получилось"), QStringLiteral("не вышло"), QStringLiteral("не могу"),
    QStringLiteral("не смог"), QStringLiteral("ошибк"), QStringLiteral("к сожалению"), QStringLiteral("увы"),
    // English
    QStringLiteral("sorry"), QStringLiteral("couldn't"), QStringLiteral("could not"), QStringLiteral("can't"),
    QStringLiteral("cannot"), QStringLiteral("failed"), QStringLiteral("error"), QStringLiteral("unfortunately"),
    // Spanish
    QStringLiteral("lo siento"), QStringLiteral("no pude"), QStringLiteral("no puedo"), QStringLiteral("no se pudo"),
    QStringLiteral("por desgracia"),
    // German
    QStringLiteral("leider"), QStringLiteral("konnte nicht"), QStringLiteral("tut mir leid"), QStringLiteral("fehler"),
    // French
    QStringLiteral("désolé"), QStringLiteral("je n'ai pas pu"), QStringLiteral("impossible"), QStringLiteral("erreur"),
    QStringLiteral("malheureusement"),
    // Portuguese
    QStringLiteral("desculpe"), QStringLiteral("não consegui"), QStringLiteral("não foi possível"),
    QStringLiteral("infelizmente"),
    // Italian
    QStringLiteral("mi dispiace"), QStringLiteral("non sono riuscit"), QStringLiteral("purtroppo"), QStringLiteral("errore"),
    // Turkish
    QStringLiteral("üzgünüm"), QStringLiteral("yapamadım"), QStringLiteral("maalesef"),
    // Arabic
    QStringLiteral("آسف"), QStringLiteral("للأسف"), QStringLiteral("لم أستطع"), QStringLiteral("تعذر"),
    // Hebrew
    QStringLiteral("מצטער"), QStringLiteral("לצערי"), QStringLiteral("לא הצלחתי"), QStringLiteral("שגיאה"),
    // Norwegian
    QStringLiteral("beklager"), QStringLiteral("klarte ikke"), QStringLiteral("dessverre"),
    // Swedish
    QStringLiteral("tyvärr"), QStringLiteral("förlåt"), QStringLiteral("kunde inte"),
    // Danish
    QStringLiteral("desværre"), QStringLiteral("kunne ikke"),
    // Dutch
    QStringLiteral("helaas"), QStringLiteral("lukte niet"), QStringLiteral("kon niet"),
};

const std::array<QString, 63> successPhrases = {
    // Russian
    QStringLiteral("готово"), QStringLiteral("сделано"), QStringLiteral("сделал"), QStringLiteral("опубликовал"),
    QStringLiteral("опубликован"), QStringLiteral("запланировал"), QStringLiteral("запланирован"),
    QStringLiteral("отлично"), QStringLiteral("здорово"), QStringLiteral("поздравляю"),
    // English
    QStringLiteral("done"), QStringLiteral("published"), QStringLiteral("scheduled"), QStringLiteral("great"),
    QStringLiteral("nice work"), QStringLiteral("congrat"),
    // Spanish
    QStringLiteral("listo"), QStringLiteral("hecho"), QStringLiteral("publicad"), QStringLiteral("programad"),
    QStringLiteral("genial"),
    // German
    QStringLiteral("erledigt"), QStringLiteral("veröffentlicht"), QStringLiteral("geplant"), QStringLiteral("glückwunsch"),
    // French
    QStringLiteral("c'est fait"), QStringLiteral("publié"), QStringLiteral("programmé"), QStringLiteral("bravo"),
    QStringLiteral("félicitations"),
    // Portuguese
    QStringLiteral("pronto"), QStringLiteral("agendad"), QStringLiteral("ótimo"), QStringLiteral("parabéns"),
    // Italian
    QStringLiteral("fatto"), QStringLiteral("pubblicat"), QStringLiteral("programmat"), QStringLiteral("ottimo"),
    QStringLiteral("complimenti"),
    // Turkish
    QStringLiteral("tamamdır"), QStringLiteral("yayınland"), QStringLiteral("planland"), QStringLiteral("harika"),
    QStringLiteral("tebrik"),
    // Arabic
    QStringLiteral("نُشر"), QStringLiteral("رائع"), QStringLiteral("مبروك"),
    // Hebrew
    QStringLiteral("פורסם"), QStringLiteral("מעולה"), QStringLiteral("כל הכבוד"),
    // Norwegian
    QStringLiteral("publisert"), QStringLiteral("planlagt"), QStringLiteral("flott"), QStringLiteral("gratulerer"),
    // Swedish
    QStringLiteral("publicerat"), QStringLiteral("schemalagt"), QStringLiteral("toppen"), QStringLiteral("grattis"),
    // Danish
    QStringLiteral("udgivet"), QStringLiteral("tillykke"),
    // Dutch
    QStringLiteral("gepubliceerd"), QStringLiteral("ingepland"), QStringLiteral("gefeliciteerd"),
};

CatLook guess(const QString &reply)
{
    const QString lower = Phrases::folded(reply);
    if (Phrases::containsAny(lower, failurePhrases))
        return CatLook::concerned;
    if (Phrases::containsAny(lower, successPhrases))
        return CatLook::happy;
    // Only the ASCII question mark counts.
    const QString trimmed = reply.trimmed();
    if (trimmed.endsWith(QLatin1Char('?')) || trimmed.endsWith(QLatin1String("?)")))
        return CatLook::curious;
    return CatLook::neutral;
}

} // namespace CatLooks
