# Builds the Debian package from a release tree, unpacks it into a folder of its own and checks
# what a user gets: every installed path, the package's dependencies, the installed program's
# version, the desktop entry and the software-centre page through their validators.
#
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=... -DBUILD_NUMBER=... -DAPP_ID=...
#       [-DRELEASE_DIR=<a release tree to package as it is>] -P PackageTest.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

# A release tree: the one given, else one of our own without the tests, which builds only the
# program and the test camera (ccache, when the environment names it, makes it cheap).
if(NOT RELEASE_DIR)
  set(RELEASE_DIR ${WORK_DIR}/release)
  if(NOT EXISTS ${RELEASE_DIR}/CMakeCache.txt)
    run(${CMAKE_COMMAND} --preset release -S ${SOURCE_DIR} -B ${RELEASE_DIR}
      -DVISTAMO_TESTS=OFF)
  endif()
  run(${CMAKE_COMMAND} --build ${RELEASE_DIR} --target vistamo vistamo-camera)
endif()

file(REMOVE_RECURSE ${WORK_DIR}/deb ${WORK_DIR}/root)
run(cpack -G DEB -B ${WORK_DIR}/deb --config ${RELEASE_DIR}/CPackConfig.cmake)
run(dpkg --print-architecture)
string(STRIP "${out}" arch)
set(deb ${WORK_DIR}/deb/vistamo_${VERSION}_${arch}.deb)
if(NOT EXISTS ${deb})
  file(GLOB made ${WORK_DIR}/deb/*.deb)
  message(FATAL_ERROR "no ${deb}; made: ${made}")
endif()

# The dependencies come from dpkg-shlibdeps: the libraries the programs link, with versions.
run(dpkg-deb --field ${deb} Package Version Architecture Depends Recommends)
foreach(expected "Package: vistamo\n" "Version: ${VERSION}\n" "Architecture: ${arch}\n"
    "libqt6widgets6 \\(>= " "libavcodec59 \\(>= " "libsdl2-2.0-0 \\(>= " "libpipewire-0.3-0 \\(>= " "qt6-qpa-plugins"
    "Recommends: qt6-wayland")
  if(NOT out MATCHES "${expected}")
    message(FATAL_ERROR "the control fields lack ${expected}:\n${out}")
  endif()
endforeach()

# Exactly these files, no more: nothing of the build (tests, static libraries, headers, SVG
# sources) slips in, and nothing the program loads is missing.
run(dpkg -x ${deb} ${WORK_DIR}/root)
file(GLOB_RECURSE installed RELATIVE ${WORK_DIR}/root ${WORK_DIR}/root/*)
set(expected
  usr/bin/vistamo usr/bin/vistamo-camera
  usr/share/applications/${APP_ID}.desktop
  usr/share/metainfo/${APP_ID}.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/vistamo.svg)
foreach(size 16 22 24 32 48 64 128 256 512)
  list(APPEND expected usr/share/icons/hicolor/${size}x${size}/apps/vistamo.png)
endforeach()
foreach(resource
    alarm.mp3 shutter1.wav buttonshader.fsh shader.fsh shader.vsh en.strings help.html
    close.png flashoff.png flashon.png lens.png logo.png micoff.png micon.png mute.png
    noalarm.png onalarm.png shutter.png "switch camera.png" unmute.png vistamo.png)
  list(APPEND expected "usr/share/vistamo/${resource}")
endforeach()
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  set(extra ${installed})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  message(FATAL_ERROR "installed paths differ\nnot expected: ${extra}\nmissing: ${missing}")
endif()
run(file --brief ${WORK_DIR}/root/usr/share/icons/hicolor/512x512/apps/vistamo.png)
if(NOT out MATCHES "PNG image data, 512 x 512")
  message(FATAL_ERROR "the 512 icon is ${out}")
endif()

# The installed program answers without a display with its version and build; the page names
# the same version.
run(env -u DISPLAY -u WAYLAND_DISPLAY ${WORK_DIR}/root/usr/bin/vistamo --version)
if(NOT out STREQUAL "vistamo ${VERSION} (build ${BUILD_NUMBER})\n")
  message(FATAL_ERROR "vistamo --version says: ${out}")
endif()
run(${WORK_DIR}/root/usr/bin/vistamo-camera --help)
file(READ ${WORK_DIR}/root/usr/share/metainfo/${APP_ID}.metainfo.xml page)
if(NOT page MATCHES "<release version=\"${VERSION}\"")
  message(FATAL_ERROR "the metainfo's release is not ${VERSION}")
endif()

# Both validators, offline: no error, no warning, not even a hint.
run(desktop-file-validate ${WORK_DIR}/root/usr/share/applications/${APP_ID}.desktop)
if(NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${out}${err}")
endif()
run(appstreamcli validate --no-net --strict
  ${WORK_DIR}/root/usr/share/metainfo/${APP_ID}.metainfo.xml)
if(out MATCHES "(^|\n)[EWI]: ")
  message(FATAL_ERROR "appstreamcli validate: ${out}${err}")
endif()
message(STATUS "${deb} checked")
