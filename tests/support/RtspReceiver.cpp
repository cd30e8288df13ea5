#include "support/RtspReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/Wait.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vistamo::test {

uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool listening(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == wanted) {
            return true;
        }
    }
    return false;
}

RtspReceiver::RtspReceiver(uint16_t port, const std::string& path, std::filesystem::path file)
    : ChildProcess({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-rtsp_flags",
                    "listen", "-i", "rtsp://127.0.0.1:" + std::to_string(port) + "/" + path, "-c",
                    "copy", "-f", "matroska", "-y", file.string()},
                   SpawnOptions{.errorsToOutput = true}),
      file_(std::move(file)) {
    if (!waitUntil([port] { return listening(port); })) {
        throw std::runtime_error("ffmpeg does not listen on port " + std::to_string(port));
    }
}

ReceivedStream readReceived(const std::filesystem::path& file) {
    ReceivedStream received;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) {
        return received;
    }
    avformat_find_stream_info(context, nullptr);
    AVPacket* packet = av_packet_alloc();
    bool first = true;
    while (av_read_frame(context, packet) >= 0) {
        const auto type = context->streams[packet->stream_index]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO) {
            received.sounds.emplace_back(packet->data, packet->data + packet->size);
        } else if (type == AVMEDIA_TYPE_VIDEO) {
            ++received.pictures;
            for (int at = 0; at + 4 <= packet->size;) {
                const uint32_t length =
                    (uint32_t{packet->data[at]} << 24) | (uint32_t{packet->data[at + 1]} << 16) |
                    (uint32_t{packet->data[at + 2]} << 8) | packet->data[at + 3];
                at += 4;
                if (length == 0 || length > static_cast<uint32_t>(packet->size - at)) {
                    break;
                }
                received.units.emplace_back(packet->data + at, packet->data + at + length);
                if (first) {
                    received.startsWithKeyFrame = (packet->data[at] & 0x1F) == 5;
                    first = false;
                }
                at += static_cast<int>(length);
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return received;
}

}  // namespace vistamo::test
