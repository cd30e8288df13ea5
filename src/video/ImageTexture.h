#pragma once

#include <qopengl.h>

#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"

class QOpenGLContext;

namespace vistamo {

// A 2D texture loaded from a PNG image. Main thread only, with an OpenGL context current;
// deleting a ImageTexture deletes its texture when its context is current (when the context is
// gone, the texture went with it).
class ImageTexture {
public:
    // The resource image `name` (in the resource folder) as a texture; none when the file cannot
    // be read or decoded, or its pixels are not 8, 24 or 32 bits wide.
    static std::shared_ptr<ImageTexture> loadFromFile(std::string_view name);
    // The same for a file anywhere.
    static std::shared_ptr<ImageTexture> loadFromPath(const std::string& path);

    // The texture format for an image of `bitsPerPixel`: 8 → GL_RED, 24 → GL_RGB, 32 → GL_RGBA;
    // none for any other width.
    static std::optional<GLenum> formatForBitsPerPixel(int bitsPerPixel);
    // Bits per pixel of the PNG image in `bytes`, from its header (channels × bit depth;
    // an indexed image counts as what it expands to: 24, or 32 with a transparency chunk);
    // none when the bytes are not a well-formed PNG header.
    static std::optional<int> pngBitsPerPixel(ByteView bytes);

    ~ImageTexture();
    ImageTexture(const ImageTexture&) = delete;
    ImageTexture& operator=(const ImageTexture&) = delete;

    GLuint textureId() const { return textureId_; }
    unsigned width() const { return width_; }
    unsigned height() const { return height_; }
    // GL_RED, GL_RGB or GL_RGBA.
    GLenum format() const { return format_; }

    // Only the loaders make textures; the key keeps the constructor usable by make_shared alone.
    class Key {
        friend class ImageTexture;
        Key() = default;
    };
    ImageTexture(Key, GLuint textureId, unsigned width, unsigned height, GLenum format);

private:
    // Set once at creation; main thread only.
    QPointer<QOpenGLContext> context_;
    GLuint textureId_ = 0;
    unsigned width_ = 0;
    unsigned height_ = 0;
    GLenum format_ = 0;
};

}  // namespace vistamo
