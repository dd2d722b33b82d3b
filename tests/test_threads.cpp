// Many threads writing and reading files of their own at once, through the
// per-record calls only: every byte written and every pixel read must be
// what one thread alone gets.  `make tsan` runs this under ThreadSanitizer.
#include "codec_run.h"
#include "harness.h"
#include "zefa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

struct Job {
    int depth;
    const char *tag;
    int width, height;
    unsigned seed;
    bool to_descriptor;
};

struct Result {
    zt::Bytes file;   // the file's bytes, time stamp cleared
    zt::Bytes pixels; // the picture zf_decode_image draws
    bool lines_match = false;
};

Result run_job(const Job &job, const std::string &path)
{
    Result out;
    std::mt19937 rng(job.seed);
    const zt::Image img = zt::random_image(rng, job.depth, job.width, job.height, 12);
    const std::vector<zt::Block> blocks = {{0, 0, job.tag, img}, {job.width, 0, job.tag, img}}; // side by side
    const zf_params p = zt::params(job.depth);
    const int fd = job.to_descriptor ? ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    const bool written = zt::write_blocks(job.to_descriptor ? zf_create_fd(fd, "title", "a comment", "artist", 7, &p)
                                                            : zf_create_with(path.c_str(), "title", "a comment", "artist", 7, &p),
                                          blocks);
    if (fd >= 0)
        ::close(fd);
    out.file = zt::read_bytes(path);
    if (!written || out.file.size() < ZF_HEADER_SIZE)
        return out;
    std::memset(out.file.data() + ZF_H_TIME, 0, 4);

    // the lines of both blocks, by name
    const zt::ReadBack r = zt::read_back(path);
    out.lines_match = r.error == 0 && r.close == 0 && r.blocks.size() == 2 && r.blocks[0].lines == img && r.blocks[1].lines == img;

    // the whole picture, from memory
    zf_file *m = zf_open_memory(out.file.data(), out.file.size());
    zf_picture pic{};
    pic.width = 2 * job.width;
    pic.height = job.height;
    out.pixels.assign(static_cast<size_t>(pic.width * pic.height * (job.depth == 8 ? 1 : 3)), 0);
    pic.pixels = out.pixels.data();
    if (!m || zf_decode_image(m, &pic) != 0 || pic.blocks != 2)
        out.pixels.clear();
    zf_close(m);
    // and in one call, which draws the same
    zf_report report;
    zf_image *one = zf_decode_memory(out.file.data(), out.file.size(), nullptr, ZF_INDEXED, &report);
    if (!one || report.status != ZF_DECODED_WHOLE || !std::equal(out.pixels.begin(), out.pixels.end(), one->pixels))
        out.pixels.clear();
    zf_free_image(one);
    return out;
}

std::vector<Job> jobs()
{
    std::vector<Job> list;
    const char *tags[] = {"ZFBI", "ZFSF", "ZFSS"};
    unsigned seed = 1;
    for (int depth : {8, 15, 24})
        for (const char *tag : tags)
            list.push_back(Job{depth, tag, 40 + static_cast<int>(seed) * 3, 30, seed, seed % 2 == 0}), ++seed;
    return list;
}

} // namespace

TEST(Threads, ManyRecordsAtOnceMatchOneThreadAlone)
{
    zt::TempDir dir;
    const std::vector<Job> list = jobs();
    std::vector<Result> alone;
    for (size_t i = 0; i < list.size(); ++i)
        alone.push_back(run_job(list[i], dir / ("job" + std::to_string(i) + ".ZF")));
    for (const Result &r : alone) {
        ASSERT_FALSE(r.file.empty());
        ASSERT_TRUE(r.lines_match);
        ASSERT_FALSE(r.pixels.empty());
    }

    constexpr int kThreads = 8, kRounds = 3;
    std::vector<std::vector<Result>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) // a folder each: the names, and so the subtitles, are the same
        std::filesystem::create_directory(dir / ("t" + std::to_string(t)));
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (size_t i = 0; i < list.size(); ++i) {
                    // each thread starts at another job, so different codings run side by side
                    const size_t k = (i + static_cast<size_t>(t)) % list.size();
                    const std::string name = "t" + std::to_string(t) + "/job" + std::to_string(k) + ".ZF";
                    Result r = run_job(list[k], dir / name);
                    if (round == kRounds - 1)
                        got[static_cast<size_t>(t)].push_back(std::move(r));
                }
        });
    for (std::thread &th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        for (size_t i = 0; i < list.size(); ++i) {
            const size_t k = (i + static_cast<size_t>(t)) % list.size();
            const Result &r = got[static_cast<size_t>(t)][i];
            EXPECT_EQ(r.file, alone[k].file) << "thread " << t << " job " << k;
            EXPECT_EQ(r.pixels, alone[k].pixels) << "thread " << t << " job " << k;
            EXPECT_TRUE(r.lines_match) << "thread " << t << " job " << k;
        }
}

// Errors and misuse are told apart, and each thread keeps its own.
TEST(Threads, ErrorsStayWithTheirThread)
{
    std::thread a([] {
        EXPECT_EQ(zf_open_memory("ZFDT", 4), nullptr);
        EXPECT_EQ(zf_errno, ZF_ERR_EOF);
    });
    a.join();
    EXPECT_EQ(zf_close(nullptr), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    zf_errno = 0;
    std::thread b([] { EXPECT_EQ(zf_errno, 0); });
    b.join();
    for (int code : {0, 2, 12, 13, 28, ZF_ERR_EOF, ZF_ERR_FORMAT, ZF_ERR_LIMIT, ZF_ERR_MISUSE, ZF_ERR_TEXT, 99999, -1})
        EXPECT_GT(std::strlen(zf_strerror(code)), 5u) << code;
    EXPECT_STREQ(zf_strerror(2), "No such file or directory");
}
