// Reading the game's settings file with Config, timed.
//
//   bench_config write FILE MB KIND   writes a settings file of MB megabytes
//   bench_config read FOLDER RUNS     reads FOLDER/config/setup.ini RUNS times with Config
//                                     and prints the best and median milliseconds
//
// KIND is "typical" (the lines a real setup.ini holds, over and over), "oneline" (one
// endless line of key-like text) or "equals" (HOST followed by "=" to the end, the line
// that makes a value text grow with the square of its length).
#include "platform/wine/HostFileSystem.h"
#include "platform/wine/WinePrefix.h"
#include "settings/Configuration.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int write(const char *path, long megabytes, const std::string &kind)
{
    const std::size_t size = std::size_t(megabytes) * 1000 * 1000;
    std::string text;
    text.reserve(size);
    if (kind == "typical") {
        static const char *const lines[] = {
            "# Quenmar Online 7.4 beta\r\n", "[General]\r\n", "HOST=game.quenmaronline.com\r\n",
            "PORT=8078\r\n", "FullScreen=off\r\n", "SkipIntro = ON\r\n", "Language=2\r\n",
            "Keyboard=$1\r\n", "; the player's own notes\r\n", "LogChat=on\r\n",
            "LogFile=c:\\Program Files\\QuenmarOnline\\chat log.txt\r\n", "\r\n",
            "Sound=OFF\r\n", "music = off\r\n", "ShowBaloons=on\r\n", "unknown key=some value\r\n",
        };
        for (std::size_t i = 0; text.size() < size; ++i)
            text += lines[i % (sizeof lines / sizeof *lines)];
    } else if (kind == "oneline") {
        const std::string piece = "HOSTNAME PORT=8078 Sound=OFF ";
        while (text.size() < size)
            text += piece;
    } else if (kind == "equals") {
        text = "HOST";
    } else {
        std::fprintf(stderr, "unknown kind %s\n", kind.c_str());
        return 2;
    }
    text.resize(size, '=');
    FILE *file = std::fopen(path, "wb");
    if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0) {
        std::perror(path);
        return 1;
    }
    return 0;
}

int read(const char *folder, int runs)
{
    // A host path is taken as it is; the prefix is never consulted.
    const qm::HostFileSystem files{qm::WinePrefix(QStringLiteral("/nonexistent-prefix"))};
    std::vector<double> times;
    std::size_t lines = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const Config config(QString::fromLocal8Bit(folder), files);
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        lines = config.RawLines.size();
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f %.1f %zu\n", times.front(), times[times.size() / 2], lines);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "write") == 0)
        return write(argv[2], std::atol(argv[3]), argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "read") == 0)
        return read(argv[2], std::max(1, std::atoi(argv[3])));
    std::fprintf(stderr, "usage: bench_config write FILE MB KIND | read FOLDER RUNS\n");
    return 2;
}
