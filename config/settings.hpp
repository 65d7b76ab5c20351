// What the INI file holds for the program: the options record, the window's
// saved place, the two paths; and the three writers, each writing only its
// own keys. Values are byte strings (paths are file-system bytes, code page
// 932 text as it is).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/options.hpp"

namespace korvalen {

struct Settings {  // everything the start-up read gives
    std::string RelFile, OutputFile;
    std::int32_t TopPos = 0, LeftPos = 0, Height = 270, Width = 465;
    iset Options;
};

// The start-up read. A missing or unreadable file gives all defaults; a
// missing key or a value that is not a valid integer gives that key's default.
Settings ReadSettings(const std::string& iniPath);
// The same read for a file the user named: none, with errno set, when the
// file is missing (ENOENT) or cannot be read (a folder, a pipe, no permission).
std::optional<Settings> ReadSettingsFile(const std::string& iniPath);

// Applies one option key (TagJump ... CRText, OutputStrLength, InputEncoding,
// SearchFolders, FolderFilter, ShowResults, Threads, Editor, EditorLine, Delete; letter case
// ignored) with its value as the INI file would hold it, as the start-up read would. False for a
// key that is not an option key.
bool SetOption(iset& options, std::string_view key, std::string_view value);
// SetOption for a value a user typed: refuses an unknown key and a value the
// start-up read would not take as meant (a switch other than 1 or 0, a number
// that is not one), leaving `options` unchanged. Empty when set, else why
// not, naming the key.
std::string SetOptionChecked(iset& options, std::string_view key, std::string_view value);

// The writers. Each rewrites the file atomically and touches only its own
// keys; false with errno set on failure, the old file then unchanged.
// Options: section Other, the ten booleans of `values` in record order as "1"
// or "0", then OutputStrLength as `outputStrLengthText` unchanged, then
// InputEncoding as "1" or "0", SearchFolders as "1" or "0", FolderFilter,
// ShowResults as "1" or "0", Threads; section File, Editor; section Editor, EditorLine.
// Delete is never written.
bool WriteOptions(const std::string& iniPath, const iset& values,
                  std::string_view outputStrLengthText);
// The same with OutputStrLength written as the number in `values`.
bool WriteOptions(const std::string& iniPath, const iset& values);
// Section Position: TopPos, LeftPos, Height, Width.
bool WritePosition(const std::string& iniPath, int top, int left, int height, int width);
// Section File: RelFile, OutputFile.
bool WritePaths(const std::string& iniPath, std::string_view relFile, std::string_view outFile);

// Where the settings live. A program run from its build or a folder of its
// own keeps them beside itself (<program>.INI); an installed one never does,
// even as root, so no user's settings become everyone's.
enum class IniPlace {
    Beside,             // the folder is writable or the INI file is there
    PerUserElseBeside,  // per user; beside only when the user has no home
    PerUser,            // installed: a system folder or ../share/korvalen
};
IniPlace IniPlaceOf(const std::string& exePath, bool exeDirWritable);

// <program>.INI or $XDG_CONFIG_HOME/korvalen/korvalen.INI ($HOME/.config
// when XDG_CONFIG_HOME is unset or relative); empty when an installed
// program finds no home.
std::string ChooseIniPath(const std::string& exePath, IniPlace place, const char* xdgConfigHome,
                          const char* home);

// The choice above for this process.
std::string DefaultIniPath();

}  // namespace korvalen
