// LoadIconW and the pixels of the icons that it loaded. An icon is decoded
// once per group resource and then handed out again; icons are never freed.
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>

#include "kernel/never_destroyed.h"
#include "platform/kernel.h"
#include "platform/resources.h"
#include "resources/icon_formats.h"
#include "resources/icon_image_decoder.h"

namespace platform::resources {
namespace {

// The size that a plain LoadIconW asks for (SM_CXICON, SM_CYICON).
constexpr int kStandardIconSide = 32;

struct IconStore {
    std::mutex lock;
    std::deque<IconImage> images;                  // an HICON is an index here plus one
    std::map<ULONG_PTR, HICON> iconOfGroup;        // by the RT_GROUP_ICON resource handle
};

IconStore& Icons()
{
    static NeverDestroyed<IconStore> store;
    return store.get();
}

std::span<const BYTE> BytesOf(HMODULE module, HRSRC resource)
{
    const auto* first = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    return first == nullptr ? std::span<const BYTE>() : std::span<const BYTE>(first, SizeofResource(module, resource));
}

int SideOf(BYTE stored)
{
    return stored == 0 ? 256 : stored;
}

// How far an entry is from the standard size; among equals, deeper colour wins.
bool Better(const GRPICONDIRENTRY& candidate, const GRPICONDIRENTRY& best)
{
    auto distance = [](const GRPICONDIRENTRY& entry) {
        return std::abs(SideOf(entry.bWidth) - kStandardIconSide) + std::abs(SideOf(entry.bHeight) - kStandardIconSide);
    };
    const int candidateDistance = distance(candidate);
    const int bestDistance = distance(best);
    return candidateDistance < bestDistance || (candidateDistance == bestDistance && candidate.wBitCount > best.wBitCount);
}

// The RT_ICON id of the group's image closest to the standard size.
std::optional<WORD> ChooseImage(std::span<const BYTE> group)
{
    const auto directory = IconDirectoryOf(group);
    if (!directory) {
        return std::nullopt;
    }
    std::optional<GRPICONDIRENTRY> best;
    for (std::size_t i = 0; i < directory->idCount; ++i) {
        const auto entry = ReadAt<GRPICONDIRENTRY>(group, sizeof(ICONDIR) + i * sizeof(GRPICONDIRENTRY));
        if (!entry) {
            return std::nullopt;
        }
        if (!best || Better(*entry, *best)) {
            best = entry;
        }
    }
    return best->nId;
}

std::optional<IconImage> DecodeGroupIcon(HINSTANCE instance, HRSRC group)
{
    const auto imageId = ChooseImage(BytesOf(instance, group));
    if (!imageId) {
        SetLastError(ERROR_INVALID_DATA);
        return std::nullopt;
    }
    const HRSRC image = FindResourceW(instance, MAKEINTRESOURCEW(*imageId), RT_ICON);
    if (image == nullptr) {
        return std::nullopt;   // FindResourceW has set the last error
    }
    auto decoded = DecodeIconImage(BytesOf(instance, image));
    if (!decoded) {
        SetLastError(ERROR_INVALID_DATA);
    }
    return decoded;
}

}  // namespace
}  // namespace platform::resources

using namespace platform::resources;

HICON LoadIconW(HINSTANCE instance, LPCWSTR name)
{
    // A null instance asks for the system's predefined icons; this device has none.
    if (instance == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const HRSRC group = FindResourceW(instance, name, RT_GROUP_ICON);
    if (group == nullptr) {
        return nullptr;
    }
    IconStore& store = Icons();
    std::lock_guard guard(store.lock);
    const auto key = reinterpret_cast<ULONG_PTR>(group);
    if (const auto known = store.iconOfGroup.find(key); known != store.iconOfGroup.end()) {
        return known->second;
    }
    auto image = DecodeGroupIcon(instance, group);
    if (!image) {
        return nullptr;
    }
    store.images.push_back(std::move(*image));
    const auto icon = reinterpret_cast<HICON>(static_cast<ULONG_PTR>(store.images.size()));
    store.iconOfGroup.emplace(key, icon);
    return icon;
}

namespace platform {

const IconImage* IconImageOf(HICON icon)
{
    IconStore& store = Icons();
    std::lock_guard guard(store.lock);
    const auto value = reinterpret_cast<ULONG_PTR>(icon);
    return value == 0 || value > store.images.size() ? nullptr : &store.images[value - 1];
}

}  // namespace platform
