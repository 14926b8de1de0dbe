#include "settings/Configuration.h"

#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace qm {

std::string_view TextList::operator[](std::size_t i) const
{
    const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
    return std::string_view(m_data.data() + begin, m_ends[i] - begin);
}

void TextList::clear()
{
    m_data.clear();
    m_ends.clear();
}

void TextList::append(std::string_view text)
{
    // The end goes in first so that a failed append leaves the list as it was.
    m_ends.push_back(m_data.size() + text.size());
    try {
        m_data.append(text.data(), text.size());
    } catch (...) {
        m_ends.pop_back();
        throw;
    }
}

void TextList::reserve(std::size_t bytes, std::size_t entries)
{
    m_data.reserve(bytes);
    m_ends.reserve(entries);
}

namespace {

constexpr bool isBlank(char c) { return c == ' '; }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool parseIntegerText(std::string_view text, std::int32_t &value)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i == text.size())
        return false;

    std::size_t hexStart = std::string_view::npos;
    if (text[i] == '$' || text[i] == 'X' || text[i] == 'x')
        hexStart = i + 1;
    else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'X' || text[i + 1] == 'x'))
        hexStart = i + 2;

    if (hexStart != std::string_view::npos) {
        if (hexStart == text.size())
            return false;
        std::uint32_t pattern = 0;
        int significant = 0;
        for (std::size_t j = hexStart; j < text.size(); ++j) {
            const int digit = hexDigit(text[j]);
            if (digit < 0)
                return false;
            if (significant > 0 || digit != 0) {
                if (++significant > 8)
                    return false;
            }
            pattern = (pattern << 4) | static_cast<std::uint32_t>(digit);
        }
        value = static_cast<std::int32_t>(pattern);
        return true;
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    // The magnitude stops growing past the range so that long digit runs cannot overflow.
    const std::int64_t limit = negative ? std::int64_t(1) << 31 : (std::int64_t(1) << 31) - 1;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return false;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

} // namespace qm

namespace {

enum class Kind { Text, Number, OnSwitch, OffSwitch };

struct Key
{
    std::string_view name;
    Kind kind;
    bool Config::*flag;
    std::string Config::*text;
    std::int32_t Config::*number;
};

constexpr Key textKey(std::string_view name, std::string Config::*member)
{
    return {name, Kind::Text, nullptr, member, nullptr};
}
constexpr Key numberKey(std::string_view name, std::int32_t Config::*member)
{
    return {name, Kind::Number, nullptr, nullptr, member};
}
constexpr Key onKey(std::string_view name, bool Config::*member)
{
    return {name, Kind::OnSwitch, member, nullptr, nullptr};
}
constexpr Key offKey(std::string_view name, bool Config::*member)
{
    return {name, Kind::OffSwitch, member, nullptr, nullptr};
}

// In the order the client compares them.
constexpr std::array<Key, 23> kKeys = {{
    textKey("HOST", &Config::Host),
    textKey("PORT", &Config::Port),
    offKey("FULLSCREEN", &Config::FullScreen),
    onKey("SKIPINTRO", &Config::SkipIntro),
    offKey("PAGEFLIPPING", &Config::PageFlipping),
    onKey("BLOCKTRANSFER", &Config::BlockTransfer),
    onKey("STAYONTOP", &Config::StayOnTop),
    offKey("SIZEABLE", &Config::Sizeable),
    onKey("STATICSPRITES", &Config::StaticSprites),
    onKey("STATICOBJECTS", &Config::StaticObjects),
    onKey("STATICTILES", &Config::StaticTiles),
    numberKey("LANGUAGE", &Config::Language),
    numberKey("KEYBOARD", &Config::Keyboard),
    offKey("FILTER", &Config::Filter),
    onKey("FILTERALL", &Config::FilterAll),
    offKey("SOUND", &Config::Sound),
    offKey("MUSIC", &Config::Music),
    offKey("SHOWBALOONS", &Config::ShowBaloons),
    offKey("SHOWSHADOWS", &Config::ShowShadows),
    offKey("HEARWHISPER", &Config::HearWhisper),
    offKey("INTERACTION", &Config::Interaction),
    onKey("LOGCHAT", &Config::LogChat),
    textKey("LOGFILE", &Config::LogFile),
}};

constexpr std::size_t longestKey()
{
    std::size_t longest = 0;
    for (const Key &key : kKeys)
        longest = std::max(longest, key.name.size());
    return longest;
}
constexpr std::size_t kLongestKey = longestKey();

constexpr bool isSwitch(Kind kind) { return kind == Kind::OnSwitch || kind == Kind::OffSwitch; }

// A line's key text only grows, so two keys can match on one line only when one is a
// prefix of the other (FILTER and FILTERALL). The matcher keeps one value text per line
// in one of two forms, whole bytes or switch letters; that is exact only while such
// pairs share the form.
constexpr bool prefixPairsShareValueForm()
{
    for (const Key &a : kKeys) {
        for (const Key &b : kKeys) {
            if (a.name.size() < b.name.size() && b.name.substr(0, a.name.size()) == a.name
                && isSwitch(a.kind) != isSwitch(b.kind))
                return false;
        }
    }
    return true;
}
static_assert(prefixPairsShareValueForm(), "keys that prefix each other need one value form");

constexpr bool isSwitchLetter(char c) { return c == 'O' || c == 'N' || c == 'F'; }

// Bytes of a 64-bit word, tested eight at a time; each test sets the top bit of exactly
// the bytes it is true for.
constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kTops = 0x8080808080808080ull;

std::uint64_t bytesEqual(std::uint64_t word, unsigned char byte)
{
    const std::uint64_t x = word ^ (kOnes * byte);
    return ~(((x & ~kTops) + ~kTops) | x) & kTops;
}

std::uint64_t bytesLowerCase(std::uint64_t word)
{
    const std::uint64_t atLeastA = (word | kTops) - kOnes * 'a';
    const std::uint64_t aboveZ = (word | kTops) - kOnes * ('z' + 1);
    return atLeastA & ~aboveZ & ~word & kTops;
}

// The bits of the first `n` bytes (0 to 8) of a word, in memory order.
std::uint64_t firstBytes(std::size_t n)
{
    if (n >= 8)
        return ~std::uint64_t(0);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return ~(~std::uint64_t(0) >> (8 * n));
#else
    return (std::uint64_t(1) << (8 * n)) - 1;
#endif
}

// The memory position of the first byte marked by a test; `marks` is not zero.
std::size_t firstMarked(std::uint64_t marks)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<std::size_t>(__builtin_clzll(marks)) / 8;
#else
    return static_cast<std::size_t>(__builtin_ctzll(marks)) / 8;
#endif
}

std::size_t countMarked(std::uint64_t marks)
{
    return static_cast<std::size_t>(((marks >> 7) * kOnes) >> 56);
}

// Key texts are compared as two 64-bit words, zero-padded, found through a small hash
// table: a line's key text is looked up at every "=" before it outgrows the longest key.
constexpr std::size_t kKeyTextCapacity = 16;
static_assert(kLongestKey <= kKeyTextCapacity, "key text buffer too small");

struct PackedText
{
    std::uint64_t words[2];
};

PackedText pack(const char (&text)[kKeyTextCapacity])
{
    PackedText packed;
    std::memcpy(packed.words, text, sizeof text);
    return packed;
}

std::size_t keyHash(const PackedText &text, std::size_t size)
{
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    const std::uint64_t mixed = text.words[0] ^ (text.words[1] * kMultiplier) ^ size;
    return static_cast<std::size_t>((mixed * kMultiplier) >> 58); // 64 slots
}

class KeyIndex final
{
public:
    KeyIndex()
    {
        m_slots.fill(kEmpty);
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            char text[kKeyTextCapacity] = {};
            std::memcpy(text, kKeys[i].name.data(), kKeys[i].name.size());
            m_packed[i] = pack(text);
            std::size_t slot = keyHash(m_packed[i], kKeys[i].name.size());
            while (m_slots[slot] != kEmpty)
                slot = (slot + 1) % m_slots.size();
            m_slots[slot] = static_cast<std::uint8_t>(i);
        }
    }

    // `text` holds `size` bytes followed by zeros; a key text may hold any byte, zero too.
    const Key *find(const char (&text)[kKeyTextCapacity], std::size_t size) const
    {
        return find(pack(text), size);
    }

    const Key *find(const PackedText &packed, std::size_t size) const
    {
        for (std::size_t slot = keyHash(packed, size);; slot = (slot + 1) % m_slots.size()) {
            const std::uint8_t i = m_slots[slot];
            if (i == kEmpty)
                return nullptr;
            if (kKeys[i].name.size() == size && m_packed[i].words[0] == packed.words[0]
                && m_packed[i].words[1] == packed.words[1])
                return &kKeys[i];
        }
    }

private:
    static constexpr std::uint8_t kEmpty = 0xFF;
    std::array<std::uint8_t, 64> m_slots{};
    std::array<PackedText, kKeys.size()> m_packed{};
};
// Built on first use, so that a reader made while other statics start up finds it ready.
const KeyIndex &keyIndex()
{
    static const KeyIndex index;
    return index;
}

// What splitting does with each byte, in one entry: the byte for the key line (upper-cased),
// then one bit each for "stays in the raw line", "stays in the key line", "ends the line".
constexpr std::uint32_t kInRaw = 1u << 8;
constexpr std::uint32_t kInKey = 1u << 9;
constexpr std::uint32_t kEndsLine = 1u << 10;

constexpr std::array<std::uint32_t, 256> makeByteTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t c = 0; c < 256; ++c) {
        std::uint32_t entry = c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
        if (c != '\r' && c != '\n')
            entry |= kInRaw;
        if (c != '\r' && c != '\n' && c != ' ')
            entry |= kInKey;
        if (c == '\n')
            entry |= kEndsLine;
        table[c] = entry;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kByteTable = makeByteTable();

// At most one text or number key can match on a line: the key text only grows, so two keys
// match on one line only when one is a prefix of the other, and no two such keys are
// both of these kinds. A line's value text thus belongs to one member.
constexpr bool oneValueKeyPerLine()
{
    for (const Key &a : kKeys) {
        for (const Key &b : kKeys) {
            if (a.name.size() < b.name.size() && b.name.substr(0, a.name.size()) == a.name
                && !isSwitch(a.kind) && !isSwitch(b.kind))
                return false;
        }
    }
    return true;
}
static_assert(oneValueKeyPerLine(), "a line's value text must belong to one key");

// The memory that all value texts may hold at once: the text members and the value text of
// the line being read, its growth included (the old and the new buffer while it moves).
// A real settings file holds values of a few bytes; only a line crafted to repeat "="
// after a key comes near it, and reading ends there, as the game's reader ends where its
// memory runs out.
constexpr std::size_t kValueBudget = std::size_t(16) << 20;
// What the line's value text may keep for the next line once its number is read.
constexpr std::size_t kKeptValueCapacity = 4096;

// Applies the key lines to the members, one line after the other. Every "=" compares the
// key text so far with the keys, and a match adds the rest of the line to the line's value
// text, so a line like HOST==== matches again at every "=" and its value text grows with
// the square of the line. Switches need only their first three letters and cost nothing
// per match; text and number values are really built, within the fixed memory budget
// kValueBudget, and reading ends quietly where the budget would be exceeded, as it would
// have where memory ran out.
class KeyMatcher final
{
public:
    // `buffer` holds all key lines; a line's first bytes are read in one piece from it.
    KeyMatcher(Config &config, std::string_view buffer)
        : m_config(config), m_keys(keyIndex()), m_buffer(buffer)
    {
    }

    // False when reading must end here.
    bool applyLine(std::size_t begin, std::size_t end)
    {
        const std::string_view line = m_buffer.substr(begin, end - begin);
        m_value.clear();
        m_pending = {};
        const bool goOn = firstBytesDecide(begin, line) ? matchOnce(line) : matchLine(line);
        applyPending();
        return goOn;
    }

    // Applies what the current line had matched, also when reading was interrupted in it.
    // A text member takes the value text's buffer itself, its own going first: no copy is
    // made, so the budget holds while values are handed over.
    void applyPending()
    {
        const Key *key = m_pending.key;
        if (!key)
            return;
        m_pending.key = nullptr;
        m_value.resize(m_pending.valueSize); // no longer: nothing follows the last match
        if (key->kind == Kind::Text) {
            std::string &member = m_config.*key->text;
            std::string().swap(member);
            member = std::move(m_value);
            std::string().swap(m_value);
        } else {
            std::int32_t number = 0;
            if (!qm::parseIntegerText(m_value, number) || number < 0 || number > 3)
                number = 0;
            m_config.*key->number = number;
            if (m_value.capacity() > kKeptValueCapacity)
                std::string().swap(m_value); // a grown number text keeps no room from others
        }
    }

private:
    struct Pending
    {
        const Key *key = nullptr;
        std::size_t valueSize = 0;
    };

    // What the value texts hold now: the text members and the line's value text.
    std::size_t heldByValues() const
    {
        std::size_t held = m_value.capacity();
        for (const Key &key : kKeys) {
            if (key.kind == Kind::Text)
                held += (m_config.*key.text).capacity();
        }
        return held;
    }

    // Makes room for `needed` bytes of value text within the budget; false when the budget
    // has none. The buffer at least doubles, so that a growing line costs linear time, and
    // is moved by hand: a string's own growth may overshoot the room.
    bool reserveValue(std::size_t needed)
    {
        if (needed <= m_value.capacity())
            return true;
        const std::size_t held = heldByValues(); // the old buffer stays held while it moves
        if (held >= kValueBudget || needed > kValueBudget - held)
            return false;
        const std::size_t room = kValueBudget - held;
        std::string grown;
        grown.reserve(std::min(std::max(needed, 2 * m_value.capacity()), room));
        grown.append(m_value);
        m_value.swap(grown);
        return true;
    }

    // A switch's value: the letters O, N and F that follow its matches. They are counted
    // over the rest of the line at the first switch match and kept up to date while the
    // visit passes them; only the last three of the line can end up in a short value.
    struct SwitchValue
    {
        bool lettersCounted = false;
        std::size_t lettersAhead = 0;
        char lastLetters[3] = {};
        std::size_t lastLetterCount = 0;
        char text[3] = {};
        std::size_t size = 0;
    };

    enum class Step { NextByte, LineDone, StopReading };

    // Any "=" after the sixteenth byte follows a key text of at least 15 bytes when fewer
    // than two came before, so most lines are settled by their first sixteen bytes: either
    // there is no "=" among them, or one whose key text is the bytes before it.
    static constexpr std::size_t kWindow = 16;
    static_assert(kLongestKey + 2 <= kWindow, "window too small for the keys");

    bool firstBytesDecide(std::size_t begin, std::string_view line)
    {
        char window[kWindow] = {};
        if (begin + kWindow <= m_buffer.size())
            std::memcpy(window, m_buffer.data() + begin, kWindow);
        else
            std::memcpy(window, line.data(), std::min(line.size(), kWindow));
        std::memcpy(m_window.words, window, kWindow);
        const std::size_t size = std::min(line.size(), kWindow);
        const std::uint64_t marks[2] = {
            bytesEqual(m_window.words[0], '=') & firstBytes(size),
            bytesEqual(m_window.words[1], '=') & firstBytes(size > 8 ? size - 8 : 0),
        };
        const std::size_t count = countMarked(marks[0]) + countMarked(marks[1]);
        if (count == 0)
            m_firstEquals = line.size();
        else
            m_firstEquals = marks[0] ? firstMarked(marks[0]) : 8 + firstMarked(marks[1]);
        return count <= 1;
    }

    // The line has at most one "=" whose key text can match, at m_firstEquals.
    bool matchOnce(std::string_view line)
    {
        const std::size_t at = m_firstEquals;
        if (at == 0 || at > kLongestKey || at >= line.size())
            return true;
        PackedText keyText = m_window;
        keyText.words[0] &= firstBytes(at);
        keyText.words[1] &= firstBytes(at > 8 ? at - 8 : 0);
        const Key *key = m_keys.find(keyText, at);
        if (!key)
            return true;
        SwitchValue switchValue;
        return onMatch(*key, line.substr(at + 1), switchValue) != Step::StopReading;
    }

    bool matchLine(std::string_view line)
    {
        char keyText[kKeyTextCapacity] = {};
        std::size_t keySize = 0;
        SwitchValue switchValue;

        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c != '=') {
                if (keySize == kLongestKey)
                    return true; // longer than every key from here on
                keyText[keySize++] = c;
                if (switchValue.lettersCounted && isSwitchLetter(c))
                    --switchValue.lettersAhead;
                continue;
            }
            if (keySize == 0)
                continue;
            const Key *key = m_keys.find(keyText, keySize);
            if (!key)
                continue;
            switch (onMatch(*key, line.substr(i + 1), switchValue)) {
            case Step::NextByte:
                break;
            case Step::LineDone:
                return true;
            case Step::StopReading:
                return false;
            }
        }
        return true;
    }

    Step onMatch(const Key &key, std::string_view rest, SwitchValue &sw)
    {
        if (isSwitch(key.kind)) {
            if (!sw.lettersCounted) {
                sw.lettersCounted = true;
                for (const char r : rest) {
                    if (isSwitchLetter(r)) {
                        ++sw.lettersAhead;
                        sw.lastLetters[sw.lastLetterCount % 3] = r;
                        ++sw.lastLetterCount;
                    }
                }
            }
            // Past three letters the value can never again read ON or OFF on this line,
            // and every later match on it is a switch too.
            if (sw.size + sw.lettersAhead > 3)
                return Step::LineDone;
            for (std::size_t k = sw.lettersAhead; k > 0; --k)
                sw.text[sw.size++] = sw.lastLetters[(sw.lastLetterCount - k) % 3];
            const std::string_view value(sw.text, sw.size);
            if (key.kind == Kind::OnSwitch && value == "ON")
                m_config.*key.flag = true;
            else if (key.kind == Kind::OffSwitch && value == "OFF")
                m_config.*key.flag = false;
            return Step::NextByte;
        }

        if (!reserveValue(m_value.size() + rest.size()))
            return Step::StopReading;
        m_value.append(rest.data(), rest.size());
        m_pending = {&key, m_value.size()};
        return Step::NextByte;
    }

    Config &m_config;
    const KeyIndex &m_keys;
    const std::string_view m_buffer;
    std::size_t m_firstEquals = 0;
    PackedText m_window = {};
    std::string m_value;
    Pending m_pending;
};

bool screenBesideExecutable()
{
    // The program's own folder; without an application object, the process's image as
    // the system names it.
    QString executable = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                      : QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const qsizetype separator = std::max(executable.lastIndexOf(QLatin1Char('\\')), executable.lastIndexOf(QLatin1Char('/')));
    executable.truncate(separator + 1);
    return QFileInfo::exists(executable + QLatin1String("screen"));
}

} // namespace

Config::Config(const QString &folder, const qm::FileSystem &files)
{
    LogFile = "chatlog.txt";
    ReadSettings(folder, files);
    InitialMusic = Music;
    InitialSound = Sound;
    ScreenExists = screenBesideExecutable();
}

Config::Config(const QString &folder)
    : Config(folder, qm::hostFileSystem())
{
}

std::string Config::GetHost() const
{
    return Host;
}

std::int32_t Config::GetPort() const
{
    std::int32_t port = 0;
    return qm::parseIntegerText(Port, port) ? port : 8078;
}

// One pass over the text, eight bytes at a time. Words without line feed or carriage
// return are copied whole (less their blanks in key lines); in the others the bytes go one
// by one without branches: each is stored into both buffers, the write positions advance
// only over the bytes that stay, and the current line's ends are rewritten at each of them
// and become final at its line feed. Raw lines never run ahead of the text, so they are
// written over it and the text's buffer becomes theirs.
void Config::SplitLines(std::string &text, qm::TextList &rawLines, qm::TextList &keyLines)
{
    if (text.empty())
        return;
    const auto *in = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t size = text.size();
    constexpr std::size_t kWord = sizeof(std::uint64_t);

    std::size_t lineFeeds = 0;
    std::size_t i = 0;
    for (; i + kWord <= size; i += kWord) {
        std::uint64_t word;
        std::memcpy(&word, in + i, kWord);
        lineFeeds += countMarked(bytesEqual(word, '\n'));
    }
    for (; i < size; ++i)
        lineFeeds += in[i] == '\n';
    const bool lastLineOpen = in[size - 1] != '\n';

    // Everything is allocated first, so that nothing can fail halfway and leave the two
    // lists with different numbers of entries.
    std::string key(size, '\0');
    std::vector<std::size_t> rawEnds(lineFeeds + 1);
    std::vector<std::size_t> keyEnds(lineFeeds + 1);

    char *const rawBase = text.data();
    char *const keyBase = key.data();
    char *r = rawBase;
    char *k = keyBase;
    std::size_t *re = rawEnds.data();
    std::size_t *ke = keyEnds.data();
    auto oneByte = [&](unsigned char c) {
        const std::uint32_t entry = kByteTable[c];
        *r = static_cast<char>(c);
        r += (entry >> 8) & 1;
        *k = static_cast<char>(entry);
        k += (entry >> 9) & 1;
        *re = static_cast<std::size_t>(r - rawBase);
        *ke = static_cast<std::size_t>(k - keyBase);
        re += (entry >> 10) & 1;
        ke += (entry >> 10) & 1;
    };
    for (i = 0; i + kWord <= size; i += kWord) {
        std::uint64_t word;
        std::memcpy(&word, in + i, kWord);
        if ((bytesEqual(word, '\n') | bytesEqual(word, '\r')) != 0) {
            for (std::size_t j = 0; j < kWord; ++j)
                oneByte(in[i + j]);
            continue;
        }
        std::memcpy(r, &word, kWord);
        r += kWord;
        const std::uint64_t upper = word ^ (bytesLowerCase(word) >> 2); // 0x80 >> 2: case bit
        if (bytesEqual(word, ' ') == 0) {
            std::memcpy(k, &upper, kWord);
            k += kWord;
        } else {
            unsigned char bytes[kWord];
            std::memcpy(bytes, &upper, kWord);
            for (const unsigned char c : bytes) {
                *k = static_cast<char>(c);
                k += c != ' ';
            }
        }
    }
    for (; i < size; ++i)
        oneByte(in[i]);
    if (lastLineOpen) {
        *re = static_cast<std::size_t>(r - rawBase);
        *ke = static_cast<std::size_t>(k - keyBase);
    }

    const std::size_t lines = lineFeeds + (lastLineOpen ? 1 : 0);
    text.resize(static_cast<std::size_t>(r - rawBase));
    key.resize(static_cast<std::size_t>(k - keyBase));
    rawEnds.resize(lines);
    keyEnds.resize(lines);
    rawLines.m_data.swap(text);
    rawLines.m_ends.swap(rawEnds);
    keyLines.m_data.swap(key);
    keyLines.m_ends.swap(keyEnds);
}

void Config::ReadSettings(const QString &folder, const qm::FileSystem &files)
{
    KeyLines.clear();
    RawLines.clear();

    try {
        std::string text;
        try {
            if (!files.readWholeFile(folder + QStringLiteral("/config/setup.ini"), text))
                text.clear();
        } catch (const std::bad_alloc &) {
            text.clear();
        }
        SplitLines(text, RawLines, KeyLines);
    } catch (const std::bad_alloc &) {
        // Splitting allocates before it fills anything: the lists are still empty.
        return;
    }

    KeyMatcher matcher(*this, KeyLines.m_data);
    try {
        std::size_t begin = 0;
        for (const std::size_t end : KeyLines.m_ends) {
            if (!matcher.applyLine(begin, end))
                return;
            begin = end;
        }
    } catch (const std::bad_alloc &) {
        try {
            matcher.applyPending();
        } catch (const std::bad_alloc &) {
        }
    }
}
