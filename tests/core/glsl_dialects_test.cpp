#include "core/engine.h"
#include "render/shader.h"
#include "support/gl_test.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Every source handed to GL, by stage, while the demo's parts start up.
std::map<std::string, GLenum>* recorded = nullptr;
PFNGLSHADERSOURCEPROC realShaderSource = nullptr;

void recordShaderSource(GLuint shader, GLsizei count, const GLchar* const* text,
                        const GLint* length) {
    std::string source;
    for (GLsizei i = 0; i < count; ++i) {
        source += length != nullptr && length[i] >= 0 ? std::string(text[i], length[i]) : text[i];
    }
    GLint stage = 0;
    glGetShaderiv(shader, GL_SHADER_TYPE, &stage);
    (*recorded)[source] = static_cast<GLenum>(stage);
    realShaderSource(shader, count, text, length);
}

// glslangValidator's verdict on the files; its report when it refuses one.
bool validate(const std::vector<std::string>& files, std::string& report) {
    std::string command = "glslangValidator";
    for (const std::string& file : files) {
        command += " '" + file + "'";
    }
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char line[512];
    while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
        report += line;
    }
    return pipe != nullptr && pclose(pipe) == 0;
}

} // namespace

class GlslDialects : public GlTest {};

// What every program of the demo compiles on the desktop must compile as ES
// 3.00 for WebGL 2 with only its first lines swapped, and both must pass the
// reference compiler, not just this machine's driver.
TEST_F(GlslDialects, EveryProgramCompilesAsCore330AndEs300) {
    if (std::system("glslangValidator --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "glslangValidator (glslang-tools) is not installed";
    }
    std::map<std::string, GLenum> sources;
    recorded = &sources;
    realShaderSource = glad_glShaderSource;
    glad_glShaderSource = recordShaderSource;
    Engine engine;
    const bool started = engine.initSystems(1280, 720, false);
    glad_glShaderSource = realShaderSource;
    engine.releaseSystems();
    ASSERT_TRUE(started);
    // The final pass, the sprites, the seven scenes and their passes.
    EXPECT_GE(sources.size(), 25u);

    const fs::path dir = fs::temp_directory_path() / "quex_glsl_dialects";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<std::string> files;
    int n = 0;
    for (const auto& [source, stage] : sources) {
        const char* extension = stage == GL_VERTEX_SHADER ? ".vert" : ".frag";
        const std::string es = glslSource(source.c_str(), GlslDialect::Es300);
        EXPECT_EQ(glslSource(source.c_str(), GlslDialect::Core330), source);
        EXPECT_EQ(es.rfind("#version 300 es\n", 0), 0u) << source;
        EXPECT_EQ(std::count(es.begin(), es.end(), '\n'),
                  std::count(source.begin(), source.end(), '\n'));
        for (const auto& [dialect, text] : {std::pair{"core", source}, std::pair{"es", es}}) {
            files.push_back((dir / (std::to_string(n) + "_" + dialect + extension)).string());
            std::ofstream(files.back()) << text;
        }
        ++n;
    }
    std::string report;
    EXPECT_TRUE(validate(files, report)) << report;
    fs::remove_all(dir);
}
