#include "workspace/ProfilePicture.h"

#include "design/AppearanceService.h"
#include "design/PaletteColors.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

ProfilePicture::ProfilePicture(int side, QWidget *parent) : QWidget(parent), m_side(side)
{
    setFixedSize(side, side);
    AppearanceService::repaintOnChange(this);
}

ProfilePicture::~ProfilePicture()
{
    if (m_reply)
        m_reply->abort();
}

std::optional<QUrl> ProfilePicture::address(const std::optional<QString> &text)
{
    if (!text || text->trimmed().isEmpty())
        return std::nullopt;
    const QUrl url(text->trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty())
        return std::nullopt;
    return url;
}

QImage ProfilePicture::decode(const QByteArray &bytes, QSize target)
{
    if (bytes.isEmpty() || bytes.size() > kMaxBytes)
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setAllocationLimit(kAllocationLimitMB);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxSide || size.height() > kMaxSide)
        return {};
    // Decoded straight to the size shown (covering it), where the format can;
    // never enlarged: the allocation limit counts the file's size, not the scaled
    // one, and a picture of 4000 x 1 covering a tile would need gigabytes.
    if (target.isValid() && (size.width() > target.width() || size.height() > target.height())) {
        const double scale =
            std::max(double(target.width()) / size.width(), double(target.height()) / size.height());
        if (scale < 1)
            reader.setScaledSize(QSize(std::max(1, int(std::ceil(size.width() * scale))),
                                       std::max(1, int(std::ceil(size.height() * scale)))));
    }
    QImage image = reader.read();
    return image;
}

void ProfilePicture::setAddress(const std::optional<QString> &text)
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    m_image = QImage();
    update();
    const auto url = address(text);
    if (!url) {
        settle();
        return;
    }
    m_settled = false;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(*url);
    // Redirects may not leave https.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(30000);
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    // A body larger than the limit is cut off as soon as it says so or shows it.
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > kMaxBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void ProfilePicture::finish(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300 &&
        reply->url().scheme() == QLatin1String("https")) {
        const QByteArray bytes = reply->read(kMaxBytes + 1);
        const qreal ratio = devicePixelRatioF();
        m_image = decode(bytes, QSize(int(m_side * ratio), int(m_side * ratio)));
    }
    update();
    settle();
}

void ProfilePicture::settle()
{
    m_settled = true;
    Q_EMIT settledChanged();
}

void ProfilePicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath circle;
    circle.addEllipse(QRectF(rect()));
    painter.setClipPath(circle);
    if (m_image.isNull()) {
        painter.fillRect(rect(), PaletteColors::color(ZephylPalette::Color::surfaceSoft));
        return;
    }
    // Fills the circle, keeping the picture's proportions.
    const QSizeF scaled = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatioByExpanding);
    const QRectF target((width() - scaled.width()) / 2, (height() - scaled.height()) / 2, scaled.width(),
                        scaled.height());
    painter.drawImage(target, m_image);
}
