#include "ScopedPostgres.h"

namespace {

constexpr int kNotInstalled = 77;

std::string Folder(const TempDir& dir) {
    std::string folder = dir.path();
    if (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

}  // namespace

ScopedPostgres::ScopedPostgres() {
    const ProcessResult started = RunProgram({PG_TEMP_SCRIPT, "start", Folder(m_dir)});
    if (started.exitCode != 0) {
        m_strWhy = started.exitCode == kNotInstalled
                       ? "没有安装PostgreSQL服务器,跳过: " + started.err
                       : "PostgreSQL服务器无法启动: " + started.err;
        return;
    }
    m_strConninfo = started.out;
    while (!m_strConninfo.empty() && m_strConninfo.back() == '\n') {
        m_strConninfo.pop_back();
    }
    m_bCreated = true;
    m_bRunning = true;
}

ScopedPostgres::~ScopedPostgres() {
    if (m_bRunning) {
        Stop();
    }
}

bool ScopedPostgres::Stop() {
    m_bRunning = false;
    return RunProgram({PG_TEMP_SCRIPT, "stop", Folder(m_dir)}).exitCode == 0;
}

bool ScopedPostgres::Start() {
    if (!m_bCreated) {
        return false;
    }
    m_bRunning = RunProgram({PG_TEMP_SCRIPT, "restart", Folder(m_dir)}).exitCode == 0;
    return m_bRunning;
}
