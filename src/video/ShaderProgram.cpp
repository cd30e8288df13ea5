#include "video/ShaderProgram.h"

#include <QOpenGLContext>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Bytes.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "video/GLFunctions.h"

namespace vistamo {

namespace {

// Shader texts are a few kilobytes; anything far larger is not one of ours.
constexpr size_t kMaxShaderBytes = 1 << 20;

}  // namespace

ShaderProgram::ShaderProgram(std::string_view vertexShaderFileName,
                             std::string_view fragmentShaderFileName)
    : context_(QOpenGLContext::currentContext()) {
    auto* gl = currentGL();
    const GLuint program = gl != nullptr ? gl->glCreateProgram() : 0;
    if (program == 0) {
        logLine("Program creation failed");
        return;
    }
    program_ = program;
    if (auto shader = compileShader(vertexShaderFileName, GL_VERTEX_SHADER)) {
        gl->glAttachShader(program, *shader);
        // Flagged for deletion; it goes when the program does.
        gl->glDeleteShader(*shader);
    }
    if (auto shader = compileShader(fragmentShaderFileName, GL_FRAGMENT_SHADER)) {
        gl->glAttachShader(program, *shader);
        gl->glDeleteShader(*shader);
    }
    link();
}

ShaderProgram::~ShaderProgram() {
    if (!program_ || !context_ || QOpenGLContext::currentContext() != context_) {
        return;
    }
    if (auto* gl = currentGL()) {
        gl->glDeleteProgram(*program_);
    }
}

std::optional<GLuint> ShaderProgram::compileShader(std::string_view fileName, GLenum type) {
    const std::optional<Bytes> text = readWholeFile(resourcePath(fileName), kMaxShaderBytes);
    if (!text) {
        logLine("Unable to load " + std::string(fileName));
        return std::nullopt;
    }
    auto* gl = currentGL();
    const GLuint shader = gl->glCreateShader(type);
    if (shader == 0) {
        logLine("Compilation of " + std::string(fileName) + " failed: no shader object");
        return std::nullopt;
    }
    const auto* source = reinterpret_cast<const GLchar*>(text->data());
    const auto length = static_cast<GLint>(text->size());
    gl->glShaderSource(shader, 1, &source, &length);
    gl->glCompileShader(shader);
    GLint status = GL_FALSE;
    gl->glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        GLint logLength = 0;
        gl->glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &logLength);
        std::string log;
        if (logLength > 1) {
            std::vector<GLchar> buffer(static_cast<size_t>(logLength));
            GLsizei written = 0;
            gl->glGetShaderInfoLog(shader, logLength, &written, buffer.data());
            log.assign(buffer.data(), static_cast<size_t>(std::max<GLsizei>(written, 0)));
        }
        logLine("Compilation of " + std::string(fileName) + " failed: " + log);
        gl->glDeleteShader(shader);
        return std::nullopt;
    }
    return shader;
}

void ShaderProgram::link() {
    auto* gl = currentGL();
    gl->glLinkProgram(*program_);
    GLint status = GL_FALSE;
    gl->glGetProgramiv(*program_, GL_LINK_STATUS, &status);
    linked_ = status == GL_TRUE;
    if (!linked_) {
        logLine("Program linking failed");
    }
    uniformVideo_ = gl->glGetUniformLocation(*program_, "videoFrame");
}

GLint ShaderProgram::uniformLocation(const char* name) const {
    auto* gl = currentGL();
    if (!program_ || gl == nullptr) {
        return -1;
    }
    return gl->glGetUniformLocation(*program_, name);
}

void ShaderProgram::use() const {
    if (auto* gl = currentGL()) {
        gl->glUseProgram(linked_ ? *program_ : 0);
    }
}

}  // namespace vistamo
