// The tools' progress line: on a real terminal (a pseudo-terminal here) a
// long decode shows its rising percentage and erases it at the end; a pipe,
// or a decode that ends quickly, gets nothing.
#include "OpenedStore.h"
#include "tools/common/TerminalProgress.h"

#include <chrono>
#include <fcntl.h>
#include <regex>
#include <unistd.h>

using namespace testsupport;

namespace {

struct Pty {
    int master = -1, slave = -1;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    std::string drain() const {
        std::string all;
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            all.append(buffer, std::size_t(n));
        return all;
    }
};

// Decodes `path` under a progress line written to `fd`.
void decodeWatched(const std::string& path, int fd) {
    ZQ::auto_ptr<ZQ::AudioFileDocumentSampleData> store;
    store.make();
    ZQ::DecodeControl control;
    zqtools::TerminalProgress progress("long.wav", control, fd);
    ASSERT_TRUE(store->read(fileURL(path).get(), &control));
}

struct SlowDisk {
    explicit SlowDisk(int us) { ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(us)); }
    ~SlowDisk() { ZQ::setDecodeChunkPauseForTesting(std::chrono::microseconds(0)); }
};

} // namespace

TEST(ProgressLine, ATerminalSeesTheRisingPercentageAndThenACleanLine) {
    TempDir dir;
    const std::string path = dir.file("long.wav");
    // Decoded (a codec), so that it takes as long as the disk makes it.
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 44100, 300L * ZQ::kDecodeChunkFrames));
    Pty pty;
    ASSERT_GE(pty.slave, 0) << "no pseudo-terminal";
    {
        SlowDisk slow(3000); // 300 chunks: about a second
        decodeWatched(path, pty.slave);
    }
    const std::string shown = pty.drain();
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << "the line was not erased";
    std::vector<int> percents;
    const std::regex line("\rlong\\.wav: (\\d+)%");
    for (auto it = std::sregex_iterator(shown.begin(), shown.end(), line); it != std::sregex_iterator(); ++it)
        percents.push_back(std::stoi((*it)[1]));
    ASSERT_GE(percents.size(), 2u) << shown;
    for (std::size_t i = 1; i < percents.size(); ++i)
        EXPECT_GT(percents[i], percents[i - 1]) << shown;
    EXPECT_LE(percents.back(), 100);
}

TEST(ProgressLine, APipeOrAQuickDecodeGetsNothing) {
    TempDir dir;
    const std::string path = dir.file("long.wav");
    ASSERT_TRUE(writeFixture(path, SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 44100, 300L * ZQ::kDecodeChunkFrames));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    {
        SlowDisk slow(3000);
        decodeWatched(path, fds[1]);
    }
    char c;
    EXPECT_EQ(::read(fds[0], &c, 1), -1) << "a pipe got a progress line";
    ::close(fds[0]);
    ::close(fds[1]);

    const std::string quick = dir.file("quick.wav");
    ASSERT_TRUE(writeFixture(quick, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 20L * ZQ::kDecodeChunkFrames));
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    decodeWatched(quick, pty.slave); // at full speed: well within half a second
    EXPECT_EQ(pty.drain(), "");
}
