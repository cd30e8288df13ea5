#version 150 core

// A button image, with its alpha for blending over the video.
uniform sampler2D buttonImage;  // texture unit 0

in vec2 vTexCoord;
out vec4 fragColor;

void main() {
    fragColor = texture(buttonImage, vTexCoord);
}
