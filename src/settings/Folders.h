#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vistamo {

// The sub-folder of the Library folder that holds the settings files, and of the Pictures
// folder that holds snapshots.
inline constexpr const char* kAppFolderName = "vistamo+";

enum class ExistedState { IT_IS_NONE = 0, IT_IS_A_FOLDER = 1, IT_IS_A_FILE = 2 };

// The user's Library folder: $XDG_CONFIG_HOME when set to an absolute path, else
// $HOME/.config when HOME is an absolute path; none otherwise. Read from the environment on
// every call; the folder need not exist.
std::optional<std::filesystem::path> libraryFolder();

// The user's Pictures folder: XDG_PICTURES_DIR from user-dirs.dirs in the Library folder (a
// quoted "$HOME/..." or absolute path; malformed lines are ignored, the last valid line wins),
// else $HOME/Pictures; none without an absolute HOME. The folder need not exist.
std::optional<std::filesystem::path> picturesFolder();

// The user's Videos folder, found as the Pictures folder is (XDG_VIDEOS_DIR, else
// $HOME/Videos).
std::optional<std::filesystem::path> videosFolder();

// Creates the folder `named` (a path relative to the Library folder; a leading "/" is taken
// as relative too), with its missing parents when `withIntermediateDirectories`. True only
// when this call created it: no Library folder, a missing parent without the flag, or a
// folder (or file) already there are failures, logged with their reason.
bool createSubFolder(const std::string& named, bool withIntermediateDirectories);

// What is at `name` (relative to the Library folder): nothing (also when there is no Library
// folder or it cannot be examined), a folder, or anything else (a file). Symbolic links are
// followed.
ExistedState isExisted(const std::string& name);

}  // namespace vistamo
