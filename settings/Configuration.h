#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QString;
class Config;

namespace qm {
class FileSystem;

// A list of byte strings kept in one buffer, so that a settings file of many short lines
// costs little more than its own size.
class TextList final
{
public:
    std::size_t size() const { return m_ends.size(); }
    bool empty() const { return m_ends.empty(); }
    std::string_view operator[](std::size_t i) const;
    void clear();
    void append(std::string_view text);
    void reserve(std::size_t bytes, std::size_t entries);

private:
    friend class ::Config; // splits a whole file straight into the buffer

    std::string m_data;
    std::vector<std::size_t> m_ends;
};

// Parses an integer text: leading blanks, then an optional sign and decimal digits within
// the signed 32-bit range, or "$", "X" or "0X" (either case) and hexadecimal digits taken
// as a 32-bit pattern. Nothing may follow. False on anything else.
bool parseIntegerText(std::string_view text, std::int32_t &value);

} // namespace qm

// The game client's settings file "config/setup.ini" below the installation folder,
// read once on construction. Texts are bytes in the game's ANSI code page.
class Config final
{
public:
    // Reads through `files` (the game's Windows paths); the second form uses the host's.
    Config(const QString &folder, const qm::FileSystem &files);
    explicit Config(const QString &folder);

    Config(const Config &) = delete;
    Config &operator=(const Config &) = delete;

    std::string GetHost() const;
    std::int32_t GetPort() const;

    bool FullScreen = true;
    bool SkipIntro = false;
    bool PageFlipping = true;
    bool BlockTransfer = false;
    bool Music = true;
    bool Sound = true;
    bool ScreenExists = false;
    bool StayOnTop = false;
    bool Sizeable = true;
    bool StaticSprites = false;
    bool StaticObjects = false;
    bool StaticTiles = false;
    std::int32_t Language = 0;
    std::int32_t Keyboard = 0;
    bool Filter = true;
    bool FilterAll = false;
    bool LogChat = false;
    std::string LogFile;
    bool HearWhisper = true;
    bool Interaction = true;
    bool ShowBaloons = true;
    bool ShowShadows = true;
    bool InitialMusic = true;
    bool InitialSound = true;
    std::string Host;
    std::string Port;
    qm::TextList RawLines;
    qm::TextList KeyLines;

private:
    void ReadSettings(const QString &folder, const qm::FileSystem &files);
    static void SplitLines(std::string &text, qm::TextList &rawLines, qm::TextList &keyLines);
};
