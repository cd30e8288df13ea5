#version 150 core

// The video: three planes of 8-bit Y'CbCr in rectangle textures (coordinates in luma pixels),
// converted to R'G'B' with the frame's own matrix and range.
uniform sampler2DRect videoFrame;  // luma, texture unit 0
uniform sampler2DRect chromaB;     // Cb, texture unit 1
uniform sampler2DRect chromaR;     // Cr, texture unit 2
uniform vec2 chromaScale;          // chroma plane size / luma plane size
uniform mat3 yuvMatrix;            // includes the range expansion
uniform vec3 yuvOffset;            // black level and chroma zero

in vec2 vTexCoord;
out vec4 fragColor;

void main() {
    vec2 chromaCoord = vTexCoord * chromaScale;
    vec3 yuv = vec3(texture(videoFrame, vTexCoord).r,
                    texture(chromaB, chromaCoord).r,
                    texture(chromaR, chromaCoord).r);
    vec3 rgb = yuvMatrix * (yuv - yuvOffset);
    fragColor = vec4(clamp(rgb, 0.0, 1.0), 1.0);
}
