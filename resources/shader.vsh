#version 150 core
#extension GL_ARB_explicit_attrib_location : require

// Shared by the video and the control bar: clip-space position, texture coordinate passed on
// as it is (pixels for the video's rectangle textures, 0..1 for the buttons).
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;

out vec2 vTexCoord;

void main() {
    vTexCoord = texCoord;
    gl_Position = vec4(position, 0.0, 1.0);
}
