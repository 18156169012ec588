#pragma once

#include <string>

#include "TestUtil.h"

// A throwaway PostgreSQL server for one test (scripts/pg-temp.sh): in a temporary folder, on a
// Unix socket there, run as an unprivileged user, stopped and removed with this object. Where
// no server is installed, `ready()` is false and `why()` says so (the test skips).
class ScopedPostgres {
public:
    ScopedPostgres();
    ~ScopedPostgres();
    ScopedPostgres(const ScopedPostgres&) = delete;
    ScopedPostgres& operator=(const ScopedPostgres&) = delete;

    bool ready() const { return m_bRunning; }
    const std::string& why() const { return m_strWhy; }
    // The libpq connection string of the server's database "postgres".
    const std::string& conninfo() const { return m_strConninfo; }

    // Stops the server (its data stays) and starts it again, for tests of a server away.
    bool Stop();
    bool Start();

private:
    TempDir m_dir;
    std::string m_strConninfo;
    std::string m_strWhy;
    bool m_bRunning = false;
    bool m_bCreated = false;
};
