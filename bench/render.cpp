// Time to upload one 1080p frame into the renderer's textures and draw it with the control bar,
// and the upload alone, against the raw upload of the same three planes into the same textures.
// Needs an X display (under Xvfb, Mesa's llvmpipe renders in software).
//
//   render [frames]     default 300
#include <QApplication>
#include <QOpenGLContext>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dispatch/MainQueue.h"
#include "media/DecodedFrame.h"
#include "support/qt/QtWait.h"
#include "video/GLFunctions.h"
#include "video/QtMainQueue.h"
#include "video/TestFrames.h"
#include "video/VideoRenderer.h"
#include "video/VideoView.h"

using namespace vistamo;
using Clock = std::chrono::steady_clock;

namespace {

double medianMilliseconds(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    dispatch::setMainQueue(QtMainQueue::create());
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;

    VideoView view;
    view.resize(1280, 720);
    auto video = std::make_shared<VideoRenderer>();
    view.setVideo(video);
    view.show();
    if (!test::waitProcessingEvents([&] { return view.context() != nullptr; })) {
        std::fprintf(stderr, "render: the view got no OpenGL context\n");
        return 1;
    }
    // Two pictures taking turns, so that every upload carries new pixels.
    const PixelBuffer pictures[2] = {
        test::makeFrame({.width = 1920, .height = 1080}),
        test::makeFrame({.width = 1920,
                         .height = 1080,
                         .left = test::kBlue601Limited,
                         .right = test::kRed601Limited}),
    };
    video->uploadFrame(pictures[0]);  // allocates the textures, builds the quad and the bar

    std::vector<double> renderer;
    std::vector<double> rawUpload;
    std::vector<double> uploadOnly;
    renderer.reserve(frames);
    rawUpload.reserve(frames);
    for (int i = 0; i < frames; ++i) {
        const PixelBuffer& picture = pictures[i % 2];
        view.makeCurrent();
        QOpenGLFunctions_3_2_Core* gl = currentGL();

        auto start = Clock::now();
        video->uploadFrame(picture);
        gl->glFinish();
        uploadOnly.push_back(millisecondsSince(start));
        view.render();
        gl->glFinish();
        renderer.push_back(millisecondsSince(start));

        // The reference: the same planes into the same textures, nothing drawn.
        const auto textures = video->planeTextures();
        start = Clock::now();
        gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        for (int plane = 0; plane < DecodedFrame::kPlaneCount; ++plane) {
            gl->glBindTexture(GL_TEXTURE_RECTANGLE, textures[plane]);
            gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, picture->stride(plane));
            gl->glTexSubImage2D(GL_TEXTURE_RECTANGLE, 0, 0, 0, picture->planeWidth(plane),
                                picture->planeHeight(plane), GL_RED, GL_UNSIGNED_BYTE,
                                picture->plane(plane));
        }
        gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        gl->glBindTexture(GL_TEXTURE_RECTANGLE, 0);
        gl->glFinish();
        rawUpload.push_back(millisecondsSince(start));
        view.doneCurrent();
        QCoreApplication::processEvents();
    }

    const double ours = medianMilliseconds(renderer);
    const double raw = medianMilliseconds(rawUpload);
    view.makeCurrent();
    std::printf("OpenGL: %s\n",
                reinterpret_cast<const char*>(currentGL()->glGetString(GL_RENDERER)));
    view.doneCurrent();
    std::printf("1920x1080 4:2:0, %d frames into a 1280x720 view\n", frames);
    std::printf("upload + draw (video and bar): median %.3f ms\n", ours);
    std::printf("of which the upload: median %.3f ms\n", medianMilliseconds(uploadOnly));
    std::printf("raw upload of the three planes: median %.3f ms\n", raw);
    std::printf("ratio of the renderer's upload to the raw upload: %.2f\n",
                medianMilliseconds(uploadOnly) / raw);
    std::printf("ratio of upload + draw to the raw upload: %.2f\n", ours / raw);
    return 0;
}
