#include "app/PortError.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <vector>

#include "base/PosixIo.h"

namespace {

std::vector<char> EntryBuffer(int which) {
    const long size = ::sysconf(which);
    return std::vector<char>(size > 0 ? static_cast<size_t>(size) : 16384);
}

// The name the user logged in with (the effective user, who opens the port); the number
// when the password database has no entry.
std::string LoginName() {
    std::vector<char> buffer = EntryBuffer(_SC_GETPW_R_SIZE_MAX);
    passwd entry{};
    passwd* found = nullptr;
    const uid_t uid = ::geteuid();
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// The group whose members may use the device node: its own group, unless that is root's
// (membership of which nobody should be given) or cannot be found; then dialout, the group
// of serial ports on Debian.
std::string DeviceGroup(const std::string& device) {
    struct stat st {};
    if (device.empty() || ::stat(device.c_str(), &st) != 0 || st.st_gid == 0) {
        return "dialout";
    }
    std::vector<char> buffer = EntryBuffer(_SC_GETGR_R_SIZE_MAX);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->gr_name != nullptr) {
        return found->gr_name;
    }
    return "dialout";
}

}  // namespace

QString PortErrorText(int err, const std::string& device) {
    const char* text = nullptr;
    switch (err) {
        case ENOENT:  // also a COM<n> entry whose device has gone
        case ENXIO:
        case ENODEV:
            text = "找不到这个设备:读卡器可能没有插上,或者端口号不对。";
            break;
        case EACCES:
        case EPERM:
            // The command ends the text, on a line of its own, to be copied as it stands.
            return QStringLiteral(
                       "没有使用这个设备的权限。"
                       "请让管理员执行下面的命令,"
                       "然后重新登录(注销再登录后生效):\n"
                       "sudo usermod -aG %1 %2")
                .arg(QString::fromStdString(DeviceGroup(device)),
                     QString::fromStdString(LoginName()));
        case EBUSY:
            text = "端口正被另一个程序使用,请关闭那个程序后再试。";
            break;
        case EIO:
            text = "设备读写错误";
            break;
        case ENOTTY:
            text = "这不是一个串行端口";
            break;
        default:
            return QString::fromStdString(ErrnoText(err));  // with its errno
    }
    return QStringLiteral("%1 (errno %2)").arg(QString::fromUtf8(text)).arg(err);
}
