// SPDX-License-Identifier: GPL-3.0-or-later
// What every test of the engine needs: a user-interface thread to pump and
// folders of its own for the engine's files.
#pragma once

#include "EngineTypes.h"
#include "FileUtil.h"

#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vandrelle::test {

// The user-interface thread of the test: tasks posted from the engine's
// threads run here when the test pumps. Shared, because a worker may still
// post after the test is done with it.
class TaskQueue : public std::enable_shared_from_this<TaskQueue> {
public:
    UiPost Poster() {
        // Weak: a connection holds its poster, and the queue holds the
        // connection's tasks; a strong hold would keep both alive forever.
        return [weak = weak_from_this()](std::function<void()> task) {
            const auto self = weak.lock();
            if (!self) return;  // the test is over; nobody will run it
            std::lock_guard lock(self->m_mutex);
            self->m_tasks.push_back(std::move(task));
            self->m_ready.notify_all();
        };
    }

    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            std::unique_lock lock(m_mutex);
            if (!m_ready.wait_until(lock, deadline, [&] { return !m_tasks.empty(); })) {
                return done();
            }
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }

    // Waits, running nothing, until a task is queued.
    bool WaitForTask(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_ready.wait_for(lock, timeout, [&] { return !m_tasks.empty(); });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_tasks;
};

// The engine keeps known certificates under the user's folders: the tests get
// folders of their own. Set once, before any engine thread exists: changing
// the environment while other threads read it is undefined (and crashed).
inline const std::string& UseTestHome() {
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string& home = *new std::string([] {
        std::string path = (std::filesystem::temp_directory_path() /
                            ("vandrelle-e2e-home-" + std::to_string(::getpid())))
                               .string();
        MakeFolders(path + "/xdg");
        MakeFolders(path + "/runtime");
        ::chmod((path + "/runtime").c_str(), 0700);
        ::setenv("HOME", path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path + "/xdg").c_str(), 1);
        // Sound and toolkit libraries keep their sockets there, not in folders of /tmp of their
        // own.
        ::setenv("XDG_RUNTIME_DIR", (path + "/runtime").c_str(), 1);
        ::setenv("VANDRELLE_TEST_ADDIN_MARK", (path + "/addin-loaded").c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(UseTestHome(), ec);
        });
        return path;
    }());
    return home;
}

}  // namespace vandrelle::test
