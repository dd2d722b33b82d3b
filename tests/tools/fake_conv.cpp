// A stand-in converter: records its arguments in fake_conv.args and writes
// a 2 x 1 DJP colour image; the input "fail" makes it fail, "dump" crash,
// "junk" write a file that is no DJP and end with success, "none" end with
// success writing nothing.
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    if (FILE *log = std::fopen("fake_conv.args", "w")) {
        for (int i = 0; i < argc; ++i)
            std::fprintf(log, "%s|", argv[i]);
        std::fprintf(log, "\n");
        std::fclose(log);
    }
    if (argc != 4 || std::strcmp(argv[1], "DJ505JC") != 0)
        return 2;
    char head[14] = "";
    if (FILE *in = std::fopen(argv[2], "rb")) {
        std::fread(head, 1, sizeof head - 1, in);
        std::fclose(in);
    }
    if (std::strcmp(head, "fail") == 0)
        return 1;
    if (std::strcmp(head, "dump") == 0) // a crash
        __builtin_trap();
    if (std::strcmp(head, "none") == 0)
        return 0;
    if (std::strcmp(head, "junk") == 0) { // success, but no DJP file
        if (FILE *out = std::fopen(argv[3], "wb")) {
            std::fputs("not a picture at all", out);
            std::fclose(out);
        }
        return 0;
    }
    FILE *out = std::fopen(argv[3], "wb");
    if (!out)
        return 3;
    const unsigned char djp[] = {'D', 'J', '5', '0', '5', 'J', 2, 0, 1, 0, 24, 0, 1, 2, 3, 4, 5, 6};
    std::fwrite(djp, 1, sizeof djp, out);
    if (std::fclose(out) != 0)
        return 3;
    return 0;
}
