#pragma once

#include "services/media/MediaImporter.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace mediatest {

// Each case gets a folder for its fixtures and one for the importer's
// temporary files, which must be empty again when the case ends.
class ImportTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString write(const QString &name, const QByteArray &bytes) const;
    QString writeImage(const QString &name, const QImage &image, const char *format, int quality = -1) const;
    // Runs the ffmpeg tool with `arguments`, then the output file name; the path made.
    QString clip(const QString &name, const QStringList &arguments) const;

    ImportedMedia imported(const QString &file);
    MediaImportError refused(const QString &file);
    QStringList leftovers() const;

    QTemporaryDir m_dir;
    QString m_temporary;
    MediaImporter::Limits limits;
};

QByteArray readFile(const QString &path);
QImage decoded(const QByteArray &bytes);
QImage noise(int width, int height, quint32 seed);
// A thumbnail's pixels as an image of its own.
QImage pictureOf(const MediaThumbnail &thumb);
bool isReddish(QRgb c);
bool isBluish(QRgb c);

} // namespace mediatest
