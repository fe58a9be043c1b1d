#pragma once

#include "app/AppValues.h"
#include "services/WireModels.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The summary screen's cards, derived from what the state holds. A pure
// function: the texts are looked up in the current language at build time, so a
// change of language needs a rebuild.
namespace SummaryObservations {

// Whether Instagram is connected is none while the service has not said
// (off line): no card then says it is, or is not.
QList<Observation> build(std::optional<bool> instagramConnected, const QList<ZephylWire::PlanDraft> &drafts,
                         const QList<ZephylWire::Publication> &publications,
                         const QList<ZephylWire::InstagramFeedItem> &feed, const QDateTime &now);

// An internet date-time: date, "T", time with optional fraction, and a zone
// ("Z" or ±hh:mm), all separators present. Anything else reads as nothing; a
// text without a zone never falls back to local time.
std::optional<QDateTime> internetDateTime(const QString &text);

} // namespace SummaryObservations
