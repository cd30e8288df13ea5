#pragma once

#include <string>
#include <string_view>

namespace vistamo {

// The application's resource folder: images, sounds, shader texts, the help page and the
// table of texts. An installed program finds it at `<prefix>/share/vistamo` beside its
// `<prefix>/bin`; a program run from the build tree uses the source tree's `resources/`.
const std::string& resourceFolder();

// The resource folder, "/" and `name`.
std::string resourcePath(std::string_view name);

}  // namespace vistamo
