#pragma once

#include <memory>

namespace vistamo {

class CameraRecord;

// What the status line should tell the user, as discovery judges it on each scan tick. The
// host chooses the words.
enum class DiscoveryStatus {
    // A listed camera is shown: the user can pick a camera.
    CamerasFound,
    // No listed camera is shown, or the status line alternates back: discovery is looking.
    Searching,
};

// Whoever shows the cameras discovery finds (the scanner window): it hears what happened to
// discovery's list of cameras and what the status line should say. How a camera is shown, and
// the status line's words, are the host's business; discovery holds the host weakly and
// without one only keeps its list.
//
// Threads: every report is made on the main thread, where discovery keeps its list, after the
// datagram behind it was read on the discovery queue. A report gets the record itself, which
// stays valid for as long as the host keeps it; the same record object is the same camera in
// every report. Every operation has a default that does nothing, so a host implements only
// what it shows.
class DiscoveryHost {
public:
    virtual ~DiscoveryHost() = default;

    // `camera` joined the list, at its end: found by discovery, or added by its address.
    virtual void cameraAdded(const std::shared_ptr<CameraRecord>& /*camera*/) {}

    // A listed camera answered again, its name, address and port as it gave them now; it is
    // to be shown again if it was gone.
    virtual void cameraChanged(const std::shared_ptr<CameraRecord>& /*camera*/) {}

    // A listed camera stopped answering: it stays in the list, not shown, until it answers
    // again (cameraChanged) or leaves.
    virtual void cameraGone(const std::shared_ptr<CameraRecord>& /*camera*/) {}

    // `camera` left the list: it said it goes off line, or the list was emptied.
    virtual void cameraRemoved(const std::shared_ptr<CameraRecord>& /*camera*/) {}

    // Shows `status` in the status line.
    virtual void showStatus(DiscoveryStatus /*status*/) {}
};

}  // namespace vistamo
