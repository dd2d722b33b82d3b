// What the programs leave when ESC, a signal or the file size limit stops
// them while they write: no partial output, no temporary, the files already
// finished intact, and the terminal as it was.  Interruptions are sent once
// the program is seen at work, so each case stops it mid-write.
#include "codec_run.h"
#include "harness.h"
#include "pictures.h"
#include "removal_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace zt;

// Runs `args` (the program first) in `cwd` until it ends; once `ready` holds
// for what it has printed, `stop` sends the interruption, again every 100 ms.
Watched run_and_stop(const std::string &cwd, const std::vector<std::string> &args, bool on_terminal,
                     const std::function<bool(const std::string &)> &ready, const std::function<void(int, int)> &stop,
                     long size_limit = -1)
{
    const Watch w{on_terminal, ready, stop, 100, true, size_limit};
    return run_watched(args[0], {args.begin() + 1, args.end()}, w,
                       RunOptions{cwd, "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin", "USER=tester"}, {"LOG", "EXE", "TMP", "ZEF_USER", "zef_user", "LANGUAGE"}});
}

const auto press = [](const char *key) { return [key](int, int master) { (void)!::write(master, key, 1); }; };
const auto send = [](int sig) { return [sig](int pid, int) { ::kill(-pid, sig); }; };
const auto prints = [](const char *text) { return [text](const std::string &out) { return has(out, text); }; };

// ESC and Ctrl+C on the terminal, SIGTERM and SIGHUP: each stops the run
// while it writes `output`; nothing of it is left, nor is the terminal raw.
void interrupt_while_writing(const TempDir &dir, const std::vector<std::string> &args, const char *working,
                             int esc_status, const char *esc_says, const std::string &output)
{
    const auto esc = run_and_stop(dir.path(), args, true, prints(working), press("\x1b"));
    EXPECT_EQ(esc.status, esc_status) << esc.out;
    EXPECT_TRUE(has(esc.out, esc_says));
    EXPECT_TRUE(esc.raw && esc.restored);
    const auto ctrl_c = run_and_stop(dir.path(), args, true, prints(working), press("\x03"));
    EXPECT_EQ(ctrl_c.status, 128 + SIGINT) << ctrl_c.out;
    EXPECT_TRUE(ctrl_c.raw && ctrl_c.restored);
    for (int sig : {SIGTERM, SIGHUP})
        EXPECT_EQ(run_and_stop(dir.path(), args, false, prints(working), send(sig)).status, 128 + sig);
    std::vector<std::string> left = names_in(dir.path());
    std::erase_if(left, [](const std::string &n) { return n == "output.txt" || n.find(".zfenc-") == std::string::npos; });
    EXPECT_EQ(left, std::vector<std::string>{});
    EXPECT_FALSE(file_exists(dir / output));
}

// A square RGB picture of random bytes: it compresses badly, so writing it
// takes long enough to be caught at work.
Picture noise_picture(int size, unsigned seed)
{
    Picture p = test_picture(Kind::rgb, size, size);
    std::mt19937 rng(seed);
    for (uint8_t &v : p.pixels)
        v = static_cast<uint8_t>(rng());
    return p;
}

} // namespace

TEST(Signals, ZfencLeavesNoOutputNorLog)
{
    TempDir dir;
    write_file(dir / "big.RGB", test_picture(Kind::rgb, 3000, 2000).pixels);
    write_file(dir / "big.FAL", fal_text(3000, 2000));
    interrupt_while_writing(dir, {zfenc_path(), "big", "-2"}, "pass 1", 0, "ｴﾝｺｰﾄﾞを中止します", "big.ZF");
    EXPECT_FALSE(file_exists(dir / "ZFENC.LOG"));
    EXPECT_TRUE(file_exists(dir / "big.RGB"));
    // its messages piped into a reader that stops early (SIGPIPE): an
    // earlier output stays as it was
    write_file(dir / "big.ZF", std::string("earlier"));
    run("/bin/sh", {"-c", "\"$0\" big -2 2>&1 | head -c 1 >/dev/null", zfenc_path()},
        RunOptions{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"}, {"LOG", "EXE", "TMP"}});
    EXPECT_EQ(read_text(dir / "big.ZF"), "earlier");
    EXPECT_FALSE(file_exists(dir / "ZFENC.LOG"));
}

// SIGINT to zfenc and the converter it started (zfconv), while that writes
// the picture for it or once zfenc encodes it: neither leaves a file.
TEST(Signals, ZfencAndItsConverterLeaveNoTemporary)
{
    TempDir dir;
    write_file(dir / "big.bmp", bmp_of(test_picture(Kind::rgb, 3000, 2000), 24));
    const auto converting = [&](const std::string &out) {
        const auto names = names_in(dir.path());
        return has(out, "Input file") ||
               std::any_of(names.begin(), names.end(), [](const std::string &n) { return n.starts_with("ZFENCIMG.DJP."); });
    };
    const auto r = run_and_stop(dir.path(), {zfenc_path(), "big.bmp", "-2"}, false, converting, send(SIGINT));
    EXPECT_EQ(r.status, 128 + SIGINT) << r.out;
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"big.bmp", "output.txt"}));
}

TEST(Signals, ZfdecLeavesNoPartialOutput)
{
    TempDir dir;
    std::mt19937 rng(3);
    ASSERT_FALSE(write_zefa(dir / "big.ZF", params(24), {{0, 0, "ZFSS", random_image(rng, 24, 3000, 2000, 100000)}}).empty());
    interrupt_while_writing(dir, {zfdec_path(), "big"}, "Block number", 1, "ﾃﾞｺｰﾄﾞを中止します", "big.RGB");
}

// A batch on two threads stopped by SIGINT or SIGTERM once two outputs are
// in place: those stay whole, and no temporary is left.
TEST(Signals, ZfconvBatchKeepsFinishedFilesOnly)
{
    TempDir dir;
    ASSERT_TRUE(write_png(dir / "n.png", noise_picture(400, 7)));
    std::vector<std::string> args = {zfconv_path(), "-j", "2", "-d", "out", "--coding=optimizing"};
    for (int i = 10; i < 40; ++i) {
        args.push_back("n" + std::to_string(i) + ".png");
        std::filesystem::copy_file(dir / "n.png", dir / args.back());
    }
    const auto finished = [&](const std::string &) {
        const auto names = file_exists(dir / "out") ? names_in(dir / "out") : std::vector<std::string>{};
        return std::count_if(names.begin(), names.end(), [](const std::string &n) { return n.ends_with(".ZF"); }) >= 2;
    };
    for (int sig : {SIGINT, SIGTERM}) {
        std::filesystem::remove_all(dir / "out");
        const auto r = run_and_stop(dir.path(), args, false, finished, send(sig));
        EXPECT_EQ(r.status, 128 + sig) << r.out;
        const auto names = names_in(dir / "out");
        EXPECT_GE(names.size(), 2u);
        EXPECT_LT(names.size(), 30u);
        for (const std::string &name : names) {
            ASSERT_EQ(std::filesystem::path(name).extension(), ".ZF") << name;
            const ReadBack back = read_back(dir / ("out/" + name));
            EXPECT_TRUE(back.close == 0 && back.blocks.size() == 1) << name;
        }
    }
}

// Past the file size limit one output fails, named once; the batch goes on.
TEST(Signals, ZfconvFileSizeLimitFailsOneFile)
{
    TempDir dir;
    ASSERT_TRUE(write_png(dir / "big.png", noise_picture(200, 3)));
    for (int seed : {1, 2})
        write_zefa(dir / ("small" + std::to_string(seed) + ".ZF"), params(24), {{0, 0, "ZFSF", pattern(24, 24, 16, seed)}});
    const auto r = run_and_stop(dir.path(), {zfconv_path(), "-d", "out", "big.png", "small1.ZF", "small2.ZF"}, false,
                                [](const std::string &) { return false; }, send(0), 20 * 1024);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out, "zfconv: big.png: the output would pass the file size limit (ulimit -f)\n"));
    EXPECT_EQ(r.out.find("big.png"), r.out.rfind("big.png")) << r.out;
    EXPECT_EQ(names_in(dir / "out"), (std::vector<std::string>{"small1.png", "small2.png"}));
}

// The clean-up on a signal thread while threads create and rename files:
// a file renamed into place is never removed, and no temporary survives,
// whenever it comes.  In a child, since the writers wait there for the end.
TEST(Signals, RegistryCleanUpRacesWithWriters)
{
    for (int round = 0; round < 20; ++round) {
        TempDir dir;
        const pid_t pid = fork();
        if (pid == 0) {
            static std::atomic<int> renamed[4];
            for (int t = 0; t < 4; ++t)
                std::thread([&dir, t] {
                    for (int n = 0;; ++n) {
                        removal_guard g;
                        std::string temp = dir / (std::to_string(t) + "-" + std::to_string(n) + ".XXXXXX");
                        const int fd = g.create_temporary(temp, O_CLOEXEC);
                        const bool whole = fd >= 0 && ::write(fd, "whole", 5) == 5;
                        ::close(fd);
                        if (!whole || !g.commit((temp.substr(0, temp.size() - 7) + ".out").c_str()))
                            _exit(2);
                        renamed[t] = n + 1;
                    }
                }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(1 + round));
            remove_guarded_files(true);
            for (const std::string &name : names_in(dir.path()))
                if (!name.ends_with(".out") || read_text(dir / name) != "whole")
                    _exit(3);
            for (int t = 0; t < 4; ++t)
                for (int n = 0; n < renamed[t]; ++n)
                    if (!file_exists(dir / (std::to_string(t) + "-" + std::to_string(n) + ".out")))
                        _exit(4);
            _exit(0);
        }
        int status = -1;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    }
}
