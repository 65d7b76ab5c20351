#include "config/settings.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <system_error>

#include "config/ini_file.hpp"

namespace korvalen {

namespace {

constexpr std::string_view kFile = "File";
constexpr std::string_view kPosition = "Position";
constexpr std::string_view kEditorSection = "Editor";
constexpr std::string_view kOther = "Other";

// Decimal digits with an optional leading minus, within 32 bits; anything
// else is not an integer and the caller falls back to its default.
std::optional<std::int32_t> ParseInt(std::string_view s) {
    if (s.empty() || s.front() == '+') {
        return std::nullopt;
    }
    std::int32_t v = 0;
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, v, 10);
    if (ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return v;
}

std::int32_t IntOr(const std::optional<std::string>& raw, std::int32_t def) {
    if (!raw) {
        return def;
    }
    return ParseInt(*raw).value_or(def);
}

// The option keys, in the order start-up reads them and the options writer
// writes them. This table is the one place that knows an option key: a row
// gives the key its reading, its writing, and what --set accepts for it.
// Each row is made by the function named for how a user gives the value:
//   Switch  1 or 0 (a check box); any integer reads, non-zero being on
//   Number  a whole number within 32 bits
//   Byte    a number of which the low 8 bits count; never written
//   Text    any text
enum class Kind { Switch, Number, Byte, Text };
struct OptionKey {
    std::string_view section;
    std::string_view key;
    Kind kind;
    // Exactly one of these names the field.
    bool iset::*flag = nullptr;
    std::int32_t iset::*number = nullptr;
    std::uint8_t iset::*byte = nullptr;
    std::string iset::*text = nullptr;
};

constexpr OptionKey Switch(std::string_view section, std::string_view key, bool iset::*field) {
    return {section, key, Kind::Switch, field};
}
// A switch kept as a number (read back as stored; written as 1 or 0).
constexpr OptionKey Switch(std::string_view section, std::string_view key,
                           std::int32_t iset::*field) {
    return {section, key, Kind::Switch, nullptr, field};
}
constexpr OptionKey Number(std::string_view section, std::string_view key,
                           std::int32_t iset::*field) {
    return {section, key, Kind::Number, nullptr, field};
}
constexpr OptionKey Byte(std::string_view section, std::string_view key,
                         std::uint8_t iset::*field) {
    return {section, key, Kind::Byte, nullptr, nullptr, field};
}
constexpr OptionKey Text(std::string_view section, std::string_view key, std::string iset::*field) {
    return {section, key, Kind::Text, nullptr, nullptr, nullptr, field};
}

constexpr OptionKey kOptionKeys[] = {
    Switch(kOther, "TagJump", &iset::TagJump),
    Switch(kOther, "FileSeparate", &iset::FileSeparate),
    Switch(kOther, "ErrorStop", &iset::ErrorStop),
    Switch(kOther, "FileOverWrite", &iset::FileOverWrite),
    Switch(kOther, "CloseFileDelete", &iset::CloseFileDelete),
    Switch(kOther, "AddSortWord", &iset::AddSortWord),
    Switch(kOther, "OutputFileOpen", &iset::OutputFileOpen),
    Switch(kOther, "SearchIconize", &iset::SearchIconize),
    Switch(kOther, "JapaneseWord", &iset::JapaneseWord),
    Switch(kOther, "CRText", &iset::CRText),
    Number(kOther, "OutputStrLength", &iset::OutputStrLength),
    Switch(kOther, "InputEncoding", &iset::InputEncoding),
    Switch(kOther, "SearchFolders", &iset::SearchFolders),
    Text(kOther, "FolderFilter", &iset::FolderFilter),
    Switch(kOther, "ShowResults", &iset::ShowResults),
    Number(kOther, "Threads", &iset::Threads),
    Text(kFile, "Editor", &iset::Editor),
    Text(kEditorSection, "EditorLine", &iset::EditorLine),
    Byte(kFile, "Delete", &iset::Delete),
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

const OptionKey* FindKey(std::string_view key) {
    for (const OptionKey& k : kOptionKeys) {
        if (EqualNoCase(key, k.key)) {
            return &k;
        }
    }
    return nullptr;
}

// Puts a stored value (unquoted; none when the key is missing) into its
// field as the start-up read does: what does not read gives the default.
void Apply(const OptionKey& k, iset& o, const std::optional<std::string>& value) {
    static const iset def;
    if (k.flag != nullptr) {
        o.*k.flag = IntOr(value, def.*k.flag ? 1 : 0) != 0;
    } else if (k.number != nullptr) {
        o.*k.number = IntOr(value, def.*k.number);
    } else if (k.byte != nullptr) {
        o.*k.byte = static_cast<std::uint8_t>(IntOr(value, def.*k.byte) & 0xFF);
    } else {
        o.*k.text = value.value_or(def.*k.text);
    }
}

// What a user must give for the key, when `value` (unquoted) is not that;
// empty when the start-up read takes it as meant.
std::string_view Expected(const OptionKey& k, const std::string& value) {
    switch (k.kind) {
        case Kind::Switch:
            return value == "0" || value == "1" ? "" : "1 or 0";
        case Kind::Number:
            return ParseInt(value) ? "" : "a whole number";
        case Kind::Byte: {
            const std::optional<std::int32_t> v = ParseInt(value);
            return v && *v >= 0 && *v <= 255 ? "" : "a number from 0 to 255";
        }
        case Kind::Text:
            break;
    }
    return "";
}

// The text the options writer stores for the key.
std::string Stored(const OptionKey& k, const iset& o, std::string_view outputStrLengthText) {
    if (k.kind == Kind::Switch) {
        return (k.flag != nullptr ? o.*k.flag : o.*k.number != 0) ? "1" : "0";
    }
    if (k.number == &iset::OutputStrLength) {
        return std::string(outputStrLengthText);  // the dialog's box as it reads
    }
    if (k.number != nullptr) {
        return std::to_string(o.*k.number);
    }
    return o.*k.text;
}

// Creates the folders above a file about to be written for the first time
// (the XDG place may not exist yet).
void MakeParentFolders(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(parent, ec);
    }
}

template <class F>
bool Write(const std::string& iniPath, F&& change) {
    MakeParentFolders(iniPath);
    return UpdateIniFile(iniPath, [&](IniFile& ini) {
        if (!change(ini)) {
            errno = EINVAL;  // a value with a line break
            return false;
        }
        return true;
    });
}

}  // namespace

namespace {

Settings FromBytes(const std::string& bytes) {
    const IniFile ini(bytes);
    Settings s;
    s.RelFile = ini.Get(kFile, "RelFile").value_or("");
    s.OutputFile = ini.Get(kFile, "OutputFile").value_or("");
    s.TopPos = IntOr(ini.Get(kPosition, "TopPos"), s.TopPos);
    s.LeftPos = IntOr(ini.Get(kPosition, "LeftPos"), s.LeftPos);
    s.Height = IntOr(ini.Get(kPosition, "Height"), s.Height);
    s.Width = IntOr(ini.Get(kPosition, "Width"), s.Width);
    for (const OptionKey& k : kOptionKeys) {
        Apply(k, s.Options, ini.Get(k.section, k.key));
    }
    return s;
}

}  // namespace

Settings ReadSettings(const std::string& iniPath) {
    std::string bytes;
    if (!ReadIniBytes(iniPath, bytes)) {
        bytes.clear();  // unreadable: as if missing
    }
    return FromBytes(bytes);
}

std::optional<Settings> ReadSettingsFile(const std::string& iniPath) {
    std::string bytes;
    if (!ReadIniBytes(iniPath, bytes) || errno == ENOENT) {
        return std::nullopt;
    }
    return FromBytes(bytes);
}

bool SetOption(iset& options, std::string_view key, std::string_view value) {
    const OptionKey* k = FindKey(key);
    if (k == nullptr) {
        return false;
    }
    Apply(*k, options, IniFile::DecodeValue(value));
    return true;
}

std::string SetOptionChecked(iset& options, std::string_view key, std::string_view value) {
    const OptionKey* k = FindKey(key);
    if (k == nullptr) {
        std::string why = std::string(key) + " is not an option key; the keys are";
        for (const OptionKey& known : kOptionKeys) {
            why += (&known == kOptionKeys ? " " : ", ") + std::string(known.key);
        }
        return why;
    }
    const std::string v = IniFile::DecodeValue(value);
    if (const std::string_view expected = Expected(*k, v); !expected.empty()) {
        return std::string(k->key) + " takes " + std::string(expected);
    }
    Apply(*k, options, v);
    return {};
}

bool WriteOptions(const std::string& iniPath, const iset& values,
                  std::string_view outputStrLengthText) {
    return Write(iniPath, [&](IniFile& ini) {
        bool ok = true;
        for (const OptionKey& k : kOptionKeys) {
            if (k.kind != Kind::Byte) {  // Delete is set by hand only
                ok = ok && ini.Set(k.section, k.key, Stored(k, values, outputStrLengthText));
            }
        }
        return ok;
    });
}

bool WriteOptions(const std::string& iniPath, const iset& values) {
    return WriteOptions(iniPath, values, std::to_string(values.OutputStrLength));
}

bool WritePosition(const std::string& iniPath, int top, int left, int height, int width) {
    return Write(iniPath, [&](IniFile& ini) {
        ini.Set(kPosition, "TopPos", std::to_string(top));
        ini.Set(kPosition, "LeftPos", std::to_string(left));
        ini.Set(kPosition, "Height", std::to_string(height));
        ini.Set(kPosition, "Width", std::to_string(width));
        return true;
    });
}

bool WritePaths(const std::string& iniPath, std::string_view relFile, std::string_view outFile) {
    return Write(iniPath, [&](IniFile& ini) {
        return ini.Set(kFile, "RelFile", relFile) && ini.Set(kFile, "OutputFile", outFile);
    });
}

std::string ChooseIniPath(const std::string& exePath, IniPlace place, const char* xdgConfigHome,
                          const char* home) {
    const std::string beside = std::filesystem::path(exePath).replace_extension(".INI").string();
    if (place == IniPlace::Beside) {
        return beside;
    }
    std::filesystem::path base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;  // a relative value is invalid by the XDG rules
    } else if (home != nullptr && home[0] == '/') {
        base = std::filesystem::path(home) / ".config";
    } else if (place == IniPlace::PerUser) {
        return {};  // nowhere of the user's own: nothing is read or written
    } else {
        return beside;
    }
    return (base / "korvalen" / "korvalen.INI").string();
}

IniPlace IniPlaceOf(const std::string& exePath, bool exeDirWritable) {
    const std::filesystem::path exe(exePath);
    const std::filesystem::path dir = exe.parent_path();
    // Root can write /usr/bin: an INI made there would become every user's.
    static constexpr std::string_view kSystemDirs[] = {
        "/bin",       "/sbin",          "/usr/bin",       "/usr/sbin",
        "/usr/games", "/usr/local/bin", "/usr/local/sbin"};
    for (std::string_view system : kSystemDirs) {
        if (dir == system) {
            return IniPlace::PerUser;
        }
    }
    std::error_code ec;
    if (std::filesystem::is_directory(dir / ".." / "share" / "korvalen", ec)) {
        return IniPlace::PerUser;  // installed under some prefix
    }
    const std::filesystem::path beside = std::filesystem::path(exe).replace_extension(".INI");
    if (exeDirWritable || std::filesystem::exists(beside, ec)) {
        return IniPlace::Beside;
    }
    return IniPlace::PerUserElseBeside;
}

std::string DefaultIniPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return "korvalen.INI";
    }
    const std::string dir = exe.parent_path().string();
    const bool writable = ::access(dir.c_str(), W_OK) == 0;
    const char* home = std::getenv("HOME");
    const passwd* user = ::getpwuid(::getuid());
    if ((home == nullptr || home[0] != '/') && user != nullptr) {
        home = user->pw_dir;  // sudo -H, su, a service: HOME may be unset
    }
    return ChooseIniPath(exe.string(), IniPlaceOf(exe.string(), writable),
                         std::getenv("XDG_CONFIG_HOME"), home);
}

}  // namespace korvalen
