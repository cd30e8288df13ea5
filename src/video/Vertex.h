#pragma once

namespace vistamo {

// The vertex layout of every quad drawn with OpenGL: attribute 0 is the position (clip space),
// attribute 1 the texture coordinate, tightly packed.
struct Vertex {
    struct Position {
        float x;
        float y;
    };
    struct Texture {
        float tx;
        float ty;
    };
    Position position;
    Texture texture;
};
static_assert(sizeof(Vertex) == 16, "a vertex is four packed floats");

// One quad, drawn as a four-vertex triangle strip.
struct VideoScreen {
    Vertex v1;
    Vertex v2;
    Vertex v3;
    Vertex v4;
};
static_assert(sizeof(VideoScreen) == 64, "a quad is four packed vertices");

// Byte offsets of the two attributes inside a Vertex, for glVertexAttribPointer.
inline constexpr int kVertexPositionOffset = 0;
inline constexpr int kVertexTextureOffset = 8;
inline constexpr int kVertexStride = sizeof(Vertex);

}  // namespace vistamo
