#include "AnimatedWebP.h"

#include <QBuffer>
#include <QImageWriter>

namespace {

void put24(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
    out.append(char((v >> 16) & 0xff));
}

void put32(QByteArray &out, quint32 v)
{
    put24(out, v);
    out.append(char((v >> 24) & 0xff));
}

quint32 get32(const QByteArray &in, qsizetype at)
{
    const auto *b = reinterpret_cast<const uchar *>(in.constData() + at);
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

void chunk(QByteArray &out, const char *fourcc, const QByteArray &payload)
{
    out.append(fourcc, 4);
    put32(out, quint32(payload.size()));
    out.append(payload);
    if (payload.size() % 2)
        out.append('\0');
}

// The image chunks of a still WebP file: ALPH and VP8, or VP8L.
QByteArray frameChunks(const QImage &image, int quality)
{
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "webp");
    writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WEBP")
        return {};
    QByteArray chunks;
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const QByteArray fourcc = file.mid(at, 4);
        const quint32 size = get32(file, at + 4);
        const qsizetype padded = 8 + qsizetype(size) + (size % 2);
        if (at + padded > file.size())
            return {};
        if (fourcc == "ALPH" || fourcc == "VP8 " || fourcc == "VP8L")
            chunks.append(file.mid(at, padded));
        at += padded;
    }
    return chunks;
}

} // namespace

QByteArray AnimatedWebP::encode(const QList<Frame> &frames, int quality)
{
    if (frames.isEmpty())
        return {};
    const QSize size = frames.front().image.size();
    if (size.isEmpty())
        return {};
    QByteArray body = "WEBP";
    QByteArray vp8x;
    vp8x.append(char(0x10 | 0x02)); // alpha, animation
    vp8x.append(3, '\0');
    put24(vp8x, quint32(size.width() - 1));
    put24(vp8x, quint32(size.height() - 1));
    chunk(body, "VP8X", vp8x);
    QByteArray anim;
    put32(anim, 0); // background: transparent
    anim.append(2, '\0'); // loop for ever
    chunk(body, "ANIM", anim);
    for (const Frame &frame : frames) {
        if (frame.image.size() != size)
            return {};
        const QByteArray image = frameChunks(frame.image.convertToFormat(QImage::Format_ARGB32), quality);
        if (image.isEmpty())
            return {};
        QByteArray anmf;
        put24(anmf, 0); // x / 2
        put24(anmf, 0); // y / 2
        put24(anmf, quint32(size.width() - 1));
        put24(anmf, quint32(size.height() - 1));
        put24(anmf, quint32(std::clamp(frame.durationMs, 1, 0xffffff)));
        anmf.append(char(0x02)); // replace the canvas, no blending; keep it
        anmf.append(image);
        chunk(body, "ANMF", anmf);
    }
    QByteArray file = "RIFF";
    put32(file, quint32(body.size()));
    file.append(body);
    return file;
}
