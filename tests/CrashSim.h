#pragma once

#include <cstdint>

// Crashes a process on purpose, through the POSIX calls the program writes files with
// (base/PosixIo.h). Each write, fsync and fdatasync is counted; the N-th ends the process:
//   Kill      the process dies there; what it wrote before stays (the kernel still has it), a
//             write in progress may be cut short;
//   PowerCut  the machine loses power there: of what was written to each file since that
//             file's last fsync, each write is kept, lost or torn at a sector boundary (chosen
//             by a seeded generator), as a disk that reorders its cache may leave it.
// Renames and other folder changes are not undone. Only for a child process: it never returns
// from the crash (exit status kCrashExit).
namespace CrashSim {

enum class Mode { Kill, PowerCut };

constexpr int kCrashExit = 77;

// Starts counting; `crashAt` 0 never crashes.
void Install(Mode mode, int crashAt, uint32_t seed);
// The calls counted so far.
int Count();

}  // namespace CrashSim
