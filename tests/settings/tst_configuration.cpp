#include "settings/Configuration.h"

#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>

// Every allocation through operator new is counted, so that a test can see the most memory
// the reader held at once. Each block carries its size in front of it.
namespace {

std::atomic<std::size_t> g_heldBytes{0};
std::atomic<std::size_t> g_peakBytes{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);

void *countedAllocate(std::size_t size) noexcept
{
    void *block = std::malloc(size + kHeader);
    if (!block)
        return nullptr;
    *static_cast<std::size_t *>(block) = size;
    const std::size_t held = g_heldBytes.fetch_add(size) + size;
    std::size_t peak = g_peakBytes.load();
    while (held > peak && !g_peakBytes.compare_exchange_weak(peak, held)) {
    }
    return static_cast<char *>(block) + kHeader;
}

void countedRelease(void *pointer) noexcept
{
    if (!pointer)
        return;
    void *block = static_cast<char *>(pointer) - kHeader;
    g_heldBytes.fetch_sub(*static_cast<std::size_t *>(block));
    std::free(block);
}

// The most bytes held at once while `work` runs, above what was held before it.
template<typename Work>
std::size_t peakBytesOf(Work &&work)
{
    const std::size_t before = g_heldBytes.load();
    g_peakBytes.store(before);
    work();
    return g_peakBytes.load() - before;
}

} // namespace

void *operator new(std::size_t size)
{
    if (void *p = countedAllocate(size))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size)
{
    return operator new(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return countedAllocate(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    return countedAllocate(size);
}
void operator delete(void *p) noexcept
{
    countedRelease(p);
}
void operator delete[](void *p) noexcept
{
    countedRelease(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    countedRelease(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    countedRelease(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept
{
    countedRelease(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    countedRelease(p);
}

namespace {

// The memory all value texts may hold at once (README, "Hostile inputs").
constexpr std::size_t kValueBudget = std::size_t(16) << 20;

// The game's files as a test wants them: at most one settings file, whatever path is asked.
class FakeFiles final : public qm::FileSystem
{
public:
    explicit FakeFiles(std::optional<std::string> settings = std::nullopt)
        : m_settings(std::move(settings))
    {
    }

    bool exists(const QString &) const override
    {
        ++existsCalls;
        return true;
    }

    bool readWholeFile(const QString &path, std::string &contents) const override
    {
        readPaths << path;
        if (!m_settings) {
            contents.clear();
            return false;
        }
        contents = *m_settings;
        return true;
    }

    bool listFolder(const QString &, const std::function<void(const QByteArray &)> &) const override
    {
        return false;
    }

    bool deleteFile(const QString &, const QByteArray &) const override { return false; }

    mutable QStringList readPaths;
    mutable int existsCalls = 0;

private:
    std::optional<std::string> m_settings;
};

std::string bytes(const QByteArray &data)
{
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

// Printable ASCII stays as it is; other bytes are written \xHH, so rows can name them.
QString shown(std::string_view text)
{
    QString out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127 && u != '\\')
            out += QChar(u);
        else
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QChar('0'));
    }
    return out;
}

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Every member the file can change, in declaration order, plus both accessors.
QStringList describe(const Config &c)
{
    return {
        "FullScreen=" + flag(c.FullScreen),
        "SkipIntro=" + flag(c.SkipIntro),
        "PageFlipping=" + flag(c.PageFlipping),
        "BlockTransfer=" + flag(c.BlockTransfer),
        "Music=" + flag(c.Music),
        "Sound=" + flag(c.Sound),
        "StayOnTop=" + flag(c.StayOnTop),
        "Sizeable=" + flag(c.Sizeable),
        "StaticSprites=" + flag(c.StaticSprites),
        "StaticObjects=" + flag(c.StaticObjects),
        "StaticTiles=" + flag(c.StaticTiles),
        "Language=" + QString::number(c.Language),
        "Keyboard=" + QString::number(c.Keyboard),
        "Filter=" + flag(c.Filter),
        "FilterAll=" + flag(c.FilterAll),
        "LogChat=" + flag(c.LogChat),
        "LogFile=" + shown(c.LogFile),
        "HearWhisper=" + flag(c.HearWhisper),
        "Interaction=" + flag(c.Interaction),
        "ShowBaloons=" + flag(c.ShowBaloons),
        "ShowShadows=" + flag(c.ShowShadows),
        "InitialMusic=" + flag(c.InitialMusic),
        "InitialSound=" + flag(c.InitialSound),
        "Host=" + shown(c.Host),
        "Port=" + shown(c.Port),
        "GetHost=" + shown(c.GetHost()),
        "GetPort=" + QString::number(c.GetPort()),
    };
}

const QStringList kDefaults = {
    "FullScreen=true",     "SkipIntro=false",     "PageFlipping=true",  "BlockTransfer=false",
    "Music=true",          "Sound=true",          "StayOnTop=false",    "Sizeable=true",
    "StaticSprites=false", "StaticObjects=false", "StaticTiles=false",  "Language=0",
    "Keyboard=0",          "Filter=true",         "FilterAll=false",    "LogChat=false",
    "LogFile=chatlog.txt", "HearWhisper=true",    "Interaction=true",   "ShowBaloons=true",
    "ShowShadows=true",    "InitialMusic=true",   "InitialSound=true",  "Host=",
    "Port=",               "GetHost=",            "GetPort=8078",
};

// The defaults with `changes` ("Name=value") put in place of their lines.
QStringList expectedState(const QStringList &changes)
{
    QStringList state = kDefaults;
    for (const QString &change : changes) {
        const QString name = change.left(change.indexOf('=') + 1);
        const auto line = std::find_if(state.begin(), state.end(),
                                       [&](const QString &s) { return s.startsWith(name); });
        if (line == state.end())
            qFatal("no member %s", qPrintable(name));
        *line = change;
    }
    return state;
}

QByteArrayList entries(const qm::TextList &list)
{
    QByteArrayList out;
    for (std::size_t i = 0; i < list.size(); ++i)
        out << QByteArray(list[i].data(), static_cast<qsizetype>(list[i].size()));
    return out;
}

QString besideExecutable()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/screen");
}

// Removes the "screen" entry beside the executable however a test row ends.
struct ScreenCleanup
{
    ~ScreenCleanup()
    {
        QFile::remove(besideExecutable());
        QDir().rmdir(besideExecutable());
    }
};

} // namespace

class ConfigurationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The settings rows expect no "screen" beside the executable.
        QVERIFY(!QFileInfo::exists(besideExecutable()));
    }

    void settings_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("changes");

        auto row = [](const char *name, const QByteArray &file, const QStringList &changes) {
            QTest::newRow(name) << true << file << changes;
        };

        QTest::newRow("no settings file") << false << QByteArray() << QStringList();
        row("empty file", "", {});
        row("only a line feed", "\n", {});
        row("ordinary file",
            "[Setup]\r\nHost=play.quenmar.example\r\nPort=8079\r\nMusic=Off\r\n",
            {"Host=PLAY.QUENMAR.EXAMPLE", "GetHost=PLAY.QUENMAR.EXAMPLE", "Port=8079",
             "GetPort=8079", "Music=false", "InitialMusic=false"});
        row("last line without line feed", "PORT=1\nHOST=a",
            {"Host=A", "GetHost=A", "Port=1", "GetPort=1"});
        row("blank as last byte", "HOST=a ", {"Host=A", "GetHost=A"});
        row("CR LF line ends", "HOST=a\r\nPORT=2\r\n",
            {"Host=A", "GetHost=A", "Port=2", "GetPort=2"});
        row("lone CR joins lines", "HOST=A\rPORT=1",
            {"Host=APORT=1", "GetHost=APORT=1"});
        row("lower case key and value", "host=alpha", {"Host=ALPHA", "GetHost=ALPHA"});
        row("blanks around and inside", "PORT = 1 2 3", {"Port=123", "GetPort=123"});
        row("blank in log file name", "LOGFILE=My Chat.txt", {"LogFile=MYCHAT.TXT"});
        row("tab is not a blank", "PORT\t=1", {});
        row("tab stays in value", "HOST=a\tb", {"Host=A\\x09B", "GetHost=A\\x09B"});
        row("bytes above ASCII kept", "HOST=\xe9t\xe9",
            {"Host=\\xe9T\\xe9", "GetHost=\\xe9T\\xe9"});
        row("NUL byte inside value", QByteArray("HOST=A\0B", 8),
            {"Host=A\\x00B", "GetHost=A\\x00B"});

        row("duplicate text key, last wins even empty", "HOST=A\nHOST=", {});
        row("duplicate number key, last wins even invalid", "LANGUAGE=2\nLANGUAGE=X", {});
        row("duplicate number key, last valid", "LANGUAGE=X\nLANGUAGE=2", {"Language=2"});
        row("OFF-switch stays off", "FULLSCREEN=OFF\nFULLSCREEN=ON", {"FullScreen=false"});
        row("ON-switch stays on", "SKIPINTRO=ON\nSKIPINTRO=OFF", {"SkipIntro=true"});

        row("port with trailing letters", "PORT=8078ABC", {"Port=8078ABC"});
        row("port dollar hex", "PORT=$10", {"Port=$10", "GetPort=16"});
        row("port 0X hex", "PORT=0X10", {"Port=0X10", "GetPort=16"});
        row("port lower 0x hex", "port=0x1f", {"Port=0X1F", "GetPort=31"});
        row("port X hex", "PORT=X10", {"Port=X10", "GetPort=16"});
        row("port minus one", "PORT=-1", {"Port=-1", "GetPort=-1"});
        row("port zero", "PORT=0", {"Port=0", "GetPort=0"});
        row("port above 65535", "PORT=70000", {"Port=70000", "GetPort=70000"});
        row("port all F", "PORT=$FFFFFFFF", {"Port=$FFFFFFFF", "GetPort=-1"});
        row("port hex without prefix", "PORT=1F90", {"Port=1F90"});
        row("port empty", "PORT=", {});

        row("switch Of", "MUSIC=Of", {});
        row("switch NO", "MUSIC=NO", {});
        row("switch off", "MUSIC=off", {"Music=false", "InitialMusic=false"});
        row("switch O F F", "MUSIC=O F F", {"Music=false", "InitialMusic=false"});
        row("switch OFF!", "MUSIC=OFF!", {"Music=false", "InitialMusic=false"});
        row("switch FOO", "MUSIC=FOO", {});
        row("switch OFFON", "MUSIC=OFFON", {});
        row("switch ONE", "SKIPINTRO=ONE", {"SkipIntro=true"});
        row("switch TRUE", "SKIPINTRO=TRUE\nMUSIC=TRUE", {});
        row("switch YES", "SKIPINTRO=YES\nMUSIC=YES", {});
        row("switch 1 and 0", "SKIPINTRO=1\nMUSIC=0", {});
        row("sound off", "SOUND=OFF", {"Sound=false", "InitialSound=false"});

        row("every key changed",
            "HOST=h\nPORT=7\nFULLSCREEN=OFF\nSKIPINTRO=ON\nPAGEFLIPPING=OFF\n"
            "BLOCKTRANSFER=ON\nSTAYONTOP=ON\nSIZEABLE=OFF\nSTATICSPRITES=ON\n"
            "STATICOBJECTS=ON\nSTATICTILES=ON\nLANGUAGE=3\nKEYBOARD=2\nFILTER=OFF\n"
            "FILTERALL=ON\nSOUND=OFF\nMUSIC=OFF\nSHOWBALOONS=OFF\nSHOWSHADOWS=OFF\n"
            "HEARWHISPER=OFF\nINTERACTION=OFF\nLOGCHAT=ON\nLOGFILE=log.txt\n",
            {"FullScreen=false", "SkipIntro=true", "PageFlipping=false", "BlockTransfer=true",
             "Music=false", "Sound=false", "StayOnTop=true", "Sizeable=false",
             "StaticSprites=true", "StaticObjects=true", "StaticTiles=true", "Language=3",
             "Keyboard=2", "Filter=false", "FilterAll=true", "LogChat=true",
             "LogFile=LOG.TXT", "HearWhisper=false", "Interaction=false",
             "ShowBaloons=false", "ShowShadows=false", "InitialMusic=false",
             "InitialSound=false", "Host=H", "GetHost=H", "Port=7", "GetPort=7"});
        row("every switch given the other word",
            "FULLSCREEN=ON\nSKIPINTRO=OFF\nPAGEFLIPPING=ON\nBLOCKTRANSFER=OFF\n"
            "STAYONTOP=OFF\nSIZEABLE=ON\nSTATICSPRITES=OFF\nSTATICOBJECTS=OFF\n"
            "STATICTILES=OFF\nFILTER=ON\nFILTERALL=OFF\nSOUND=ON\nMUSIC=ON\n"
            "SHOWBALOONS=ON\nSHOWSHADOWS=ON\nHEARWHISPER=ON\nINTERACTION=ON\nLOGCHAT=OFF\n",
            {});
        row("key inside a longer name", "XHOST=1\nHOSTNAME=2\nMUSICVOLUME=OFF", {});

        row("equals sign in value", "HOST=A=B", {"Host=A=B", "GetHost=A=B"});
        row("leading equals sign", "=HOST=X", {"Host=X", "GetHost=X"});
        row("two keys on one line", "FILTER=ALL=ON", {});
        row("FILTERALL alone", "FILTERALL=ON", {"FilterAll=true"});
        row("second equals extends the value", "HOST==A", {"Host==AA", "GetHost==AA"});
        row("only equals signs after key", "HOST===", {"Host====", "GetHost===="});
        row("number with repeated equals", "LANGUAGE=2\nLANGUAGE==2", {});
        row("switch with repeated equals", "MUSIC==OFF", {"Music=false", "InitialMusic=false"});
        row("ON-switch with repeated equals", "SKIPINTRO==ON", {"SkipIntro=true"});
        row("FILTER twice then FILTERALL", "FILTER==ALL=OFF", {"Filter=false"});

        row("language 3", "LANGUAGE=3", {"Language=3"});
        row("language 4", "LANGUAGE=2\nLANGUAGE=4", {});
        row("language -1", "LANGUAGE=2\nLANGUAGE=-1", {});
        row("language $2", "LANGUAGE=$2", {"Language=2"});
        row("language empty", "LANGUAGE=2\nLANGUAGE=", {});
        row("keyboard 1", "KEYBOARD=1", {"Keyboard=1"});

        row("comment line", "#PORT=1", {});
        row("section line", "[SETUP]", {});
        row("line without equals", "HOST", {});
        row("music off copies", "MUSIC=OFF", {"Music=false", "InitialMusic=false"});
    }

    void settings()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, changes);

        const FakeFiles files(present ? std::optional<std::string>(bytes(file)) : std::nullopt);
        const Config config(QStringLiteral("c:\\Games\\Quenmar"), files);
        QCOMPARE(describe(config), expectedState(changes));
        QCOMPARE(config.RawLines.size(), config.KeyLines.size());
        QCOMPARE(files.readPaths, QStringList{QStringLiteral("c:\\Games\\Quenmar/config/setup.ini")});
        QVERIFY(!config.ScreenExists);
    }

    void lines_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArrayList>("rawLines");
        QTest::addColumn<QByteArrayList>("keyLines");

        auto row = [](const char *name, const QByteArray &file, const QByteArrayList &raw,
                      const QByteArrayList &key) {
            QTest::newRow(name) << true << file << raw << key;
        };

        QTest::newRow("no settings file") << false << QByteArray() << QByteArrayList()
                                          << QByteArrayList();
        row("empty file", "", {}, {});
        row("only a line feed", "\n", {""}, {""});
        row("two line feeds", "\n\n", {"", ""}, {"", ""});
        row("only a carriage return", "\r", {""}, {""});
        row("last line without line feed", "a=1\nb = 2", {"a=1", "b = 2"}, {"A=1", "B=2"});
        row("ends with line feed", "a\nb\n", {"a", "b"}, {"A", "B"});
        row("blank as last byte", "host=x ", {"host=x "}, {"HOST=X"});
        row("LF line ends", "Host=A\nPort = 1\n", {"Host=A", "Port = 1"},
            {"HOST=A", "PORT=1"});
        row("CR LF line ends", "Host=A\r\nPort = 1\r\n", {"Host=A", "Port = 1"},
            {"HOST=A", "PORT=1"});
        row("lone CR inside a line", "HOST=A\rPORT=1", {"HOST=APORT=1"}, {"HOST=APORT=1"});
        row("CR as last byte", "a\r", {"a"}, {"A"});
        row("CRs anywhere", "\ra\r\rb\r\n\r", {"ab", ""}, {"AB", ""});
        row("empty and blank lines kept", "a\n\n  \nb", {"a", "", "  ", "b"},
            {"A", "", "", "B"});
        row("tab kept", "Port\t= 1", {"Port\t= 1"}, {"PORT\t=1"});
        row("only a to z upper-cased", "az`{@[\xe9\xff", {"az`{@[\xe9\xff"},
            {"AZ`{@[\xe9\xff"});
        row("long lines with every kind of byte",
            "Host = Play.Quenmar.Example.COM\tport{`@[_~} \xe1\xfa\xc0 z a Z A\r\n"
            "  Log File = Chat Log Of Today.TXT   \r\n"
            "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ",
            {"Host = Play.Quenmar.Example.COM\tport{`@[_~} \xe1\xfa\xc0 z a Z A",
             "  Log File = Chat Log Of Today.TXT   ",
             "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
            {"HOST=PLAY.QUENMAR.EXAMPLE.COM\tPORT{`@[_~}\xe1\xfa\xc0ZAZA",
             "LOGFILE=CHATLOGOFTODAY.TXT",
             "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"});
        row("NUL byte kept", QByteArray("a\0 b\n", 5), {QByteArray("a\0 b", 4)},
            {QByteArray("A\0B", 3)});
        row("duplicates kept", "x=1\nx=1\n", {"x=1", "x=1"}, {"X=1", "X=1"});
        row("comment and section", "; note\n[Setup]\n", {"; note", "[Setup]"},
            {";NOTE", "[SETUP]"});
    }

    void lines()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, file);
        QFETCH(QByteArrayList, rawLines);
        QFETCH(QByteArrayList, keyLines);

        const FakeFiles files(present ? std::optional<std::string>(bytes(file)) : std::nullopt);
        const Config config(QStringLiteral("c:\\Games\\Quenmar"), files);
        QCOMPARE(entries(config.RawLines), rawLines);
        QCOMPARE(entries(config.KeyLines), keyLines);
        QCOMPARE(config.RawLines.empty(), rawLines.isEmpty());
    }

    void settingsPath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");

        QTest::newRow("windows folder")
            << "c:\\Program Files\\QuenmarOnline" << "c:\\Program Files\\QuenmarOnline/config/setup.ini";
        QTest::newRow("trailing separator kept")
            << "c:\\Quenmar\\" << "c:\\Quenmar\\/config/setup.ini";
        QTest::newRow("forward slashes kept") << "d:/games/q" << "d:/games/q/config/setup.ini";
        QTest::newRow("empty folder") << "" << "/config/setup.ini";
    }

    void settingsPath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, path);

        const FakeFiles files;
        const Config config(folder, files);
        QCOMPARE(files.readPaths, QStringList{path});
    }

    void textList()
    {
        qm::TextList list;
        QVERIFY(list.empty());
        list.reserve(10, 3);
        list.append("");
        list.append("ab");
        list.append(std::string_view("c\0d", 3));
        QCOMPARE(list.size(), std::size_t(3));
        QCOMPARE(list[0], std::string_view());
        QCOMPARE(list[1], std::string_view("ab"));
        QCOMPARE(list[2], std::string_view("c\0d", 3));
        list.clear();
        QVERIFY(list.empty());
        list.append("x");
        QCOMPARE(list[0], std::string_view("x"));
    }

    void integerText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");

        auto good = [](const char *name, const QByteArray &text, int value) {
            QTest::newRow(name) << text << true << value;
        };
        auto bad = [](const char *name, const QByteArray &text) {
            QTest::newRow(name) << text << false << 0;
        };

        good("zero", "0", 0);
        good("zeros", "000", 0);
        good("decimal", "8078", 8078);
        good("plus sign", "+7", 7);
        good("minus sign", "-12", -12);
        good("leading zeros", "-0003", -3);
        good("leading blanks", "   42", 42);
        good("blanks before sign", "  -5", -5);
        good("largest", "2147483647", 2147483647);
        good("smallest", "-2147483648", std::numeric_limits<int>::min());
        good("long zero run", QByteArray(1000, '0') + "5", 5);
        bad("above largest", "2147483648");
        bad("below smallest", "-2147483649");
        bad("far too long", "99999999999999999999");
        bad("empty", "");
        bad("only blanks", "   ");
        bad("only plus", "+");
        bad("only minus", "-");
        bad("two signs", "+-1");
        bad("blank after sign", "- 1");
        bad("trailing blank", "1 ");
        bad("trailing letters", "8078ABC");
        bad("tab before", "\t1");
        bad("decimal point", "1.0");
        bad("NUL after digits", QByteArray("1\0", 2));

        good("dollar hex", "$10", 16);
        good("dollar lower digits", "$ff", 255);
        good("X hex", "X10", 16);
        good("x hex", "x1A", 26);
        good("0X hex", "0X10", 16);
        good("0x hex", "0x10", 16);
        good("blanks before hex", "  $10", 16);
        good("eight F", "$FFFFFFFF", -1);
        good("sign bit", "0x80000000", std::numeric_limits<int>::min());
        good("largest hex", "$7fffffff", 2147483647);
        good("leading zeros not significant", "$000000000001", 1);
        good("nine digits with leading zero", "0X0FFFFFFFF", -1);
        bad("nine significant digits", "$100000000");
        bad("dollar alone", "$");
        bad("X alone", "X");
        bad("0X alone", "0X");
        bad("not a hex digit", "$G");
        bad("sign before hex", "-$10");
        bad("plus before 0x", "+0x10");
        bad("sign after prefix", "$-1");
        bad("two prefixes", "0x0x1");
        bad("dollar and x", "$x1");
        bad("blank after prefix", "$ 1");
        bad("trailing blank after hex", "$1 ");
    }

    void integerText()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(int, value);

        std::int32_t result = 12345;
        QCOMPARE(qm::parseIntegerText(std::string_view(text.constData(), text.size()), result),
                 ok);
        if (ok)
            QCOMPARE(result, value);
    }

    void screen_data()
    {
        QTest::addColumn<QString>("entry");

        QTest::newRow("nothing beside the program") << QString();
        QTest::newRow("file beside the program") << "file";
        QTest::newRow("folder beside the program") << "folder";
        QTest::newRow("only in the game folder") << "game";
    }

    void screen()
    {
        QFETCH(QString, entry);

        const ScreenCleanup cleanup;
        QTemporaryDir game;
        QVERIFY(game.isValid());
        if (entry == "file") {
            QFile file(besideExecutable());
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (entry == "folder") {
            QVERIFY(QDir().mkdir(besideExecutable()));
        } else if (entry == "game") {
            QFile file(game.filePath("screen"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        // The double claims every path of the game exists; that must play no part.
        const FakeFiles files(std::string("HOST=a\n"));
        const Config config(game.path(), files);
        QCOMPARE(config.ScreenExists, entry == "file" || entry == "folder");
        QCOMPARE(files.existsCalls, 0);
        QCOMPARE(config.Host, std::string("A"));
    }

    // The host's own files, through a folder given as a host path.
    void hostFiles()
    {
        QTemporaryDir game;
        QVERIFY(game.isValid());
        QVERIFY(QDir(game.path()).mkpath("config"));
        QFile file(game.filePath("config/setup.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Host = Real.Example\r\nPort = 9000\r\n");
        file.close();

        const Config config(game.path());
        QCOMPARE(config.GetHost(), std::string("REAL.EXAMPLE"));
        QCOMPARE(config.GetPort(), 9000);
        QCOMPARE(config.RawLines.size(), std::size_t(2));

        const Config missing(game.filePath("nothing-here"));
        QCOMPARE(describe(missing), kDefaults);
        QVERIFY(missing.RawLines.empty());
    }

    // Many "=" after a key: each one matches again and adds the rest of the line to the
    // value, so the value grows with the square of the line.
    void repeatedEqualsWithinLimits()
    {
        const int count = 300;
        const std::string line = "HOST" + std::string(count, '=') + "a";
        std::string expected;
        for (int i = 1; i <= count; ++i)
            expected += std::string(count - i, '=') + "A";

        const FakeFiles files(line + "\nPORT=5\n");
        const Config config(QStringLiteral("c:\\q"), files);
        QCOMPARE(config.Host, expected);
        QCOMPARE(config.GetPort(), 5);
    }

    // Lines that grow their values far beyond the file's own size, yet nowhere near the
    // budget, are read to the end with whatever follows them. (Reading used to stop once
    // the values outgrew the file by a MiB, and lost the PORT lines after them.)
    void valuesGrownBeyondTheFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("host");

        const int count = 1450; // a file of 1.5 KB whose value grows to 1 MB
        QByteArray grown;
        for (int i = 1; i <= count; ++i)
            grown += QByteArray(count - i, '=');
        QTest::newRow("HOST and 1450 \"=\", then the port")
            << "HOST" + QByteArray(count, '=') + "\nPORT=5\n" << grown;

        const QByteArray line = "HOST==" + QByteArray(94, 'a') + "\n"; // 2 MB in all
        QTest::newRow("20 000 lines HOST==aaa..., then the port")
            << line.repeated(20000) + "PORT=5\n" << "=" + QByteArray(94, 'A') + QByteArray(94, 'A');
        QTest::newRow("20 000 lines HOST==aaa..., the port before them")
            << "PORT=5\n" + line.repeated(20000) << "=" + QByteArray(94, 'A') + QByteArray(94, 'A');
    }

    void valuesGrownBeyondTheFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, host);

        const FakeFiles files(bytes(text));
        const Config config(QStringLiteral("c:\\q"), files);
        QCOMPARE(config.GetPort(), 5);
        QCOMPARE(config.Port, "5");
        QCOMPARE(config.Host.size(), std::size_t(host.size()));
        QVERIFY(config.Host == bytes(host));
    }

    void hugeRepeatedEquals_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("crafted");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<int>("lines");

        const QByteArray many(1000000, '=');
        QTest::newRow("text key")
            << QByteArray("LOGFILE=first\n") << "HOST" + many << QByteArray("\nPORT=1\n")
            << QStringList{"LogFile=FIRST"} << 3;
        QTest::newRow("number key")
            << QByteArray("KEYBOARD=2\n") << "LANGUAGE" + many + "1" << QByteArray("\nPORT=1\n")
            << QStringList{"Keyboard=2"} << 3;
        QTest::newRow("OFF-switch")
            << QByteArray("LOGFILE=first\n") << "MUSIC" + many + "OFF" << QByteArray("\nPORT=1\n")
            << QStringList{"LogFile=FIRST", "Music=false", "InitialMusic=false", "Port=1",
                           "GetPort=1"}
            << 3;
        QTest::newRow("ON-switch")
            << QByteArray() << "SKIPINTRO" + many + "ON" << QByteArray("\nPORT=1")
            << QStringList{"SkipIntro=true", "Port=1", "GetPort=1"} << 2;
        QTest::newRow("switch without letters")
            << QByteArray() << "SOUND" + many << QByteArray("\nSOUND=OFF")
            << QStringList{"Sound=false", "InitialSound=false"} << 2;
        QTest::newRow("two switches")
            << QByteArray() << "FILTER" + many + "ALL" + many + "ON" << QByteArray("\nPORT=1")
            << QStringList{"Port=1", "GetPort=1"} << 2;
    }

    // Reading such a line ends quietly where its value would need more memory than the
    // fixed budget for value texts: what came before stays set, what comes after is not
    // read. The most memory the reader holds at once stays within the file, its two line
    // lists and that budget.
    void hugeRepeatedEquals()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, crafted);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, changes);
        QFETCH(int, lines);

        const FakeFiles files(bytes(before + crafted + after));
        std::optional<Config> read;
        const std::size_t peak = peakBytesOf([&] { read.emplace(QStringLiteral("c:\\q"), files); });
        Config &config = *read;
        const std::size_t fileSize = std::size_t(before.size() + crafted.size() + after.size());
        const std::size_t listed = 2 * fileSize + 2 * sizeof(std::size_t) * std::size_t(lines + 1);
        QVERIFY2(peak <= listed + kValueBudget + (1 << 20), qPrintable(QString::number(peak)));
        if (crafted.startsWith("HOST")) {
            // Nothing but "=", far more than the file (which a budget proportional to the
            // file stopped at) and within the budget. It is taken out before the members
            // are compared, so that the comparison does not copy it.
            const std::string host = std::move(config.Host);
            config.Host.clear();
            QVERIFY2(host.size() >= kValueBudget / 4, qPrintable(QString::number(host.size())));
            QVERIFY(host.size() <= kValueBudget);
            QVERIFY(host.find_first_not_of('=') == std::string::npos);
        }
        QCOMPARE(describe(config), expectedState(changes));
        if (crafted.startsWith("LANGUAGE"))
            QVERIFY(peak >= kValueBudget / 4); // the number's text was really built
        // Splitting is done before any key is applied, so all lines are listed.
        QCOMPARE(config.RawLines.size(), std::size_t(lines));
        QCOMPARE(config.KeyLines.size(), std::size_t(lines));
    }
};

QTEST_GUILESS_MAIN(ConfigurationTest)
#include "tst_configuration.moc"
