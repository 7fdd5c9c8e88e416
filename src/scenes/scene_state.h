#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A copy of a simulated scene's state at one step: textures of its own, copied
// on the GPU from the scene's live ones, and the counters beside them. It owns
// its textures; release() deletes them.
struct SceneState {
    struct Image {
        std::uint32_t texture = 0;
        int width = 0;
        int height = 0;
        int depth = 0; // 0 for a 2-D texture, else the layers of a 3-D one
    };
    std::vector<Image> images;
    std::vector<int> counters;
    std::size_t bytes = 0;

    // Appends a copy of a live texture of the given size and internal format
    // (GL_RGBA8, GL_RGBA16F, GL_RG16F or GL_R16F). False when the driver
    // cannot render to the copy.
    bool save(std::uint32_t texture, int width, int height, int depth, int internalFormat);
    // Copies image `index` back into a live texture of the same size and format.
    void restore(std::size_t index, std::uint32_t texture) const;
    void release();
};
