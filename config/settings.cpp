#include "config/settings.hpp"

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

std::int32_t IntOr(std::optional<std::string> raw, std::int32_t def) {
    if (!raw) {
        return def;
    }
    return ParseInt(*raw).value_or(def);
}

// The option keys, in the order start-up reads them.
enum class Kind { Bool, Int, Str, Byte };
struct OptionKey {
    std::string_view section;
    std::string_view key;
    Kind kind;
    bool iset::*flag = nullptr;
};

constexpr OptionKey kBoolKeys[] = {
    {kOther, "TagJump", Kind::Bool, &iset::TagJump},
    {kOther, "FileSeparate", Kind::Bool, &iset::FileSeparate},
    {kOther, "ErrorStop", Kind::Bool, &iset::ErrorStop},
    {kOther, "FileOverWrite", Kind::Bool, &iset::FileOverWrite},
    {kOther, "CloseFileDelete", Kind::Bool, &iset::CloseFileDelete},
    {kOther, "AddSortWord", Kind::Bool, &iset::AddSortWord},
    {kOther, "OutputFileOpen", Kind::Bool, &iset::OutputFileOpen},
    {kOther, "SearchIconize", Kind::Bool, &iset::SearchIconize},
    {kOther, "JapaneseWord", Kind::Bool, &iset::JapaneseWord},
    {kOther, "CRText", Kind::Bool, &iset::CRText},
};
// Written after OutputStrLength and InputEncoding, so the record order above stays.
constexpr OptionKey kShowResults = {kOther, "ShowResults", Kind::Bool, &iset::ShowResults};
constexpr std::string_view kEditorLine = "EditorLine";
constexpr std::string_view kOutputStrLength = "OutputStrLength";
constexpr std::string_view kInputEncoding = "InputEncoding";
constexpr std::string_view kEditor = "Editor";
constexpr std::string_view kDelete = "Delete";

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

// Every option field from its key, defaults from a fresh record.
void ReadOptions(const IniFile& ini, iset& o) {
    const iset def;
    for (const OptionKey& k : kBoolKeys) {
        o.*k.flag = IntOr(ini.Get(k.section, k.key), def.*k.flag ? 1 : 0) != 0;
    }
    o.OutputStrLength = IntOr(ini.Get(kOther, kOutputStrLength), def.OutputStrLength);
    o.InputEncoding = IntOr(ini.Get(kOther, kInputEncoding), def.InputEncoding);
    o.Editor = ini.Get(kFile, kEditor).value_or(def.Editor);
    o.Delete = static_cast<std::uint8_t>(IntOr(ini.Get(kFile, kDelete), def.Delete) & 0xFF);
    o.ShowResults = IntOr(ini.Get(kOther, kShowResults.key), 0) != 0;
    o.EditorLine = ini.Get(kEditorSection, kEditorLine).value_or(def.EditorLine);
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

Settings ReadSettings(const std::string& iniPath) {
    std::string bytes;
    if (!ReadIniBytes(iniPath, bytes)) {
        bytes.clear();  // unreadable: as if missing
    }
    const IniFile ini(bytes);
    Settings s;
    s.RelFile = ini.Get(kFile, "RelFile").value_or("");
    s.OutputFile = ini.Get(kFile, "OutputFile").value_or("");
    s.TopPos = IntOr(ini.Get(kPosition, "TopPos"), s.TopPos);
    s.LeftPos = IntOr(ini.Get(kPosition, "LeftPos"), s.LeftPos);
    s.Height = IntOr(ini.Get(kPosition, "Height"), s.Height);
    s.Width = IntOr(ini.Get(kPosition, "Width"), s.Width);
    ReadOptions(ini, s.Options);
    return s;
}

bool SetOption(iset& options, std::string_view key, std::string_view value) {
    const std::string v = IniFile::DecodeValue(value);
    const iset def;
    for (const OptionKey& k : kBoolKeys) {
        if (EqualNoCase(key, k.key)) {
            options.*k.flag = ParseInt(v).value_or(def.*k.flag ? 1 : 0) != 0;
            return true;
        }
    }
    if (EqualNoCase(key, kShowResults.key)) {
        options.ShowResults = ParseInt(v).value_or(0) != 0;
    } else if (EqualNoCase(key, kEditorLine)) {
        options.EditorLine = v;
    } else if (EqualNoCase(key, kOutputStrLength)) {
        options.OutputStrLength = ParseInt(v).value_or(def.OutputStrLength);
    } else if (EqualNoCase(key, kInputEncoding)) {
        options.InputEncoding = ParseInt(v).value_or(def.InputEncoding);
    } else if (EqualNoCase(key, kEditor)) {
        options.Editor = v;
    } else if (EqualNoCase(key, kDelete)) {
        options.Delete = static_cast<std::uint8_t>(ParseInt(v).value_or(def.Delete) & 0xFF);
    } else {
        return false;
    }
    return true;
}

bool WriteOptions(const std::string& iniPath, const iset& values,
                  std::string_view outputStrLengthText) {
    return Write(iniPath, [&](IniFile& ini) {
        bool ok = true;
        for (const OptionKey& k : kBoolKeys) {
            ok = ok && ini.Set(k.section, k.key, values.*k.flag ? "1" : "0");
        }
        ok = ok && ini.Set(kOther, kOutputStrLength, outputStrLengthText);
        ok = ok && ini.Set(kOther, kInputEncoding, values.InputEncoding != 0 ? "1" : "0");
        ok = ok && ini.Set(kOther, kShowResults.key, values.ShowResults ? "1" : "0");
        ok = ok && ini.Set(kFile, kEditor, values.Editor);
        return ok && ini.Set(kEditorSection, kEditorLine, values.EditorLine);
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

std::string ChooseIniPath(const std::string& exePath, bool exeDirWritable,
                          const char* xdgConfigHome, const char* home) {
    const std::string beside = std::filesystem::path(exePath).replace_extension(".INI").string();
    std::error_code ec;
    if (exeDirWritable || std::filesystem::exists(beside, ec)) {
        return beside;
    }
    std::filesystem::path base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;  // a relative value is invalid by the XDG rules
    } else if (home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        return beside;
    }
    return (base / "korvalen" / "korvalen.INI").string();
}

std::string DefaultIniPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return "korvalen.INI";
    }
    const std::string dir = exe.parent_path().string();
    const bool writable = ::access(dir.c_str(), W_OK) == 0;
    return ChooseIniPath(exe.string(), writable, std::getenv("XDG_CONFIG_HOME"),
                         std::getenv("HOME"));
}

}  // namespace korvalen
