#pragma once

#include "companion/CompanionVariant.h"

#include <QList>
#include <QString>

#include <optional>

// The catalogue of cat looks. For now it knows the built-in drawn look only; the
// filmed looks of the bundle's Cats folder join it when their manifests are read.
// Every lookup goes through the look's folder, so those looks need no change here.
class CompanionLibrary {
public:
    // The looks offered, the drawn look first.
    static QList<CompanionVariant> variants();
    // The stored choice "zephyl.mac.companion.variant" when it names a known look,
    // else the first filmed look, else "drawn". Read anew at each use.
    static QString selectedVariantID();
    // The look with that id, else the drawn look.
    static CompanionVariant variant(const QString &id);

    // Pictures of a look, as file paths: none for a look without a folder or
    // when the file is missing.
    static std::optional<QString> faceURL(const QString &id);
    static std::optional<QString> liveFaceURL(const QString &id);
    // "portrait.jpg", else the face picture.
    static std::optional<QString> portraitURL(const QString &id);

private:
    static std::optional<QString> fileOf(const QString &id, const char *name);
};
