#pragma once

#include <QString>

#include <array>
#include <optional>

// The publishing formats. The plan keeps its own word for each ("post" for feed).
enum class PublishFormat { reel, story, feed, carousel };

namespace PublishFormats {
constexpr std::array<PublishFormat, 4> allCases{PublishFormat::reel, PublishFormat::story, PublishFormat::feed,
                                                PublishFormat::carousel};
QString rawValue(PublishFormat format);
std::optional<PublishFormat> fromRaw(const QString &raw);
inline QString id(PublishFormat format) { return rawValue(format); }
// The word written to plan drafts: "reel", "story", "post", "carousel".
QString planValue(PublishFormat format);
// The reverse, total: "reel", "story" and "carousel" name their format, every
// other text (including "post") is the feed format. Exact comparison.
PublishFormat fromPlanValue(const QString &planValue);
// The name shown for a format: "Reel" and "Story" as they stand in every
// language, "Post" and "Carousel" translated.
QString label(PublishFormat format);
} // namespace PublishFormats
