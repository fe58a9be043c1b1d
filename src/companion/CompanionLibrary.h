#pragma once

#include "companion/CatLook.h"
#include "companion/CompanionVariant.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The catalogue of cat looks: every folder of the bundle's Cats folder whose
// manifest.json decodes is a filmed look, in folder-name order, and the built-in
// drawn look comes last, so the catalogue is never empty.
class CompanionLibrary {
public:
    // The user's chosen look, written by the application state.
    static constexpr const char *kVariantKey = "zephyl.mac.companion.variant";

    // The catalogue of the application's bundle, read once. (A test that installs
    // another bundle gets that bundle's catalogue, read once too.)
    static const QList<CompanionVariant> &variants();
    // The looks of one Cats folder, the drawn look last; a missing or unreadable
    // folder gives the drawn look alone.
    static QList<CompanionVariant> read(const QString &catsFolder);
    // One look folder: none when it has no manifest or the manifest does not decode.
    static std::optional<CompanionVariant> readLook(const QString &folder);
    // A manifest's bytes as the look kept in `folder`; none when they do not decode
    // or name a file outside the folder, or a size, rate or head box that cannot be
    // used.
    static std::optional<CompanionVariant> decode(const QByteArray &manifest, const QString &folder);

    // The first look with that id, else the drawn look.
    static CompanionVariant variant(const QString &id);
    static CompanionVariant variant(const QList<CompanionVariant> &looks, const QString &id);
    // The stored choice when it names a look of the catalogue, else the first
    // look's id (the first filmed look, or "drawn"). Read anew at each use.
    static QString selectedVariantID();
    static QString selectedVariantID(const QList<CompanionVariant> &looks, const std::optional<QString> &stored);

    // Pictures of a look, as file paths; none for an unknown id, the drawn look,
    // or when the file is missing. Looked up on the file system at every call.
    static std::optional<QString> faceURL(const QString &id);                 // "face.jpg"
    static std::optional<QString> faceURL(const QString &id, CatLook look);   // "face-<look>.png", then neutral, then "face.jpg"
    static std::optional<QString> portraitURL(const QString &id);             // "portrait.jpg", then "face.jpg"
    static std::optional<QString> liveFaceURL(const QString &id);             // "face-live.webp"
    // The same for a look in hand.
    static std::optional<QString> faceURL(const CompanionVariant &look);
    static std::optional<QString> faceURL(const CompanionVariant &look, CatLook expression);
    static std::optional<QString> portraitURL(const CompanionVariant &look);
    static std::optional<QString> liveFaceURL(const CompanionVariant &look);
    // A plain file of the look's folder ("poster.png", a pose picture): none when
    // the look has no folder, the name is not a plain file name, or it is missing.
    static std::optional<QString> fileURL(const CompanionVariant &look, const QString &name);
};
