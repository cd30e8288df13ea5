#pragma once

#include <qopengl.h>

#include <QPointer>
#include <optional>
#include <string>
#include <string_view>

class QOpenGLContext;

namespace vistamo {

// A linked OpenGL program made of a vertex and a fragment shader read from the resource
// folder. Shaders take the position at attribute 0 and the texture coordinate at attribute 1.
//
// Main thread only, with an OpenGL 3.2 core context current: construction compiles and links
// in that context, and the destructor deletes the program when that same context is current
// again (when the context is gone, its objects went with it).
class ShaderProgram {
public:
    // Compiles both files and links them. A file that cannot be read ("Unable to load NAME") or
    // compiled ("Compilation of NAME failed: LOG") is left out and the program is still linked;
    // "Program creation failed" and "Program linking failed" are logged likewise. None of these
    // stops the caller: a program that failed draws nothing.
    ShaderProgram(std::string_view vertexShaderFileName, std::string_view fragmentShaderFileName);
    ~ShaderProgram();
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

    // The program name; none when it could not be created.
    std::optional<GLuint> program() const { return program_; }
    // Location of the sampler "videoFrame" (-1 when the program has none).
    GLint uniformVideo() const { return uniformVideo_; }
    // Whether the last link succeeded.
    bool linked() const { return linked_; }

    // Location of another uniform of the program, -1 when absent.
    GLint uniformLocation(const char* name) const;
    // glUseProgram with this program, or 0 when it has none.
    void use() const;

private:
    std::optional<GLuint> compileShader(std::string_view fileName, GLenum type);
    void link();

    // Main thread only; set in the constructor.
    QPointer<QOpenGLContext> context_;
    std::optional<GLuint> program_;
    GLint uniformVideo_ = -1;
    bool linked_ = false;
};

}  // namespace vistamo
