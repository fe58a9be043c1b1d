#include "design/Strings.h"

#include "design/StringLists.h"

#include <QtGlobal>

namespace {
QHash<QString, QString> build(const StringLists::List &list)
{
    QHash<QString, QString> table;
    table.reserve(qsizetype(list.size()));
    for (const StringPair &pair : list) {
        if (!pair.key)
            continue;
        const QString key = QString::fromUtf8(pair.key);
        Q_ASSERT_X(!table.contains(key), "Strings", "duplicate translation key");
        table.insert(key, QString::fromUtf8(pair.value));
    }
    return table;
}

// Function-local statics: built once, thread-safely, only for languages in use.
template <const StringLists::List &list>
const QHash<QString, QString> *tableOf()
{
    static const QHash<QString, QString> table = build(list);
    return &table;
}
} // namespace

const QHash<QString, QString> *Strings::table(AppLanguage language)
{
    switch (language) {
    case AppLanguage::system:
    case AppLanguage::en:
        return nullptr;
    case AppLanguage::ru: return tableOf<StringLists::russian>();
    case AppLanguage::es: return tableOf<StringLists::spanish>();
    case AppLanguage::de: return tableOf<StringLists::german>();
    case AppLanguage::fr: return tableOf<StringLists::french>();
    case AppLanguage::pt: return tableOf<StringLists::portuguese>();
    case AppLanguage::it: return tableOf<StringLists::italian>();
    case AppLanguage::tr: return tableOf<StringLists::turkish>();
    case AppLanguage::ar: return tableOf<StringLists::arabic>();
    case AppLanguage::he: return tableOf<StringLists::hebrew>();
    case AppLanguage::nb: return tableOf<StringLists::norwegian>();
    case AppLanguage::sv: return tableOf<StringLists::swedish>();
    case AppLanguage::da: return tableOf<StringLists::danish>();
    case AppLanguage::nl: return tableOf<StringLists::dutch>();
    }
    return nullptr;
}
