// Descriptor access and the two error slots: byte order, short reads, full
// disks, missing and unreadable files.
#include "harness.h"
#include "zefa.h"
#include "record.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A record on an arbitrary descriptor, as the library's own operations
// would hold it.
struct RawRecord {
    zf::Record *f = static_cast<zf::Record *>(zf_alloc(sizeof(zf::Record)));
    explicit RawRecord(int fd, int base = 0)
    {
        f->fd = fd;
        f->base = base;
    }
    ~RawRecord()
    {
        if (f->fd >= 0)
            ::close(f->fd);
        std::free(f);
    }
};

} // namespace

TEST(FileIo, ByteOrderHelpers)
{
    EXPECT_EQ(zf_swap16(0x1234), 0x3412);
    EXPECT_EQ(zf_swap32(0x12345678u), 0x78563412u);
    char field[5];
    zf_copy_pad(field, "XYZ", 5);
    EXPECT_EQ(std::string(field, 5), "XYZ  ");
    char wide[30];
    zf_copy_pad(wide, "0123456789012345678901234567890123456789", 30);
    EXPECT_EQ(std::string(wide, 30), "012345678901234567890123456789");
    zf_copy_pad(wide, "", 30);
    EXPECT_EQ(std::string(wide, 30), std::string(30, ' '));
}

TEST(FileIo, IntegersAreBigEndianAndShortReadsAre257)
{
    zt::TempDir dir;
    const std::string path = dir / "ints";
    {
        RawRecord r(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600));
        zf_write_u16(r.f, 0x1234);
        zf_write_u32(r.f, 0xA1B2C3D4u);
        zf_write_u8(r.f, 0x1FF);
        EXPECT_EQ(r.f->error, 0);
    }
    EXPECT_EQ(zt::read_file(path), (std::vector<uint8_t>{0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4, 0xFF}));

    RawRecord r(::open(path.c_str(), O_RDONLY));
    EXPECT_EQ(zf_read_u16(r.f), 0x1234);
    unsigned char buf[16];
    zf_errno = 0;
    EXPECT_EQ(zf_read_some(r.f, buf, 16), 5);
    EXPECT_EQ(zf_read_some(r.f, buf, 16), 0); // end of file is no error here
    EXPECT_EQ(r.f->error, 0);
    EXPECT_EQ(zf_errno, 0);
    zf_seek(r.f, 0);
    EXPECT_EQ(zf_read(r.f, buf, 16), 7);
    EXPECT_EQ(r.f->error, ZF_ERR_EOF);
    EXPECT_EQ(zf_errno, ZF_ERR_EOF);
}

TEST(FileIo, BaseShiftsEveryPosition)
{
    zt::TempDir dir;
    const std::string path = dir / "based";
    zt::write_file(path, std::vector<uint8_t>(200, 7));
    RawRecord r(::open(path.c_str(), O_RDONLY), 128);
    EXPECT_EQ(zf_seek(r.f, 0), 0);
    EXPECT_EQ(::lseek(r.f->fd, 0, SEEK_CUR), 128);
    EXPECT_EQ(zf_tell(r.f), 0);
}

TEST(FileIo, SystemErrorsReachBothSlots)
{
    RawRecord bad(-1);
    unsigned char b[4];
    EXPECT_EQ(zf_read(bad.f, b, 4), -1);
    EXPECT_EQ(bad.f->error, EBADF);
    EXPECT_EQ(zf_errno, EBADF);

    // The full disk: a failed write records "no space left" and the error
    // stays with the record, so closing reports it.
    zf_errno = 0;
    zf::creation.n_pal = 0;
    zf_set_info("", 24, -1, -1, 1, 1, 0);
    EXPECT_EQ(zf_create("/dev/full", "", "comment", "", 0), nullptr);
    EXPECT_EQ(zf_errno, 28);

    zt::TempDir dir;
    EXPECT_EQ(zf_open((dir / "missing.ZF").c_str()), nullptr);
    EXPECT_EQ(zf_errno, 2);
    EXPECT_EQ(zf_create((dir / "no/such/dir.ZF").c_str(), "", nullptr, "", 0), nullptr);
    EXPECT_EQ(zf_errno, 2);
}

TEST(FileIo, UnwritablePlaceIsAccessDenied)
{
    std::string target;
    zt::TempDir dir;
    if (geteuid() != 0) {
        target = dir / "locked.ZF";
        zt::write_file(target, "x");
        ::chmod(target.c_str(), 0444);
    } else {
        target = "/sys/kernel/zefa-test.ZF"; // refused even to root
    }
    zf_set_info("", 24, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(target.c_str(), "", nullptr, "", 0);
    if (f || zf_errno != 13)
        GTEST_SKIP() << "no place here refuses writing";
    EXPECT_EQ(zf_errno, 13);
}

TEST(FileIo, AllocationIsZeroFilled)
{
    auto *p = static_cast<unsigned char *>(zf_alloc(4096));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(p[i], 0);
    std::free(p);
    EXPECT_EQ(zf_alloc(-1), nullptr);
}
