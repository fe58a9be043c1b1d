#include "shell/Appcast.h"

#include <QXmlStreamReader>

namespace Appcast {

namespace {
constexpr int kMaximumItems = 200;
constexpr qsizetype kMaximumText = 64 * 1024;

bool isSafeText(const QString &text, qsizetype limit)
{
    if (text.isEmpty() || text.size() > limit)
        return false;
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}
} // namespace

std::vector<AppcastItem> parse(const QByteArray &xml)
{
    std::vector<AppcastItem> items;
    if (xml.size() > kMaximumFeedBytes)
        return items;
    QXmlStreamReader reader(xml);
    const QString ns = QString::fromLatin1(kNamespace);
    std::optional<AppcastItem> item;
    bool usable = false;
    while (!reader.atEnd() && int(items.size()) < kMaximumItems) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = reader.name();
            if (name == u"item" && reader.namespaceUri().isEmpty()) {
                item.emplace();
                usable = true;
            } else if (!item) {
                continue;
            } else if (reader.namespaceUri() == ns && name == u"build") {
                item->versionString = reader.readElementText().trimmed();
            } else if (reader.namespaceUri() == ns && name == u"version") {
                item->displayVersionString = reader.readElementText().trimmed();
            } else if (name == u"description" && reader.namespaceUri().isEmpty()) {
                const QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements);
                item->itemDescription = text.left(kMaximumText);
            } else if (name == u"enclosure" && reader.namespaceUri().isEmpty()) {
                const auto attributes = reader.attributes();
                item->archiveURL = QUrl(attributes.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
                bool ok = false;
                item->archiveLength = attributes.value(QStringLiteral("length")).toLongLong(&ok);
                if (!ok)
                    item->archiveLength = 0;
                item->signature = QByteArray::fromBase64(attributes.value(ns, QStringLiteral("signature")).toLatin1(),
                                                         QByteArray::AbortOnBase64DecodingErrors);
            }
        } else if (token == QXmlStreamReader::EndElement && item && reader.name() == u"item" &&
                   reader.namespaceUri().isEmpty()) {
            const bool complete = usable && isSafeText(item->versionString, 64) &&
                                  isSafeText(item->displayVersionString, 64) && item->archiveURL.isValid() &&
                                  item->archiveURL.scheme() == QStringLiteral("https") && !item->archiveURL.host().isEmpty() &&
                                  item->archiveLength > 0 && item->signature.size() == 64;
            if (complete)
                items.push_back(std::move(*item));
            item.reset();
        }
    }
    if (reader.hasError() && reader.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        items.clear();
    return items;
}

int compareVersions(const QString &a, const QString &b)
{
    // One total order: the text is read as runs of ASCII digits, each one
    // number of any length, and single other characters (other scripts' digits
    // included). A number ranks against a character as the digit "0" would:
    // no other character sits among the ASCII digits, so this is the order of
    // plain text wherever a number meets a letter, and it stays transitive.
    auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool na = isDigit(a[i]), nb = isDigit(b[j]);
        if (na && nb) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            // As numbers of any length: leading zeros dropped, then length, then digits.
            QStringView x = QStringView(a).mid(i, ei - i), y = QStringView(b).mid(j, ej - j);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y); c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const char16_t x = na ? u'0' : a[i].unicode(), y = nb ? u'0' : b[j].unicode();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

std::optional<AppcastItem> newest(const std::vector<AppcastItem> &items, const QString &runningBuild)
{
    std::optional<AppcastItem> best;
    for (const auto &item : items) {
        if (compareVersions(item.versionString, runningBuild) <= 0)
            continue;
        if (!best || compareVersions(item.versionString, best->versionString) > 0)
            best = item;
    }
    return best;
}

} // namespace Appcast
