#include "render/shader.h"

#include "base/log.h"
#include "render/gl.h"

#include <cstring>

GlslDialect contextDialect() {
#if defined(__EMSCRIPTEN__)
    return GlslDialect::Es300;
#else
    return GlslDialect::Core330;
#endif
}

std::string glslSource(const char* source, GlslDialect dialect) {
    static const char kCoreHead[] = "\n#version 330 core\n";
    if (dialect == GlslDialect::Core330 ||
        std::strncmp(source, kCoreHead, sizeof kCoreHead - 1) != 0) {
        return source;
    }
    // ES has no default float precision in fragment shaders and only a low
    // one for 2-D samplers; the half-float targets need high precision.
    return std::string("#version 300 es\n"
                       "precision highp float; precision highp int; "
                       "precision highp sampler2D; precision highp sampler3D;\n") +
           (source + sizeof kCoreHead - 1);
}

namespace {

Shader::SourceSink sourceSink = nullptr;

GLuint compileStage(GLenum type, const char* source) {
    const std::string text = glslSource(source, contextDialect());
    const char* lines = text.c_str();
    const GLuint shader = glCreateShader(type);
    if (sourceSink != nullptr) {
        sourceSink(type, lines);
    }
    glShaderSource(shader, 1, &lines, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        char info[1024] = {};
        glGetShaderInfoLog(shader, sizeof info, nullptr, info);
        logLine(stderr, "[Shader] compile error:\n%s\n", info);
    }
    // A failed stage still goes to the link, which then reports as well.
    return shader;
}

} // namespace

bool Shader::load(const char* vertexSource, const char* fragmentSource) {
    const GLuint vs = compileStage(GL_VERTEX_SHADER, vertexSource);
    const GLuint fs = compileStage(GL_FRAGMENT_SHADER, fragmentSource);
    program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);

    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok == GL_TRUE) {
        return true;
    }
    char info[1024] = {};
    glGetProgramInfoLog(program, sizeof info, nullptr, info);
    logLine(stderr, "[Shader] link error:\n%s\n", info);
    glDeleteProgram(program);
    program = 0;
    return false;
}

void Shader::setSourceSink(SourceSink sink) {
    sourceSink = sink;
}

void Shader::use() const {
    glUseProgram(program);
}

void Shader::setInt(const char* name, int value) const {
    glUniform1i(glGetUniformLocation(program, name), value);
}

void Shader::setFloat(const char* name, float value) const {
    glUniform1f(glGetUniformLocation(program, name), value);
}

void Shader::setFloatArray(const char* name, const float* values, int count) const {
    glUniform1fv(glGetUniformLocation(program, name), count, values);
}

void Shader::setVec2(const char* name, float x, float y) const {
    glUniform2f(glGetUniformLocation(program, name), x, y);
}

void Shader::setVec3(const char* name, float x, float y, float z) const {
    glUniform3f(glGetUniformLocation(program, name), x, y, z);
}

void Shader::setVec4(const char* name, float x, float y, float z, float w) const {
    glUniform4f(glGetUniformLocation(program, name), x, y, z, w);
}

void Shader::setMat4(const char* name, const float* columnMajor) const {
    glUniformMatrix4fv(glGetUniformLocation(program, name), 1, GL_FALSE, columnMajor);
}

void Shader::release() {
    if (program != 0) {
        glDeleteProgram(program);
        program = 0;
    }
}
