#pragma once

#include <cstdint>

// One GLSL program. Uniform locations are looked up by name on every set.
class Shader {
  public:
    std::uint32_t program = 0;

    bool load(const char* vertexSource, const char* fragmentSource);
    void use() const;
    void setInt(const char* name, int value) const;
    void setFloat(const char* name, float value) const;
    void setFloatArray(const char* name, const float* values, int count) const;
    void setVec2(const char* name, float x, float y) const;
    void setVec3(const char* name, float x, float y, float z) const;
    void setVec4(const char* name, float x, float y, float z, float w) const;
    void setMat4(const char* name, const float* columnMajor) const;
    void release();

    // Sees every stage's source exactly as the driver is given it, e.g. to run
    // them through a reference compiler. Null (the default): nothing sees them.
    using SourceSink = void (*)(std::uint32_t stage, const char* source);
    static void setSourceSink(SourceSink sink);
};
