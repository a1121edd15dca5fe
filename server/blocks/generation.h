// What the kept blocks and answers were drawn from: the style and data
// files as the server started, and the street database's import, asked
// once a second on a thread of its own, so that a re-import shows at once
// without a restart and no request waits on the database for it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace blocks {

// A short hex name for the contents of files and for the names, sizes and
// times of the files of folders (a data set that changed on disk).
std::string Fingerprint(const std::vector<std::string>& files, const std::vector<std::string>& folders);

class Generation {
public:
    // poll names the current import (it may throw: the last name stays);
    // without it the generation is fixed.
    Generation(std::string fixed, std::function<std::string()> poll = {});
    ~Generation();
    Generation(const Generation&) = delete;
    Generation& operator=(const Generation&) = delete;

    // A name fit for a folder.
    std::string Current() const;

private:
    void Poll();

    const std::string fixed_;
    std::function<std::string()> poll_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string polled_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace blocks
