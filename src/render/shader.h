#pragma once

#include <cstdint>
#include <string>

// The GLSL a source is compiled as: 3.30 core on the desktop, ES 3.00 under
// WebGL 2. Every source is written once, starting with a line break and
// "#version 330 core"; for ES 3.00 those two lines become the ES version line
// and the default precisions, so line numbers in compile errors still match.
enum class GlslDialect { Core330, Es300 };

// The dialect of the context this build asks for (render/gl_context.h).
GlslDialect contextDialect();

// The source as `dialect` takes it.
std::string glslSource(const char* source, GlslDialect dialect);

// One GLSL program, compiled in the context's dialect. Uniform locations are
// looked up by name on every set.
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
