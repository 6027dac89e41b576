// A result file is complete or absent: it is written under a temporary name beside its final name
// and renamed over it only once complete and closed. A reader of the output folder, or a user after
// a failed or killed run, never finds a truncated file under a result name.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace korvane {

// Removes an earlier file under a result name before it is written anew, so that a write that
// fails leaves no earlier run's file looking like this run's. A symbolic link is removed, not
// followed. Returns "" when done or when there is nothing to remove (also for a path under a
// missing folder or under a file, or a name longer than its folder allows), else why not: something
// that is no file (a folder, a device) is left alone.
std::string remove_earlier_result(const std::string& path);

// Makes way for a result about to be written at path. Outside a Result_Set it removes the earlier
// file as remove_earlier_result does. Inside one the earlier file stays until the set gives the new
// one its name, so that a run stopped before then leaves it whole; only a name that can hold no
// result (a folder, a device) is refused, with the same texts.
std::string make_way_for_result(const std::string& path);

// One result file being written. The temporary is ".korvane.<host>.<process id>.<n>.tmp" in the
// final file's folder: hidden, never matching a result name's extension, short enough that it and
// SQLite's "-journal" beside it fit wherever the result name fits, in one file system with the
// final name for the rename, and never shared by two writers, also over a shared file system.
//
// The writer holds a lock on its temporary while it lives. Constructed, it removes the temporaries
// in its folder that no writer holds (a process killed outright cannot remove its own); those of
// a live writer, this run's or another's, are left alone. Destroyed before commit (an error
// unwinding, a writer giving up), it removes the temporary and the SQLite journal beside it. While
// it lives, a SIGTERM, SIGINT, SIGHUP or SIGPIPE to the process removes them too before the signal
// takes its course: under mpiexec another process's error ends this one that way, a lost ssh
// session ends a run with SIGHUP and a closed output pipe with SIGPIPE. Signals that the process
// ignores stay ignored.
class ResultFile {
public:
    explicit ResultFile(std::string final_path);
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    const std::string& temporary_path() const { return temporary_; }
    const std::string& final_path() const { return final_; }

    // Renames the closed temporary over the final name; on failure the temporary is removed and
    // the error returned. While a Result_Set is open on this thread, the file is handed to the set
    // instead, still under its temporary name, to take its name with the set's other files.
    std::error_code commit();

private:
    friend class Result_Set;
    ResultFile(ResultFile&& other) noexcept;
    void discard() noexcept;
    void release() noexcept;

    std::string final_, name_, temporary_, journal_;
    int slot_ = -1;  // in the signal handler's list, or -1 when not listed
    int lock_ = -1;  // the descriptor holding the temporary's lock, or -1 when it has none
    bool done_ = false;
};

// The result files of one sample (or of one run's alignment) take their names together. While a
// set is open, every ResultFile committed on this thread waits in it under its temporary name, so
// that a stop or a failure part way through a sample leaves none of the sample's new files beside
// the earlier run's. The set's commit renames them in the order they were committed, holding back
// the stop signals (SIGTERM, SIGINT, SIGHUP, SIGPIPE) until the last is renamed; a set destroyed
// uncommitted removes them. Sets opened inside one another keep their files apart.
class Result_Set {
public:
    Result_Set();
    ~Result_Set();
    Result_Set(const Result_Set&) = delete;
    Result_Set& operator=(const Result_Set&) = delete;

    // Gives every waiting file its name. A rename that fails ends the commit: that file and those
    // after it are removed and the error returned.
    std::error_code commit();

private:
    friend class ResultFile;
    std::vector<std::unique_ptr<ResultFile>> held_;
    Result_Set* outer_;
};

// Whether the folder takes a name and the same name in other letter case for one file (a macOS
// disk, an SMB share, a FAT stick), found out by creating a temporary there and looking it up
// under its name with every letter's case swapped. False when nothing can be created there.
bool folder_folds_case(const std::string& folder);

// For tests: called after each rename of a set's commit with the number renamed so far, while the
// stop signals are held back. nullptr (the default) calls nothing.
void set_result_set_rename_hook(void (*hook)(std::size_t renamed));

// Writes text as the whole of the file at path through a ResultFile: the earlier file stays as it
// was unless the new one is complete. A failure throws korvane::Error "could not write <path>",
// with the reason where one is known.
void replace_whole_file(const std::string& path, const std::string& text);

}  // namespace korvane
