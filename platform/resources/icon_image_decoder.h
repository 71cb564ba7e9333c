// Decodes one icon image (an RT_ICON resource) into pixels.
#pragma once

#include <optional>
#include <span>

#include "platform/resources.h"

namespace platform::resources {

// A DIB of 24 or 32 bits per pixel, uncompressed, at most 256 x 256, with
// its colour rows and then its 1-bit AND mask, both bottom row first. Nothing
// for anything else, or for an image that runs past `bytes`.
std::optional<IconImage> DecodeIconImage(std::span<const BYTE> bytes);

}  // namespace platform::resources
