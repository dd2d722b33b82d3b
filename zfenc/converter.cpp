// Converter programs: TIF, GIF, BMP, PNG and JPEG images are turned into a
// temporary DJP file by a separate program, started with a fixed argument
// list ("DJ505JC", input, output) and trusted when it exits with 0.
#include "converter.h"

#include "names.h"
#include "path_search.h"
#include "run.h"
#include "settings.h"
#include "spawn.h"
#include "zf_console.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Converter {
    const char *extension; // compared on its first 4 characters, case-blind
    const char *program;
};

constexpr const char kTemporary[] = "ZFENCIMG.DJP";

constexpr Converter kConverters[] = {
    {".TIF", "TIF_CONV.EXE"}, {".GIF", "GIF_CONV.EXE"}, {".BMP", "BMP_CONV.EXE"},
    {".PNG", "PNG_CONV.EXE"}, {".JPG", "JPG_CONV.EXE"}, {".JPE", "JPG_CONV.EXE"},
};

// Extensions read directly, with the number of characters compared.
constexpr std::pair<const char *, std::size_t> kDirect[] = {
    {".Q0", 3}, {".RGB", 4}, {".DJP", 4}, {".GLM", 4}, {".GMM", 4}};

bool starts_with_nocase(const char *text, const char *prefix, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
        if (text[i] == '\0')
            return prefix[i] == '\0';
    }
    return true;
}

bool is_program(const std::string &path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The converter is looked for in the current directory, along PATH, and
// then beside the running zfenc, so a build or install tree works as is.
std::string find_program(const char *program)
{
    if (is_program(std::string("./") + program))
        return std::string("./") + program;
    char dir[NAME_SIZE] = "";
    if (const char *path = std::getenv("PATH")) {
        search_path_list(path, program, "s", dir);
        if (dir[0]) {
            std::string full = std::string(dir) + "/" + program;
            if (is_program(full))
                return full;
        }
    }
    const std::string own = program_folder();
    if (!own.empty() && is_program(own + "/" + program))
        return own + "/" + program;
    return {};
}

[[noreturn]] void cannot_start()
{
    console_printf(stdout, "%s\n", console_text("指定プラグインが起動できません"));
    fail_run();
}

bool create_new(const std::string &name)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Claims a temporary file for this run alone: the standard name, or one of
// its own when another zfenc is using the standard name.  A converter may
// replace the file it is given, so the standard name is held through an
// exclusive lock on its folder, which nothing replaces; the lock lasts as
// long as the process.  Without the lock no run can tell whether a file at
// the standard name is another run's, so it takes its own name then.
// Returns the name created (empty, empty file), or an empty text.
std::string claim_temporary(const std::string &standard)
{
    const auto slash = standard.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : standard.substr(0, slash + 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0 && ::flock(dir, LOCK_EX | LOCK_NB) == 0) {
        // Whatever is there now was left by a run that was killed: it must
        // never be read as this run's picture.
        ::unlink(standard.c_str());
        if (create_new(standard))
            return standard; // dir stays open: the lock is held to the end
    }
    if (dir >= 0)
        ::close(dir);
    const std::string prefix = standard.substr(0, standard.size() - std::strlen(kTemporary));
    const std::string own = prefix + "ZFENCIMG." + std::to_string(::getpid()) + ".";
    for (int n = 0; n < 100; ++n) {
        const std::string name = own + std::to_string(n) + ".DJP";
        if (name.size() >= NAME_SIZE)
            break;
        if (create_new(name))
            return name;
        if (errno != EEXIST)
            break;
    }
    return {};
}

} // namespace

const char *run_converter(const char *input_name)
{
    const char *dot = std::strrchr(input_name, '.');
    if (!dot)
        return input_name;
    for (auto [ext, n] : kDirect)
        if (starts_with_nocase(dot, ext, n))
            return input_name;
    const Converter *conv = nullptr;
    for (const Converter &c : kConverters)
        if (starts_with_nocase(dot, c.extension, 4)) {
            conv = &c;
            break;
        }
    if (!conv)
        return input_name;

    std::string temp;
    if (const char *tmp = std::getenv("TMP"))
        temp = tmp;
    if (!temp.empty() && temp.back() != ':' && temp.back() != '\\' && temp.back() != '/')
        temp += '/';
    temp += kTemporary;
    if (temp.size() >= NAME_SIZE) {
        console_printf(stdout, "%s\n", console_text("ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ名が長すぎます"));
        fail_run();
    }

    const std::string program = find_program(conv->program);
    if (program.empty())
        cannot_start();
    // Only a file this run created is its to read and to remove.
    const std::string claimed = claim_temporary(temp);
    if (claimed.empty()) {
        console_printf(stdout, "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ %s が作成できません\n", temp.c_str());
        fail_run();
    }
    name_copy(settings.temporary_name, claimed.c_str());
    if (!temporary_guard.guard(settings.temporary_name)) {
        ::unlink(settings.temporary_name);
        console_printf(stdout, "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ %s が作成できません\n", temp.c_str());
        fail_run();
    }
    const std::string arg0 = settings.call_form == CallForm::Compatible ? std::string() : program;
    if (run_program(program, {arg0, "DJ505JC", input_name, settings.temporary_name}) != 0)
        cannot_start();
    return settings.temporary_name;
}
