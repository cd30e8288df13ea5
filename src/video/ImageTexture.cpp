#include "video/ImageTexture.h"

#include <QImage>
#include <QOpenGLContext>
#include <cstring>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "video/GLFunctions.h"

namespace vistamo {

namespace {

// Button images are small; this bounds what a broken or hostile file can make us allocate.
constexpr size_t kMaxImageBytes = 16 << 20;
constexpr uint32_t kMaxImageSide = 8192;

uint32_t bigEndian32(const uint8_t* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

struct PngHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitsPerPixel = 0;
};

// The image header chunk, and for indexed images whether a transparency chunk precedes the
// image data. Every length is checked against what is left of the bytes.
std::optional<PngHeader> readPngHeader(ByteView bytes) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    constexpr size_t kIhdrEnd = 8 + 8 + 13;
    if (bytes.size() < kIhdrEnd + 4 || std::memcmp(bytes.data(), kSignature, 8) != 0 ||
        bigEndian32(bytes.data() + 8) != 13 || std::memcmp(bytes.data() + 12, "IHDR", 4) != 0) {
        return std::nullopt;
    }
    const uint8_t* ihdr = bytes.data() + 16;
    PngHeader header;
    header.width = bigEndian32(ihdr);
    header.height = bigEndian32(ihdr + 4);
    const int depth = ihdr[8];
    const int colourType = ihdr[9];
    if (header.width == 0 || header.height == 0) {
        return std::nullopt;
    }
    const auto depthIs = [depth](std::initializer_list<int> allowed) {
        for (int value : allowed) {
            if (depth == value) {
                return true;
            }
        }
        return false;
    };
    switch (colourType) {
        case 0:  // grey
            if (!depthIs({1, 2, 4, 8, 16})) {
                return std::nullopt;
            }
            header.bitsPerPixel = depth;
            break;
        case 2:  // RGB
            if (!depthIs({8, 16})) {
                return std::nullopt;
            }
            header.bitsPerPixel = 3 * depth;
            break;
        case 3: {  // indexed: expands to RGB, or RGBA with a transparency chunk
            if (!depthIs({1, 2, 4, 8})) {
                return std::nullopt;
            }
            bool transparency = false;
            size_t offset = kIhdrEnd + 4;  // past the header chunk's checksum
            while (offset + 8 <= bytes.size()) {
                const uint32_t length = bigEndian32(bytes.data() + offset);
                const uint8_t* type = bytes.data() + offset + 4;
                if (std::memcmp(type, "tRNS", 4) == 0) {
                    transparency = true;
                    break;
                }
                if (std::memcmp(type, "IDAT", 4) == 0 || length > bytes.size() - offset - 8 ||
                    bytes.size() - offset - 8 - length < 4) {
                    break;
                }
                offset += 8 + size_t{length} + 4;
            }
            header.bitsPerPixel = transparency ? 32 : 24;
            break;
        }
        case 4:  // grey and alpha
            if (!depthIs({8, 16})) {
                return std::nullopt;
            }
            header.bitsPerPixel = 2 * depth;
            break;
        case 6:  // RGBA
            if (!depthIs({8, 16})) {
                return std::nullopt;
            }
            header.bitsPerPixel = 4 * depth;
            break;
        default:
            return std::nullopt;
    }
    return header;
}

}  // namespace

std::optional<GLenum> ImageTexture::formatForBitsPerPixel(int bitsPerPixel) {
    switch (bitsPerPixel) {
        case 8:
            return GL_RED;
        case 24:
            return GL_RGB;
        case 32:
            return GL_RGBA;
        default:
            return std::nullopt;
    }
}

std::optional<int> ImageTexture::pngBitsPerPixel(ByteView bytes) {
    const auto header = readPngHeader(bytes);
    if (!header) {
        return std::nullopt;
    }
    return header->bitsPerPixel;
}

std::shared_ptr<ImageTexture> ImageTexture::loadFromFile(std::string_view name) {
    return loadFromPath(resourcePath(name));
}

std::shared_ptr<ImageTexture> ImageTexture::loadFromPath(const std::string& path) {
    const std::optional<Bytes> bytes = readWholeFile(path, kMaxImageBytes);
    if (!bytes) {
        return nullptr;
    }
    const auto header = readPngHeader(*bytes);
    if (!header || header->width > kMaxImageSide || header->height > kMaxImageSide) {
        logLine("Not a usable PNG image: " + path);
        return nullptr;
    }
    const auto format = formatForBitsPerPixel(header->bitsPerPixel);
    if (!format) {
        return nullptr;
    }
    QImage image = QImage::fromData(bytes->data(), static_cast<int>(bytes->size()), "PNG");
    if (image.isNull() || image.width() != static_cast<int>(header->width) ||
        image.height() != static_cast<int>(header->height)) {
        logLine("Cannot decode PNG image " + path);
        return nullptr;
    }
    int bytesPerPixel = 4;
    if (*format == GL_RED) {
        image = image.convertToFormat(QImage::Format_Grayscale8);
        bytesPerPixel = 1;
    } else if (*format == GL_RGB) {
        image = image.convertToFormat(QImage::Format_RGB888);
        bytesPerPixel = 3;
    } else {
        image = image.convertToFormat(QImage::Format_RGBA8888);
    }
    // QImage pads its rows to four bytes; the texture takes them packed.
    const size_t rowBytes = static_cast<size_t>(image.width()) * bytesPerPixel;
    std::vector<uint8_t> pixels(rowBytes * static_cast<size_t>(image.height()));
    for (int row = 0; row < image.height(); ++row) {
        std::memcpy(pixels.data() + rowBytes * row, image.constScanLine(row), rowBytes);
    }

    auto* gl = currentGL();
    if (gl == nullptr) {
        logLine("No OpenGL context for image " + path);
        return nullptr;
    }
    GLuint texture = 0;
    gl->glGenTextures(1, &texture);
    gl->glBindTexture(GL_TEXTURE_2D, texture);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    GLint alignment = 4;
    gl->glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl->glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(*format), image.width(), image.height(),
                     0, *format, GL_UNSIGNED_BYTE, pixels.data());
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    return std::make_shared<ImageTexture>(Key(), texture, header->width, header->height, *format);
}

ImageTexture::ImageTexture(Key, GLuint textureId, unsigned width, unsigned height, GLenum format)
    : context_(QOpenGLContext::currentContext()),
      textureId_(textureId),
      width_(width),
      height_(height),
      format_(format) {}

ImageTexture::~ImageTexture() {
    if (textureId_ == 0 || !context_ || QOpenGLContext::currentContext() != context_) {
        return;
    }
    if (auto* gl = currentGL()) {
        gl->glDeleteTextures(1, &textureId_);
    }
}

}  // namespace vistamo
