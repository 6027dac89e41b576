#include "engine/records/result_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "engine/records/error.h"

namespace {

// The temporaries alive in this process, in a form a signal handler may read: fixed slots with
// fixed room, each published by its state only once its paths are in place. A temporary that finds
// no slot is still removed on an error, only not on a signal.
constexpr int kSlots = 16;
constexpr std::size_t kRoom = 4096;
enum : int { kFree, kFilling, kLive };

struct Slot {
    std::atomic<int> state{kFree};
    char temporary[kRoom];
    char journal[kRoom];
};
Slot g_slots[kSlots];

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};
struct sigaction g_previous[std::size(kSignals)];

// What the stop signals meet: the number of sets of result files taking their names
// (Result_Set::commit), or kStopping once a signal is removing the temporaries. A set must not
// lose the temporaries it has yet to rename, so a signal that arrives then, on whichever thread,
// is only noted, and raised again by the last committing thread once its last name is given. A
// signal being acted on makes a commit give up instead, as the temporaries are going.
constexpr int kStopping = -1;
std::atomic<int> g_committing{0};
std::atomic<int> g_deferred_signal{0};

// Only async-signal-safe calls: unlink, sigaction, raise.
extern "C" void remove_live_temporaries(int signal_number) {
    for (int expected = 0; !g_committing.compare_exchange_strong(expected, kStopping); expected = 0) {
        // Already stopping: the thread acting on the first signal ends the process.
        if (expected == kStopping) return;
        g_deferred_signal.store(signal_number);
        if (g_committing.load() > 0) return;
        // The commits ended meanwhile. Whoever takes the note back acts on it: the last committer
        // raises it again, or this handler does if it is first.
        if (g_deferred_signal.exchange(0) == 0) return;
    }
    for (Slot& s : g_slots) {
        if (s.state.load() != kLive) continue;
        unlink(s.temporary);
        unlink(s.journal);
    }
    // The signal then takes the course it had before: by default it ends the process, which its
    // parent sees as ended by this signal. It is blocked until this handler returns.
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (kSignals[i] == signal_number) sigaction(signal_number, &g_previous[i], nullptr);
    raise(signal_number);
    // Still here: the process had its own handler for the signal and goes on.
    g_committing.store(0);
}

void install_handler_once() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], nullptr, &g_previous[i]);
            if (g_previous[i].sa_handler == SIG_IGN) continue;  // started under nohup or the like
            struct sigaction ours {};
            ours.sa_handler = remove_live_temporaries;
            sigemptyset(&ours.sa_mask);
            for (int s : kSignals) sigaddset(&ours.sa_mask, s);
            sigaction(kSignals[i], &ours, nullptr);
        }
    });
}

int list_temporary(const std::string& temporary, const std::string& journal) {
    if (journal.size() >= kRoom) return -1;
    install_handler_once();
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_slots[i].temporary, temporary.c_str(), temporary.size() + 1);
        std::memcpy(g_slots[i].journal, journal.c_str(), journal.size() + 1);
        g_slots[i].state.store(kLive);
        return i;
    }
    return -1;
}

void unlist_temporary(int slot) {
    if (slot >= 0) g_slots[slot].state.store(kFree);
}

// A temporary's name is short whatever its result's name, so that it, and the "-journal" SQLite
// puts beside it, fits wherever the result name fits: ".korvane.<host>.<pid>.<n>.tmp". Host and
// process id keep apart the writers sharing a folder, also over a shared file system.
constexpr std::string_view kPrefix = ".korvane.";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::string_view kJournal = "-journal";

// The host name with every character but ASCII letters, digits, "-" and "_" made "-", so that it
// holds no "." (which the parse below splits at) and no "/".
const std::string& host_part() {
    static const std::string host = [] {
        char name[256] = {};
        std::string h = gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' ? name : "host";
        h.resize(std::min<std::size_t>(h.size(), 64));
        for (char& c : h)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) c = '-';
        return h;
    }();
    return host;
}

// "<host>.<pid>": asked anew each time, since a forked child is another writer.
std::string writer_id() { return host_part() + '.' + std::to_string(getpid()); }

bool all_digits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// A temporary's name as create_locked_temporary makes it, or its journal's: the temporary's own
// name and its writer's id.
struct Temporary_Name {
    std::string base, writer;
};
std::optional<Temporary_Name> parse_temporary(std::string_view name) {
    std::string_view base = name;
    if (base.ends_with(kJournal)) base.remove_suffix(kJournal.size());
    if (!base.starts_with(kPrefix) || !base.ends_with(kSuffix)) return std::nullopt;
    // <host>.<pid>.<n>
    const std::string_view rest = base.substr(kPrefix.size(), base.size() - kPrefix.size() - kSuffix.size());
    const std::size_t pid = rest.find('.');
    if (pid == 0 || pid == rest.npos) return std::nullopt;
    const std::size_t n = rest.find('.', pid + 1);
    if (n == rest.npos || !all_digits(rest.substr(pid + 1, n - pid - 1)) || !all_digits(rest.substr(n + 1)))
        return std::nullopt;
    return Temporary_Name{std::string(base), std::string(rest.substr(0, n))};
}

// This process's temporaries, from just before each is created until it is renamed or removed.
std::mutex g_live_mutex;
std::set<std::string> g_live;

void set_live(const std::string& name, bool live) {
    const std::lock_guard<std::mutex> hold(g_live_mutex);
    if (live)
        g_live.insert(name);
    else
        g_live.erase(name);
}

bool is_live(const std::string& name) {
    const std::lock_guard<std::mutex> hold(g_live_mutex);
    return g_live.count(name) != 0;
}

// The writer of a temporary holds its first byte locked from creation to rename or removal. The
// lock belongs to the open file description, not to the process: SQLite's own POSIX locks on the
// same file, from 1 GiB up, neither meet it nor are dropped with it, and closing SQLite's
// descriptor leaves it held.
bool lock_first_byte(int fd, short type, bool wait) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    int r = 0;
    while ((r = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range)) != 0 && errno == EINTR) {}
    return r == 0;
}

// Removes the temporary at path, and its journal, when no writer holds its lock: its writer was
// killed outright (the launcher's SIGKILL after an unanswered SIGTERM) and could not. The lock is
// held across the removal, so that a writer which has just created the file and is about to lock
// it finds the name gone and makes another. A journal without its temporary is always left over.
void remove_if_abandoned(const std::string& path) {
    const std::string journal = path + std::string(kJournal);
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) unlink(journal.c_str());
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lock_first_byte(fd, F_RDLCK, false)) {
        unlink(path.c_str());
        unlink(journal.c_str());
    }
    close(fd);
}

// Every abandoned temporary of the folder goes, whatever result it was for. This process's own
// are told by its list instead: opening and closing one of them would drop the POSIX locks
// SQLite holds on it.
void remove_stale_temporaries(const std::filesystem::path& folder) {
    const std::string me = writer_id();
    std::error_code ec;
    // A folder that cannot be listed just keeps what it holds; the write itself will say why.
    for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::optional<Temporary_Name> t = parse_temporary(it->path().filename().string());
        if (!t || (t->writer == me && is_live(t->base))) continue;
        remove_if_abandoned((folder / t->base).string());
    }
}

bool names_file(const std::string& path, int fd) {
    struct stat named {}, opened {};
    return stat(path.c_str(), &named) == 0 && fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
}

// A temporary of this process is listed, as live and for the signal handler, from just before it
// is created until it is renamed or removed.
struct Listed_Temporary {
    std::string name, path;
    int slot = -1;
};

Listed_Temporary enlist(const std::filesystem::path& folder, std::string name) {
    set_live(name, true);
    std::string path = (folder / name).string();
    const int slot = list_temporary(path, path + std::string(kJournal));
    return {std::move(name), std::move(path), slot};
}

void delist(const std::string& name, int slot) {
    unlist_temporary(slot);
    set_live(name, false);
}

// Creates and locks the next temporary of this process in folder. A name taken already (by an
// earlier process with this id) or removed by another writer's clean-up before the lock was taken
// is passed over. The descriptor is -1 when no file could be made: the writer's own open then
// says why.
std::pair<Listed_Temporary, int> create_locked_temporary(const std::filesystem::path& folder) {
    static std::atomic<unsigned long> counter{0};
    for (int attempt = 0;; ++attempt) {
        const std::string n = std::to_string(counter.fetch_add(1));
        const Listed_Temporary t = enlist(folder, std::string(kPrefix) + writer_id() + '.' + n + std::string(kSuffix));
        const int fd = open(t.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const bool last = attempt == 100;
        if (fd < 0 && (errno != EEXIST || last)) return {t, -1};
        // On a file system without such locks it is written unprotected, as no writer there can
        // take one to remove it either.
        if (fd >= 0 && (last || !lock_first_byte(fd, F_WRLCK, true) || names_file(t.path, fd))) return {t, fd};
        if (fd >= 0) close(fd);
        delist(t.name, t.slot);
    }
}

}  // namespace

namespace korvane {

namespace {

// The set that committed files on this thread wait in, if any.
thread_local korvane::Result_Set* t_open_set = nullptr;
std::atomic<void (*)(std::size_t)> g_rename_hook{nullptr};

// Why nothing can be written under path ("" when something can): a name that holds a folder or
// another file than a regular one or a symbolic link. Whether anything is there at all.
std::string unusable_result_name(const std::string& path, bool& present) {
    struct stat st {};
    present = false;
    // A name too long for its folder cannot be there either.
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? "" : std::strerror(errno);
    present = true;
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return "it is not a regular file";
    return {};
}

// Holds the stop signals back while a set's files take their names (see remove_live_temporaries).
class Committing {
public:
    Committing() {
        int count = g_committing.load();
        while (count != kStopping && !g_committing.compare_exchange_weak(count, count + 1)) {}
        began_ = count != kStopping;
    }
    ~Committing() {
        if (!began_ || g_committing.fetch_sub(1) != 1) return;
        if (const int signal_number = g_deferred_signal.exchange(0); signal_number != 0) raise(signal_number);
    }
    Committing(const Committing&) = delete;
    Committing& operator=(const Committing&) = delete;
    // False when a stop signal is already removing the temporaries.
    explicit operator bool() const { return began_; }

private:
    bool began_ = false;
};

}  // namespace

std::string remove_earlier_result(const std::string& path) {
    bool present = false;
    if (std::string why = unusable_result_name(path, present); !why.empty() || !present) return why;
    // Another run writing into the folder may have removed it first, which is what was wanted.
    return unlink(path.c_str()) == 0 || errno == ENOENT ? "" : std::strerror(errno);
}

std::string make_way_for_result(const std::string& path) {
    if (!t_open_set) return remove_earlier_result(path);
    bool present = false;
    return unusable_result_name(path, present);
}

Result_Set::Result_Set() : outer_(t_open_set) { t_open_set = this; }

Result_Set::~Result_Set() {
    t_open_set = outer_;
    held_.clear();  // each one uncommitted removes its temporary
}

std::error_code Result_Set::commit() {
    // Files committed from here on are no longer this set's.
    t_open_set = outer_;
    std::vector<std::unique_ptr<ResultFile>> files = std::move(held_);
    held_.clear();
    const Committing committing;
    if (!committing) return std::make_error_code(std::errc::interrupted);
    std::error_code failed;
    std::size_t renamed = 0;
    for (const std::unique_ptr<ResultFile>& file : files) {
        if (!failed && std::rename(file->temporary_.c_str(), file->final_.c_str()) != 0)
            failed.assign(errno, std::generic_category());
        if (failed) {
            file->discard();
            continue;
        }
        file->release();
        if (void (*hook)(std::size_t) = g_rename_hook.load()) hook(++renamed);
    }
    return failed;
}

void set_result_set_rename_hook(void (*hook)(std::size_t renamed)) { g_rename_hook.store(hook); }

bool folder_folds_case(const std::string& folder) {
    // A temporary of this process's own, locked, so that no other run's clean-up takes it away
    // while it is looked up; its name holds letters (".korvane.", ".tmp") and is nobody else's.
    auto [listed, fd] = create_locked_temporary(folder.empty() ? "." : folder);
    bool folds = false;
    if (fd >= 0) {
        std::string swapped = std::filesystem::path(listed.path).filename().string();
        for (char& c : swapped) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        struct stat st {};
        folds = lstat((std::filesystem::path(listed.path).parent_path() / swapped).c_str(), &st) == 0;
        unlink(listed.path.c_str());
        close(fd);
    }
    delist(listed.name, listed.slot);
    return folds;
}

ResultFile::ResultFile(ResultFile&& other) noexcept
    : final_(std::move(other.final_)),
      name_(std::move(other.name_)),
      temporary_(std::move(other.temporary_)),
      journal_(std::move(other.journal_)),
      slot_(std::exchange(other.slot_, -1)),
      lock_(std::exchange(other.lock_, -1)),
      done_(std::exchange(other.done_, true)) {}

ResultFile::ResultFile(std::string final_path) : final_(std::move(final_path)) {
    const std::filesystem::path folder = std::filesystem::path(final_).parent_path();
    remove_stale_temporaries(folder);
    auto [listed, fd] = create_locked_temporary(folder);
    name_ = std::move(listed.name);
    temporary_ = std::move(listed.path);
    journal_ = temporary_ + std::string(kJournal);
    slot_ = listed.slot;
    lock_ = fd;
}

ResultFile::~ResultFile() {
    if (!done_) discard();
}

std::error_code ResultFile::commit() {
    if (t_open_set) {
        t_open_set->held_.push_back(std::unique_ptr<ResultFile>(new ResultFile(std::move(*this))));
        return {};
    }
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
        const std::error_code ec(errno, std::generic_category());
        discard();
        return ec;
    }
    release();
    return {};
}

void ResultFile::discard() noexcept {
    unlink(temporary_.c_str());
    unlink(journal_.c_str());
    release();
}

void ResultFile::release() noexcept {
    // Only now: until the name is gone, the lock keeps other writers' clean-ups away from it.
    if (lock_ >= 0) close(lock_);
    lock_ = -1;
    delist(name_, slot_);
    done_ = true;
}

void replace_whole_file(const std::string& path, const std::string& text) {
    ResultFile file(path);
    errno = 0;
    std::ofstream out(file.temporary_path(), std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        const int reason = errno;
        throw Error("could not write " + path + (reason != 0 ? std::string(": ") + std::strerror(reason) : ""));
    }
    if (const std::error_code ec = file.commit()) throw Error("could not write " + path + ": " + ec.message());
}

}  // namespace korvane
