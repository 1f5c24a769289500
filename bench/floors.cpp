// The floors cueprune is measured against: what the machine takes, with no checks at all, to
// read every sheet of a library on 2 threads ("read"), or to rewrite the sheets that hold a
// pregap pair on 16 threads, each through a temporary file that is flushed and renamed
// ("write"). Usage: bench_floors read|write LIBRARY
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string readAll(const std::string &path)
{
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    char buffer[65536];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, std::size_t(count));
    ::close(fd);
    return bytes;
}

// The same rule as cueprune's, on 8-bit text: a line holding "INDEX 00" directly followed by
// a line holding "INDEX 01" goes, with its line feed.
std::string pruned(const std::string &sheet, bool &changed)
{
    std::vector<std::pair<std::size_t, std::size_t>> lines; // start, end past the line feed
    for (std::size_t start = 0; start < sheet.size();) {
        const std::size_t feed = sheet.find('\n', start);
        const std::size_t end = feed == std::string::npos ? sheet.size() : feed + 1;
        lines.emplace_back(start, end);
        start = end;
    }
    const auto holds = [&](std::size_t line, const char *marker) {
        const auto [start, end] = lines[line];
        return sheet.substr(start, end - start).find(marker) != std::string::npos;
    };
    std::string kept;
    changed = false;
    for (std::size_t line = 0; line < lines.size(); ++line) {
        if (line + 1 < lines.size() && holds(line, "INDEX 00") && holds(line + 1, "INDEX 01")) {
            changed = true;
            continue;
        }
        kept.append(sheet, lines[line].first, lines[line].second - lines[line].first);
    }
    return kept;
}

void rewrite(const std::string &path)
{
    bool changed = false;
    const std::string text = pruned(readAll(path), changed);
    if (!changed)
        return;
    std::string temporary = path.substr(0, path.rfind('/') + 1) + ".floor-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size()) || ::fsync(fd) != 0
        || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const bool write = argc == 3 && std::strcmp(argv[1], "write") == 0;
    if (argc != 3 || (!write && std::strcmp(argv[1], "read") != 0)) {
        std::fputs("usage: bench_floors read|write LIBRARY\n", stderr);
        return 2;
    }
    std::vector<std::string> sheets;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[2])) {
        std::string name = entry.path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        if (entry.is_regular_file() && name.size() > 4
            && name.compare(name.size() - 4, 4, ".cue") == 0)
            sheets.push_back(entry.path().string());
    }
    std::atomic<std::size_t> next { 0 };
    std::atomic<std::size_t> bytes { 0 };
    std::vector<std::thread> threads;
    for (int i = 0; i < (write ? 16 : 2); ++i) {
        threads.emplace_back([&] {
            for (std::size_t at; (at = next++) < sheets.size();) {
                if (write)
                    rewrite(sheets[at]);
                else
                    bytes += readAll(sheets[at]).size();
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    return bytes.load() == std::size_t(-1); // keeps the reads from being optimised away
}
