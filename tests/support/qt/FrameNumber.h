#pragma once

#include <QImage>
#include <QSize>

#include "support/TestStream.h"

namespace vistamo::test {

// The frame number encodeTestStream drew into a picture on screen: `shown` is the part of a
// grab that shows the stream's picture, read back at the stream's `size`; -1 when it cannot be
// read.
inline int frameNumberIn(const QImage& shown, QSize size) {
    const QImage grey = shown.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_Grayscale8);
    return readFrameNumber(grey.constBits(), static_cast<int>(grey.bytesPerLine()), grey.width(),
                           grey.height());
}

}  // namespace vistamo::test
