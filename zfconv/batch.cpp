#include "batch.h"

#include "files.h"
#include "progress_line.h"
#include "readers.h"

#include "names.h"
#include "removal_guard.h"
#include "visible_text.h"
#include "zefa.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <unistd.h>

namespace zfconv {
namespace {

namespace fs = std::filesystem;

void tell(const std::string &name, const std::string &message)
{
    std::fprintf(stderr, "zfconv: %s: %s\n", zfcon::visible_utf8(name).c_str(), zfcon::visible_utf8(message).c_str());
}

// What a failure leaves when the output holds what could be read.
std::string damage_message(const std::string &damage, const std::string &output, Target to)
{
    return damage + "; " + shown_output(output) +
           (to == Target::png ? " holds every line before it, the rest transparent" : " holds what could be read");
}

struct Result {
    bool ok = false;
    std::string message;            // why it failed
    std::vector<std::string> notes; // worth telling
    std::vector<std::string> dropped; // what the output lacks
};

// Tells what a conversion dropped (even when quiet: a loss is never
// silent) and, unless quiet, the notes worth telling.
void tell_result(const std::string &name, const Result &r, bool quiet)
{
    for (const std::string &phrase : r.dropped)
        tell(name, "dropped: " + phrase);
    for (const std::string &note : r.notes)
        if (!quiet)
            tell(name, note);
}

// Reads, converts and writes one file.
Result convert_file(const std::string &input, const std::string &output, Target to, const Options &options)
{
    Result r;
    try {
        Bytes data;
        Outcome out;
        if (!read_input(input, data, r.message) ||
            !convert(data, input == "-" ? std::string() : input, to, options, out, r.message))
            return r;
        data = Bytes{};
        if (!write_output(output, out.output, r.message))
            return r;
        r.notes = std::move(out.notes);
        r.dropped = std::move(out.dropped);
        if (!out.damage.empty()) {
            r.message = damage_message(out.damage, output, to);
            return r;
        }
        r.ok = true;
    } catch (const std::bad_alloc &) {
        r.message = "out of memory";
    } catch (const std::exception &e) {
        r.message = e.what();
    }
    return r;
}

// -d: a job per input.
struct Job {
    std::string input, output; // output empty: refused before converting
    Target to = Target::png;
    Result result;
};

// Where an input's output goes in the folder, and its format: --to, else
// PNG for a ZEFA file and ZEFA for anything else.
bool place(const Command &cmd, Job &job)
{
    // enough for the magic, also behind the foreign prefix; a folder or a
    // missing file is told here, before it could take a name
    Bytes start;
    if (!read_start(job.input, ZF_SNIFF_SIZE, start, job.result.message))
        return false;
    job.to = cmd.has_to ? cmd.to : sniff(start.data(), start.size()) == Format::zefa ? Target::png : Target::zefa;
    const std::string stem = fs::path(job.input).stem().string();
    job.output = (fs::path(cmd.folder) / (stem + (job.to == Target::png ? ".png" : ".ZF"))).string();
    return true;
}

unsigned online_processors()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1;
}

// Runs the jobs that have an output on `threads` threads; draws the
// progress meanwhile.
void run_jobs(std::vector<Job> &jobs, const Options &options, unsigned threads, ProgressLine &progress)
{
    std::vector<Job *> pending;
    for (Job &j : jobs)
        if (!j.output.empty())
            pending.push_back(&j);
    // The largest files first, so that the last ones to start are short
    // and the workers finish close together.
    std::vector<std::pair<std::uintmax_t, Job *>> by_size;
    for (Job *j : pending) {
        std::error_code ec;
        const std::uintmax_t size = j->input == "-" ? 0 : fs::file_size(j->input, ec);
        by_size.emplace_back(ec ? 0 : size, j);
    }
    std::stable_sort(by_size.begin(), by_size.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    for (std::size_t i = 0; i < pending.size(); ++i)
        pending[i] = by_size[i].second;
    std::size_t done = jobs.size() - pending.size();
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::condition_variable finished;
    threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(pending.size())));
    // each worker writes one output at a time, and each output is guarded
    threads = std::min(threads, kGuardSlots);
    // Several files at once keep the cores busy: a second thread per file
    // would only make them share the cores more finely, with more memory held.
    Options each = options;
    each.second_thread = threads == 1;
    const auto work = [&] {
        for (std::size_t i; (i = next++) < pending.size();) {
            Job &j = *pending[i];
            j.result = convert_file(j.input, j.output, j.to, each); // each worker its own job
            std::lock_guard<std::mutex> hold(lock);
            ++done;
            finished.notify_one();
        }
    };
    progress.update(done);
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(work);
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        progress.update(done);
        if (done == jobs.size())
            break;
        finished.wait_for(hold, std::chrono::milliseconds(100));
    }
    hold.unlock();
    for (std::thread &t : pool)
        t.join();
}

} // namespace

int convert_single(const Command &cmd)
{
    Target to;
    std::string error;
    single_target(cmd, to, error); // checked with the command line
    const std::string &in = cmd.inputs[0];
    if (in != "-" && cmd.output != "-" && same_file(in.c_str(), cmd.output.c_str())) {
        tell(in, "the output " + cmd.output + " is the input file");
        return 1;
    }
    const Result r = convert_file(in, cmd.output, to, cmd.options);
    tell_result(shown_input(in), r, cmd.quiet);
    if (!r.ok) {
        tell(shown_input(in), r.message);
        return 1;
    }
    return 0;
}

int convert_batch(const Command &cmd)
{
    std::vector<Job> jobs(cmd.inputs.size());
    std::map<std::string, std::size_t> outputs;
    bool clash = false;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].input = cmd.inputs[i];
        if (!place(cmd, jobs[i]))
            continue;
        const auto [at, fresh] = outputs.emplace(jobs[i].output, i);
        if (!fresh) {
            std::fprintf(stderr, "%s", zfcon::visible_utf8("zfconv: " + jobs[at->second].input + " and " + jobs[i].input +
                                                            " would both be written as " + jobs[i].output + "\n")
                                           .c_str());
            clash = true;
        }
    }
    if (clash) {
        std::fputs("zfconv: nothing was written\n", stderr);
        return 2;
    }
    std::error_code ec;
    fs::create_directories(cmd.folder, ec);
    if (ec || !fs::is_directory(cmd.folder)) {
        tell(cmd.folder, ec ? "cannot make the folder: " + ec.message() : "not a folder");
        return 1;
    }
    // An output that is an input (its own, or another's) is never written.
    FileSet inputs;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        inputs.add(jobs[i].input, static_cast<int>(i));
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Job &j = jobs[i];
        const int other = j.output.empty() ? -1 : inputs.find(j.output);
        if (other >= 0) {
            j.result.message = "the output " + j.output + " is the input file" +
                               (static_cast<std::size_t>(other) == i ? "" : " " + jobs[other].input);
            j.output.clear();
        }
    }

    const auto start = std::chrono::steady_clock::now();
    ProgressLine progress(jobs.size(), !cmd.quiet && isatty(STDERR_FILENO));
    run_jobs(jobs, cmd.options, cmd.jobs > 0 ? static_cast<unsigned>(cmd.jobs) : online_processors(), progress);
    progress.clear();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::size_t failed = 0, lossy = 0;
    for (const Job &j : jobs) {
        failed += j.result.ok ? 0 : 1;
        lossy += j.result.ok && !j.result.dropped.empty() ? 1 : 0;
        tell_result(j.input, j.result, cmd.quiet);
    }
    if (!cmd.quiet) {
        const std::string dropped =
            lossy == 0 ? "" : "; " + std::to_string(lossy) + " of them with something dropped (told above)";
        if (failed == 0)
            std::fprintf(stderr, "zfconv: %zu file%s converted in %.1f s%s\n", jobs.size(), jobs.size() == 1 ? "" : "s",
                         seconds, dropped.c_str());
        else
            std::fprintf(stderr, "zfconv: %zu of %zu files converted in %.1f s%s; %zu failed:\n", jobs.size() - failed,
                         jobs.size(), seconds, dropped.c_str(), failed);
    }
    for (const Job &j : jobs)
        if (!j.result.ok)
            tell(j.input, j.result.message);
    return failed == 0 ? 0 : 1;
}

} // namespace zfconv
