// Files removed when a run fails or a signal ends it.
#include "removal_guard.h"

#include "zf_console.h"

#include <atomic>
#include <cstring>
#include <unistd.h>

namespace {

removal_guard *volatile first_guard = nullptr;

// Copies a name into a field, or leaves the field empty when it does not fit.
void keep(char *field, std::size_t size, const char *name)
{
    if (name && std::strlen(name) < size)
        std::memcpy(field, name, std::strlen(name) + 1);
    else
        field[0] = '\0';
}

} // namespace

void removal_guard::guard(const char *file, const char *folder)
{
    // Disarmed while the names change: a signal meanwhile removes nothing
    // rather than half a name.
    armed_ = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    keep(file_, sizeof file_, file);
    keep(folder_, sizeof folder_, folder);
    if (!listed_) {
        listed_ = true;
        next_ = first_guard;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        first_guard = this;
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    armed_ = 1;
    console_on_signal(on_signal);
}

void removal_guard::release()
{
    armed_ = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    file_[0] = folder_[0] = '\0';
}

void removal_guard::remove_now()
{
    remove_files();
    release();
}

void removal_guard::remove_files() const
{
    if (!armed_)
        return;
    if (file_[0])
        ::unlink(file_);
    if (folder_[0])
        ::rmdir(folder_);
}

void removal_guard::on_signal(int)
{
    for (const removal_guard *g = first_guard; g; g = g->next_)
        g->remove_files();
}
