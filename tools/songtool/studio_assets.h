// The studio's page, compiled in (see embed_assets.cmake).
#pragma once
#include <cstddef>

struct StudioAsset {
    const char* path;  // "/index.html"
    const char* type;  // its media type
    const unsigned char* bytes;
    size_t size;
};
extern const StudioAsset STUDIO_ASSETS[];
extern const size_t STUDIO_ASSET_COUNT;
