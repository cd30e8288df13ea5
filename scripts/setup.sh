#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when any is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libasio-dev
  libavcodec-dev libavutil-dev libturbojpeg0-dev libopus-dev libsdl2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  iproute2
  qt6-base-dev libqt6opengl6-dev qt6-qpa-plugins libgl-dev libgl1-mesa-dri fonts-dejavu-core
  libsdl2-mixer-dev libavdevice-dev libavformat-dev libswscale-dev libxcb1-dev
  xvfb x11-utils xdotool libx11-dev ffmpeg
  dpkg-dev file desktop-file-utils appstream
  qt6-wayland weston
  dbus
  libpipewire-0.3-dev pipewire pipewire-bin wireplumber pipewire-v4l2
  gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
