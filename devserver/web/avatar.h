// Contact pictures as the softphone shows them: 50 x 50 pixels.
#pragma once

#include <optional>
#include <string>

namespace devserver::web {

constexpr int kPhotoSize = 50;
// The largest upload decoded: a 16-megapixel camera picture.
constexpr long long kMaxPhotoPixels = 4096LL * 4096;

// The initials of the name on a coloured disc, as PNG bytes. Needs a
// QGuiApplication (for fonts).
std::string drawAvatarPng(const std::string &utf8Name);

// An uploaded picture cut to a centred square and scaled to the photo size,
// as PNG bytes; nothing when the bytes are not an image or the picture has
// more than kMaxPhotoPixels.
std::optional<std::string> normalisedPhotoPng(const std::string &bytes);

// "Zoë Müller" -> "ZM"; one word gives one letter; none gives "?".
std::string initialsOf(const std::string &utf8Name);

} // namespace devserver::web
