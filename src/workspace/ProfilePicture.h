#pragma once

#include <QByteArray>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// The connected Instagram account's picture, drawn in a circle. The address
// comes from the service as text; it is fetched only over https, only up to a
// size, and decoded only within an allocation limit, so a hostile address or
// file costs a failed picture and nothing more. Until a picture arrives, and
// whenever one cannot be had, the circle is filled with the soft surface colour.
class ProfilePicture final : public QWidget {
    Q_OBJECT
public:
    // The most bytes fetched, and the largest picture decoded (either side).
    static constexpr qint64 kMaxBytes = 4 * 1024 * 1024;
    static constexpr int kMaxSide = 4096;
    // Megabytes the decoder may allocate.
    static constexpr int kAllocationLimitMB = 64;

    explicit ProfilePicture(int side, QWidget *parent = nullptr);
    ~ProfilePicture() override;

    // Starts over for a new address (none clears the picture).
    void setAddress(const std::optional<QString> &address);
    // The picture shown; null while the circle is empty.
    const QImage &image() const { return m_image; }
    // True once the current address has been fetched or refused.
    bool settled() const { return m_settled; }

    // The address to fetch: a valid https address with a host; none otherwise.
    static std::optional<QUrl> address(const std::optional<QString> &text);
    // The picture in `bytes`, scaled down to cover `target`; a null image when
    // it is not a picture, is larger than kMaxSide, or needs more memory than
    // the limit.
    static QImage decode(const QByteArray &bytes, QSize target);

Q_SIGNALS:
    void settledChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void finish(QNetworkReply *reply);
    void settle();

    int m_side;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QImage m_image;
    bool m_settled = true;
};
