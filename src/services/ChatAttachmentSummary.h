#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// An attachment of an assistant message, as the service stores it with its
// threads: all five keys are always present, and a kind other than the two
// known ones fails the decoding of the whole enclosing value.
struct ChatAttachmentSummary {
    enum class Kind { image, file };

    QString id;
    QString name;
    QString mimeType;
    Kind kind = Kind::file;
    qint64 size = 0;

    static QString rawValue(Kind kind);
    static std::optional<Kind> kindFromRaw(const QString &raw);

    // Throws ServiceDecodingError.
    static ChatAttachmentSummary fromJson(const QJsonValue &value);
    QJsonObject toJson() const;

    bool operator==(const ChatAttachmentSummary &) const = default;
};

size_t qHash(const ChatAttachmentSummary &a, size_t seed = 0);
